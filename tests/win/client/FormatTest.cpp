// korvix.exe's output forms and command line, without COM. tests/scripts/run
// runs the program itself against the real tables and checks the meanings
// it prints (their layout, and their words against dmidecode's reading).
#include <gtest/gtest.h>

#include "Format.h"
#include "Options.h"

namespace {

Record Processor() {
    Record r;
    r.index = 12;
    r.attributes = {{L"Type", {ValueKind::UI1, 4}},
                    {L"Length", {ValueKind::UI1, 0x2A}},
                    {L"Handle", {ValueKind::UI2, 0x0400}},
                    {L"Manufacturer", {ValueKind::Text, 0, L"Caf\u00E9 \"Intel\" \\ \u2013"}},
                    {L"ProcessorID", {ValueKind::Bytes, 0, {}, {0xA9, 0x06, 0x03, 0x00}}},
                    {L"ExternalClock", {ValueKind::UI4, 0x80000001u}},
                    {L"Populated", {ValueKind::Bool, 1}},
                    {L"Note", {ValueKind::Text, 0, L"a\nb\t\x01\x7F"}},
                    {L"Empty", {ValueKind::Bytes}},
                    {L"Odd", {ValueKind::Unknown, 0, {}, {}, 5 /* VT_R8 */}}};
    return r;
}

} // namespace

TEST(ClientFormat, TextRecords) {
    EXPECT_EQ(FormatTextRecord(Processor(), Meanings::Leave),
              "Type 4, handle 0x0400 (index 12)\n"
              "    Type = 4 (0x04)\n"
              "    Length = 42 (0x2A)\n"
              "    Handle = 1024 (0x0400)\n"
              "    Manufacturer = \"Caf\\xE9 \\\"Intel\\\" \\\\ \\u2013\"\n"
              "    ProcessorID = [A9 06 03 00]\n"
              "    ExternalClock = 2147483649 (0x80000001)\n"
              "    Populated = 1 (0x01)\n"
              "    Note = \"a\\x0Ab\\x09\\x01\\x7F\"\n"
              "    Empty = []\n"
              "    Odd = <value of VARIANT type 0x0005>\n\n");
    EXPECT_EQ(FormatTextRecord(Record{{}, 0x2A, Record::Outcome::NoDecoder}, Meanings::Leave),
              "Structure with handle 0x002A: type without decoder (RetVal 4)\n\n");
}

// The whole document, byte for byte: valid JSON, plain ASCII.
TEST(ClientFormat, JsonDocument) {
    JsonArrayWriter writer(Meanings::Leave);
    std::string doc = writer.Begin(); // each piece in turn: Add counts the records
    doc += writer.Add(Processor());
    doc += writer.Add(Record{13, {}, Record::Outcome::NoDecoder});
    doc += writer.Add(Record{{}, 0x3E, Record::Outcome::NoAttributes});
    doc += writer.End();
    EXPECT_EQ(doc, "[\n"
                   "  {\"index\": 12, \"type\": 4, \"handle\": 1024, \"decoded\": true, \"attributes\": [\n"
                   "    {\"name\": \"Type\", \"type\": \"ui1\", \"value\": 4},\n"
                   "    {\"name\": \"Length\", \"type\": \"ui1\", \"value\": 42},\n"
                   "    {\"name\": \"Handle\", \"type\": \"ui2\", \"value\": 1024},\n"
                   "    {\"name\": \"Manufacturer\", \"type\": \"string\", \"value\": "
                   "\"Caf\\u00E9 \\\"Intel\\\" \\\\ \\u2013\"},\n"
                   "    {\"name\": \"ProcessorID\", \"type\": \"bytes\", \"value\": [169,6,3,0]},\n"
                   "    {\"name\": \"ExternalClock\", \"type\": \"ui4\", \"value\": 2147483649},\n"
                   "    {\"name\": \"Populated\", \"type\": \"bool\", \"value\": 1},\n"
                   "    {\"name\": \"Note\", \"type\": \"string\", \"value\": \"a\\nb\\t\\u0001\\u007F\"},\n"
                   "    {\"name\": \"Empty\", \"type\": \"bytes\", \"value\": []},\n"
                   "    {\"name\": \"Odd\", \"type\": \"unknown\", \"value\": null}\n"
                   "  ]},\n"
                   "  {\"index\": 13, \"type\": null, \"handle\": null, \"decoded\": false, "
                   "\"reason\": \"type without decoder\", \"attributes\": []},\n"
                   "  {\"type\": null, \"handle\": 62, \"decoded\": false, "
                   "\"reason\": \"decoder refused the structure\", \"attributes\": []}\n"
                   "]\n");
    JsonArrayWriter empty(Meanings::Add);
    EXPECT_EQ(empty.Begin() + empty.End(), "[]\n");
}

