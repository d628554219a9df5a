// The client's output forms and command line, without COM: what a person or
// a script reading korvix's output relies on.
#include <gtest/gtest.h>

#include "Format.h"
#include "Json.h"
#include "Options.h"

namespace {

AttributeValue Num(ValueKind kind, uint32_t n) {
    AttributeValue v;
    v.kind = kind;
    v.number = n;
    return v;
}

AttributeValue Text(const std::wstring& s) {
    AttributeValue v;
    v.kind = ValueKind::Text;
    v.text = s;
    return v;
}

AttributeValue Bytes(std::vector<uint8_t> b) {
    AttributeValue v;
    v.kind = ValueKind::Bytes;
    v.bytes = std::move(b);
    return v;
}

Record Processor() {
    Record r;
    r.index = 12;
    r.attributes = {{L"Type", Num(ValueKind::UI1, 4)},
                    {L"Length", Num(ValueKind::UI1, 0x2A)},
                    {L"Handle", Num(ValueKind::UI2, 0x0400)},
                    {L"Manufacturer", Text(L"Caf\u00E9 \"Intel\" \\ \u2013")},
                    {L"ProcessorID", Bytes({0xA9, 0x06, 0x03, 0x00})},
                    {L"ExternalClock", Num(ValueKind::UI4, 100)},
                    {L"Populated", Num(ValueKind::Bool, 1)}};
    return r;
}

} // namespace

TEST(ClientTextFormat, ValuesShowDecimalAndHexStringsQuotedBytesInHex) {
    EXPECT_EQ(FormatTextValue(Num(ValueKind::UI1, 12)), "12 (0x0C)");
    EXPECT_EQ(FormatTextValue(Num(ValueKind::UI2, 4)), "4 (0x0004)");
    EXPECT_EQ(FormatTextValue(Num(ValueKind::UI4, 0x80000001u)), "2147483649 (0x80000001)");
    EXPECT_EQ(FormatTextValue(Num(ValueKind::Bool, 1)), "1 (0x01)") << "the raw flag byte";
    EXPECT_EQ(FormatTextValue(Text(L"Dell Inc.")), "\"Dell Inc.\"");
    EXPECT_EQ(FormatTextValue(Text(L"a\"b\\c\n\u00E9\u2013")), "\"a\\\"b\\\\c\\x0A\\xE9\\u2013\"");
    EXPECT_EQ(FormatTextValue(Text(L"")), "\"\"");
    EXPECT_EQ(FormatTextValue(Bytes({0x01, 0xA2, 0xFF})), "[01 A2 FF]");
    EXPECT_EQ(FormatTextValue(Bytes({})), "[]");
    AttributeValue odd;
    odd.variantType = 5; // VT_R8
    EXPECT_EQ(FormatTextValue(odd), "<value of VARIANT type 0x0005>");
}

TEST(ClientTextFormat, RecordHasHeaderAtColumnZeroAndIndentedAttributes) {
    const std::string text = FormatTextRecord(Processor());
    EXPECT_EQ(text.substr(0, text.find('\n')), "Type 4, handle 0x0400 (index 12)");
    EXPECT_NE(text.find("\n    Handle = 1024 (0x0400)\n"), std::string::npos);
    EXPECT_NE(text.find("\n    ProcessorID = [A9 06 03 00]\n"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 2), "\n\n") << "records are separated by a blank line";
    size_t lines = 0;
    for (char c : text)
        lines += c == '\n';
    EXPECT_EQ(lines, 1 + 7 + 1u);

    Record byType = Processor();
    byType.index.reset();
    const std::string plain = FormatTextRecord(byType);
    EXPECT_EQ(plain.substr(0, plain.find('\n')), "Type 4, handle 0x0400");

    Record undecoded;
    undecoded.outcome = Record::Outcome::NoDecoder;
    undecoded.index = 7;
    EXPECT_EQ(FormatTextRecord(undecoded), "Structure at index 7: type without decoder (RetVal 4)\n\n");
    undecoded.index.reset();
    undecoded.lookedUpHandle = 0x2A;
    EXPECT_EQ(FormatTextRecord(undecoded),
              "Structure with handle 0x002A: type without decoder (RetVal 4)\n\n");
    undecoded.outcome = Record::Outcome::NoAttributes;
    EXPECT_EQ(
        FormatTextRecord(undecoded),
        "Structure with handle 0x002A: the decoder refused the structure (RetVal 0, no attributes)\n\n");
}

