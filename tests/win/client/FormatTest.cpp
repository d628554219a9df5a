// korvix.exe's output forms and command line, without COM. tests/scripts/run
// runs the program itself against the real tables.
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
    EXPECT_EQ(FormatTextRecord(Processor()), "Type 4, handle 0x0400 (index 12)\n"
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
    EXPECT_EQ(FormatTextRecord(Record{{}, 0x2A, Record::Outcome::NoDecoder}),
              "Structure with handle 0x002A: type without decoder (RetVal 4)\n\n");
}

// The whole document, byte for byte: valid JSON, plain ASCII.
TEST(ClientFormat, JsonDocument) {
    JsonArrayWriter writer;
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
    JsonArrayWriter empty;
    EXPECT_EQ(empty.Begin() + empty.End(), "[]\n");
}

TEST(ClientCommandLine, DefaultsAndEveryOption) {
    ParseResult r = ParseCommandLine({});
    ASSERT_EQ(r.error, "");
    EXPECT_FALSE(r.options.json || r.options.type || r.options.handle || r.options.help);
    EXPECT_EQ(r.options.feature + L"|" + r.options.version + L"|" + r.options.context + L"|" +
                  r.options.progId,
              L"Korvix|1.05|Client|Korvix.SmBiosImpl");

    r = ParseCommandLine({L"dump", L"--json", L"--type", L"0x11", L"--file", L"C:\\t b\\x.bin",
                          L"--feature=F", L"--version", L"2.0", L"--context=Server", L"--progid",
                          L"Korvix.SmBiosImpl.1.05"});
    ASSERT_EQ(r.error, "");
    EXPECT_TRUE(r.options.json);
    EXPECT_EQ(*r.options.type, 17);
    EXPECT_EQ(r.options.file, L"C:\\t b\\x.bin");
    EXPECT_EQ(r.options.feature + L"|" + r.options.version + L"|" + r.options.context + L"|" +
                  r.options.progId,
              L"F|2.0|Server|Korvix.SmBiosImpl.1.05");

    EXPECT_EQ(*ParseCommandLine({L"--handle=65535"}).options.handle, 0xFFFF);
    EXPECT_EQ(*ParseCommandLine({L"--handle", L"0xbeef"}).options.handle, 0xBEEF);
    for (const wchar_t* help : {L"--help", L"-h", L"/?", L"help"})
        EXPECT_TRUE(ParseCommandLine({help}).options.help) << help;
    EXPECT_EQ(ParseNumber(L"4294967295", 0xFFFFFFFFu).value(), 0xFFFFFFFFu);
    EXPECT_FALSE(ParseNumber(L"99999999999999999999", 0xFFFFFFFFu)) << "no wrap-around";
}

TEST(ClientCommandLine, InvalidCommandLinesAreNamed) {
    const std::pair<std::vector<std::wstring>, const char*> rows[] = {
        {{L"--bogus"}, "unknown option '--bogus'"},
        {{L"list"}, "unknown command 'list'"},
        {{L"--type"}, "option --type needs a value"},
        {{L"--file="}, "option --file needs a non-empty value"},
        {{L"--json=yes"}, "option --json takes no value"},
        {{L"--type", L"256"}, "--type needs a structure type from 0 to 255, not '256'"},
        {{L"--type", L"-1"}, "--type needs a structure type from 0 to 255, not '-1'"},
        {{L"--handle", L"0x10000"},
         "--handle needs a handle from 0 to 65535 (or 0x0000 to 0xFFFF), not '0x10000'"},
        {{L"--handle", L"0x"}, "--handle needs a handle from 0 to 65535 (or 0x0000 to 0xFFFF), not '0x'"},
        {{L"--handle", L"12z"}, "--handle needs a handle from 0 to 65535 (or 0x0000 to 0xFFFF), not '12z'"},
        {{L"--type", L"4", L"--handle", L"4"}, "--type and --handle cannot be combined"},
    };
    for (const auto& [args, expected] : rows)
        EXPECT_EQ(ParseCommandLine(args).error, expected);
}