TEST(ClientCommandLine, DefaultsAndEveryOption) {
    ParseResult r = ParseCommandLine({});
    ASSERT_EQ(r.error, "");
    EXPECT_FALSE(r.options.json || r.options.raw || !r.options.types.empty() || r.options.handle ||
                 r.options.help || r.options.listStrings || !r.options.keyword.empty());
    EXPECT_EQ(r.options.feature + L"|" + r.options.version + L"|" + r.options.context + L"|" +
                  r.options.progId,
              L"Korvix|1.05|Client|Korvix.SmBiosImpl");

    r = ParseCommandLine({L"dump", L"--json", L"--raw", L"--type", L"0x11", L"--file", L"C:\\t b\\x.bin",
                          L"--feature=F", L"--version", L"2.0", L"--context=Server", L"--progid",
                          L"Korvix.SmBiosImpl.1.05"});
    ASSERT_EQ(r.error, "");
    EXPECT_TRUE(r.options.json && r.options.raw);
    EXPECT_EQ(r.options.file, L"C:\\t b\\x.bin");
    EXPECT_EQ(r.options.feature + L"|" + r.options.version + L"|" + r.options.context + L"|" +
                  r.options.progId,
              L"F|2.0|Server|Korvix.SmBiosImpl.1.05");

    // Types add up over lists, keywords and repeats, ascending and once each;
    // a type named by number stays marked so when a keyword brings it too.
    r = ParseCommandLine({L"--type", L"17,memory", L"-t", L"4", L"--type=processor,0x7"});
    ASSERT_EQ(r.error, "");
    std::vector<std::pair<int, bool>> types;
    for (const TypeChoice& c : r.options.types)
        types.push_back({c.type, c.byNumber});
    EXPECT_EQ(types, (std::vector<std::pair<int, bool>>{
                         {4, true}, {5, false}, {6, false}, {7, true}, {16, false}, {17, true}}));

    EXPECT_EQ(ParseCommandLine({L"-s", L"system-uuid"}).options.keyword, "system-uuid");
    EXPECT_TRUE(ParseCommandLine({L"--list-strings"}).options.listStrings);
    EXPECT_EQ(*ParseCommandLine({L"--handle=65535"}).options.handle, 0xFFFF);
    EXPECT_EQ(*ParseCommandLine({L"--handle", L"0xbeef"}).options.handle, 0xBEEF);
    for (const wchar_t* help : {L"--help", L"-h", L"/?", L"help"})
        EXPECT_TRUE(ParseCommandLine({help}).options.help) << help;
    EXPECT_EQ(ParseNumber(L"4294967295", 0xFFFFFFFFu).value(), 0xFFFFFFFFu);
    EXPECT_FALSE(ParseNumber(L"99999999999999999999", 0xFFFFFFFFu)) << "no wrap-around";
}

// Each invalid command line is refused with a message that names what is
// wrong with it.
TEST(ClientCommandLine, InvalidCommandLinesAreNamed) {
    const std::pair<std::vector<std::wstring>, const char*> rows[] = {
        {{L"--bogus"}, "--bogus"},
        {{L"list"}, "list"},
        {{L"--type"}, "--type"},
        {{L"--file="}, "--file"},
        {{L"--json=yes"}, "--json"},
        {{L"--type", L"256"}, "256"},
        {{L"--type", L"4,-1"}, "-1"},
        {{L"--type", L"17,"}, "''"},
        {{L"--type", L"memroy"}, "memroy"},
        {{L"--handle", L"0x10000"}, "0x10000"},
        {{L"--handle", L"0x"}, "0x"},
        {{L"--handle", L"12z"}, "12z"},
        {{L"--type", L"4", L"--handle", L"4"}, "--handle"},
        {{L"--json", L"--json"}, "--json"},
        {{L"--file", L"a", L"--file=b"}, "--file"},
        {{L"-s", L"bios-vendor", L"--string", L"bios-version"}, "--string"},
        {{L"-s", L"bios-vendr"}, "bios-vendr"},
        {{L"-s", L"bios-vendor", L"--json"}, "--json"},
        {{L"-s", L"bios-vendor", L"--type", L"0"}, "--type"},
    };
    for (const auto& [args, named] : rows) {
        const std::string error = ParseCommandLine(args).error;
        EXPECT_NE(error.find(named), std::string::npos) << error;
    }
}