TEST(ClientJsonFormat, RecordsParseBackWithTypesValuesAndEscapes) {
    JsonArrayWriter writer;
    Record undecoded;
    undecoded.outcome = Record::Outcome::NoDecoder;
    undecoded.index = 13;
    Record refused;
    refused.outcome = Record::Outcome::NoAttributes;
    refused.lookedUpHandle = 0x3E;
    std::string doc = writer.Begin();
    doc += writer.Add(Processor());
    doc += writer.Add(undecoded);
    doc += writer.Add(refused);
    doc += writer.End();
    for (unsigned char c : doc)
        ASSERT_LT(c, 0x80) << "the document is plain ASCII";
    EXPECT_NE(doc.find("Caf\\u00E9"), std::string::npos);

    JsonValue root;
    std::string error;
    ASSERT_TRUE(ParseJson(doc, root, error)) << error << "\n" << doc;
    ASSERT_EQ(root.kind, JsonValue::Array);
    ASSERT_EQ(root.items.size(), 3u);

    const JsonValue& first = root.items[0];
    EXPECT_EQ(first.Find("index")->number, 12);
    EXPECT_EQ(first.Find("type")->number, 4);
    EXPECT_EQ(first.Find("handle")->number, 0x400);
    EXPECT_TRUE(first.Find("decoded")->boolean);
    const JsonValue& attributes = *first.Find("attributes");
    ASSERT_EQ(attributes.items.size(), 7u);
    const char* types[] = {"ui1", "ui1", "ui2", "string", "bytes", "ui4", "bool"};
    for (size_t i = 0; i < 7; ++i) {
        const JsonValue& a = attributes.items[i];
        ASSERT_EQ(a.members.size(), 3u);
        EXPECT_EQ(a.members[0].first, "name");
        EXPECT_EQ(a.members[1].first, "type");
        EXPECT_EQ(a.members[2].first, "value");
        EXPECT_EQ(a.Find("type")->text, std::wstring(types[i], types[i] + strlen(types[i])));
    }
    EXPECT_EQ(attributes.items[3].Find("value")->text, L"Caf\u00E9 \"Intel\" \\ \u2013");
    const JsonValue& bytes = *attributes.items[4].Find("value");
    ASSERT_EQ(bytes.items.size(), 4u);
    EXPECT_EQ(bytes.items[0].number, 0xA9);
    EXPECT_EQ(attributes.items[6].Find("value")->number, 1);

    const JsonValue& second = root.items[1];
    EXPECT_EQ(second.Find("index")->number, 13);
    EXPECT_EQ(second.Find("type")->kind, JsonValue::Null);
    EXPECT_EQ(second.Find("handle")->kind, JsonValue::Null);
    EXPECT_FALSE(second.Find("decoded")->boolean);
    EXPECT_EQ(second.Find("reason")->text, L"type without decoder");
    EXPECT_TRUE(second.Find("attributes")->items.empty());

    const JsonValue& third = root.items[2];
    EXPECT_EQ(third.Find("index"), nullptr);
    EXPECT_EQ(third.Find("handle")->number, 0x3E) << "the handle it was looked up by";
    EXPECT_EQ(third.Find("reason")->text, L"decoder refused the structure");

    JsonArrayWriter empty;
    ASSERT_TRUE(ParseJson(empty.Begin() + empty.End(), root, error)) << error;
    EXPECT_EQ(root.kind, JsonValue::Array);
    EXPECT_TRUE(root.items.empty());
}

TEST(ClientJsonFormat, StringEscapesCoverControlAndNonAsciiCharacters) {
    EXPECT_EQ(JsonString(L"plain"), "\"plain\"");
    EXPECT_EQ(JsonString(L"\"\\\n\r\t"), "\"\\\"\\\\\\n\\r\\t\"");
    EXPECT_EQ(JsonString(std::wstring(1, L'\x01')), "\"\\u0001\"");
    EXPECT_EQ(JsonString(L"\x7F\x80\xFF"), "\"\\u007F\\u0080\\u00FF\"");
    EXPECT_EQ(JsonString(L"\u20AC"), "\"\\u20AC\"");
}

TEST(ClientCommandLine, DefaultsAndEveryOption) {
    ParseResult r = ParseCommandLine({});
    ASSERT_EQ(r.error, "");
    EXPECT_FALSE(r.options.json);
    EXPECT_FALSE(r.options.type);
    EXPECT_FALSE(r.options.handle);
    EXPECT_EQ(r.options.feature, L"Korvix");
    EXPECT_EQ(r.options.version, L"1.05");
    EXPECT_EQ(r.options.context, L"Client");
    EXPECT_EQ(r.options.progId, L"Korvix.SmBiosImpl");

    r = ParseCommandLine({L"dump", L"--json", L"--type", L"0x11", L"--file", L"C:\\t b\\x.bin",
                          L"--feature=F", L"--version", L"2.0", L"--context=Server", L"--progid",
                          L"Korvix.SmBiosImpl.1.05"});
    ASSERT_EQ(r.error, "");
    EXPECT_TRUE(r.options.json);
    EXPECT_EQ(*r.options.type, 17);
    EXPECT_EQ(r.options.file, L"C:\\t b\\x.bin");
    EXPECT_EQ(r.options.feature, L"F");
    EXPECT_EQ(r.options.version, L"2.0");
    EXPECT_EQ(r.options.context, L"Server");
    EXPECT_EQ(r.options.progId, L"Korvix.SmBiosImpl.1.05");

    r = ParseCommandLine({L"--handle=65535"});
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(*r.options.handle, 0xFFFF);
    r = ParseCommandLine({L"--handle", L"0xbeef"});
    EXPECT_EQ(*r.options.handle, 0xBEEF);

    for (const wchar_t* help : {L"--help", L"-h", L"/?", L"help"})
        EXPECT_TRUE(ParseCommandLine({help}).options.help) << help;
}

TEST(ClientCommandLine, InvalidCommandLinesAreNamed) {
    EXPECT_EQ(ParseCommandLine({L"--bogus"}).error, "unknown option '--bogus'");
    EXPECT_EQ(ParseCommandLine({L"list"}).error, "unknown command 'list'");
    EXPECT_EQ(ParseCommandLine({L"--type"}).error, "option --type needs a value");
    EXPECT_EQ(ParseCommandLine({L"--file="}).error, "option --file needs a non-empty value");
    EXPECT_EQ(ParseCommandLine({L"--json=yes"}).error, "option --json takes no value");
    EXPECT_NE(ParseCommandLine({L"--type", L"256"}).error.find("from 0 to 255"), std::string::npos);
    EXPECT_NE(ParseCommandLine({L"--type", L"-1"}).error.find("not '-1'"), std::string::npos);
    EXPECT_NE(ParseCommandLine({L"--handle", L"0x10000"}).error.find("0xFFFF"), std::string::npos);
    EXPECT_NE(ParseCommandLine({L"--handle", L"0x"}).error, "");
    EXPECT_NE(ParseCommandLine({L"--handle", L"12z"}).error, "");
    EXPECT_EQ(ParseCommandLine({L"--type", L"4", L"--handle", L"4"}).error,
              "--type and --handle cannot be combined");
    EXPECT_EQ(ParseNumber(L"4294967295", 0xFFFFFFFFu).value(), 0xFFFFFFFFu);
    EXPECT_FALSE(ParseNumber(L"99999999999999999999", 0xFFFFFFFFu)) << "no wrap-around";
}
