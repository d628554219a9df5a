// The decoder frame (header, string rule, append failures, trace records) and
// the BIOS and System decoders.
#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "RecordingSink.h"
#include "TraceRecorder.h"
#include "core/SmBiosTable.h"
#include "items/Decoders.h"

namespace {

using Names = std::vector<std::string>;

// A BIOS structure of `length` with Vendor=1, Version=2, ReleaseDate=3.
Bytes Bios(uint8_t length, std::initializer_list<std::string> strings = {"Vendor", "1.0", "01/02/2020"}) {
    Bytes body = Cat({{1, 2}, U16(0xE800), {3, 0x3F}, {0x80, 0x98, 0x0B, 0x7F, 0, 0, 0, 0}});
    for (uint8_t i = 0; body.size() + 4 < length; ++i)
        body.push_back(0xA0 + i);
    return Structure(0, 0x0000, body, strings, length);
}

const std::string kVendorMissing = "pBios->bVendor references an nonexisting string in smbios data";

} // namespace

TEST(BiosItem, Length18EndsWithCharacteristics) {
    RecordingSink sink;
    EXPECT_EQ(DecodeBytes<CBiosItem>(Bios(18), sink), 0);
    EXPECT_EQ(sink.Names(), (Names{"Type", "Length", "Handle", "Vendor", "Version", "StartingAddrSegment",
                                   "ReleaseDate", "ROMSize", "Characteristics"}));
    EXPECT_EQ(sink.Get("Type").type, ValueType::UI1);
    EXPECT_EQ(sink.Get("Length").number, 18u);
    EXPECT_EQ(sink.Get("Handle").type, ValueType::UI2);
    EXPECT_EQ(sink.Get("Vendor").text, "Vendor");
    EXPECT_EQ(sink.Get("ReleaseDate").text, "01/02/2020");
    EXPECT_EQ(sink.Get("StartingAddrSegment").number, 0xE800u);
    EXPECT_EQ(sink.Get("StartingAddrSegment").type, ValueType::UI2);
    EXPECT_EQ(sink.Get("ROMSize").number, 0x3Fu);
    EXPECT_EQ(sink.Get("Characteristics").text, "7F0B9880");
    EXPECT_EQ(sink.Get("Characteristics").type, ValueType::Text);
}

TEST(BiosItem, ExtensionBytesAndReleaseAttributes) {
    RecordingSink twenty;
    DecodeBytes<CBiosItem>(Bios(20), twenty);
    Names names = twenty.Names();
    EXPECT_EQ(Names(names.end() - 3, names.end()),
              (Names{"Characteristics", "ExtensionByte0", "ExtensionByte1"}));
    EXPECT_EQ(twenty.Get("ExtensionByte1").number, 0xA1u);
    EXPECT_TRUE(twenty.Get("ExtensionByte0").numbered);

    RecordingSink twentyFour;
    DecodeBytes<CBiosItem>(Bios(24), twentyFour);
    names = twentyFour.Names();
    EXPECT_EQ(Names(names.end() - 10, names.end()),
              (Names{"ExtensionByte0", "ExtensionByte1", "ExtensionByte2", "ExtensionByte3", "ExtensionByte4",
                     "ExtensionByte5", "SystemBiosMajorRelease", "SystemBiosMinorRelease", "FWMajorRelease",
                     "FWMinorRelease"}));
    EXPECT_EQ(twentyFour.Get("SystemBiosMajorRelease").number, 0xA2u);
    EXPECT_EQ(twentyFour.Get("FWMinorRelease").number, twentyFour.Get("ExtensionByte5").number);
}

TEST(BiosItem, CharacteristicsZeroIsTextZero) {
    Bytes s = Bios(18);
    for (int i = 0x0A; i < 0x12; ++i)
        s[i] = 0;
    RecordingSink sink;
    DecodeBytes<CBiosItem>(s, sink);
    EXPECT_EQ(sink.Get("Characteristics").text, "0");
}

TEST(BiosItem, StringRule) {
    // Vendor number 0: left out silently.
    Bytes zero = Bios(18);
    zero[4] = 0;
    RecordingSink a;
    TraceRecorder::Clear();
    DecodeBytes<CBiosItem>(zero, a);
    EXPECT_FALSE(a.Has("Vendor"));
    EXPECT_TRUE(a.Has("Version"));
    EXPECT_EQ(TraceRecorder::Count(kVendorMissing), 0u);

    // Vendor number 5 with three strings: left out with the level-1 record.
    Bytes five = Bios(18);
    five[4] = 5;
    RecordingSink b;
    TraceRecorder::Clear();
    EXPECT_EQ(DecodeBytes<CBiosItem>(five, b), 0) << "a missing string does not change the result";
    EXPECT_FALSE(b.Has("Vendor"));
    ASSERT_EQ(TraceRecorder::Count(kVendorMissing), 1u);
    for (const auto& r : TraceRecorder::Records()) {
        if (r.details != kVendorMissing) continue;
        EXPECT_EQ(r.level, 1u);
        EXPECT_EQ(r.scope, "CBiosItem::GetTypeInstanceData");
        EXPECT_EQ(r.category, "Leave");
        EXPECT_EQ(r.text, "");
    }

    // No strings at all: every non-zero number is missing.
    RecordingSink c;
    TraceRecorder::Clear();
    DecodeBytes<CBiosItem>(Bios(18, {}), c);
    EXPECT_FALSE(c.Has("Vendor") || c.Has("Version") || c.Has("ReleaseDate"));
    EXPECT_EQ(TraceRecorder::Records().size(), 2u + 3u);
}

TEST(DecoderFrame, EnterAndLeaveRecords) {
    TraceRecorder::Clear();
    RecordingSink sink;
    DecodeBytes<CSystemItem>(Structure(1, 1, {1, 0, 0, 0}, {"M"}), sink);
    const auto& records = TraceRecorder::Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].scope, "CSystemItem::GetTypeInstanceData");
    EXPECT_EQ(records[0].category, "Enter");
    EXPECT_EQ(records[0].text, "Method GetTypeInstanceData has been entered.");
    EXPECT_EQ(records[0].level, 3u);
    EXPECT_EQ(records[1].category, "Leave");
    EXPECT_EQ(records[1].text, "Method GetTypeInstanceData has been left.");
    EXPECT_EQ(records[1].details, "hRes: 0x0");
}

TEST(DecoderFrame, AppendFailureBecomesTheResultAndDecodingGoesOn) {
    RecordingSink sink(/*failAt=*/4, static_cast<AppendResult>(0x8007000Eu));
    TraceRecorder::Clear();
    EXPECT_EQ(static_cast<uint32_t>(DecodeBytes<CBiosItem>(Bios(18), sink)), 0x8007000Eu);
    EXPECT_EQ(sink.attributes.size(), 9u) << "the attributes after the failure are still appended";
    EXPECT_EQ(TraceRecorder::Records().back().details, "hRes: 0x8007000E");
}

TEST(SystemItem, LengthGatedAttributes) {
    const Bytes uuid = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                        0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
    const Bytes body = Cat({{1, 2, 3, 4}, uuid, {6, 5, 6}});
    const std::initializer_list<std::string> strings = {"Maker", "Product", "V1", "SN", "SKU", "Fam"};
    auto sized = [&](int length) {
        return Structure(1, 0x0100, Bytes(body.begin(), body.begin() + (length - 4)), strings);
    };

    RecordingSink eight;
    DecodeBytes<CSystemItem>(sized(8), eight);
    EXPECT_EQ(eight.Names(),
              (Names{"Type", "Length", "Handle", "Manufacturer", "ProductName", "Version", "SerialNumber"}));

    RecordingSink twentyFive;
    DecodeBytes<CSystemItem>(sized(25), twentyFive);
    EXPECT_EQ(twentyFive.Names(), (Names{"Type", "Length", "Handle", "Manufacturer", "ProductName", "Version",
                                         "SerialNumber", "UUID", "WakeupType"}));
    EXPECT_EQ(twentyFive.Get("UUID").text, "33221100-5544-7766-8899-AABBCCDDEEFF");
    EXPECT_EQ(twentyFive.Get("WakeupType").number, 6u);

    RecordingSink twentySeven;
    DecodeBytes<CSystemItem>(sized(27), twentySeven);
    EXPECT_EQ(twentySeven.Get("SKUNumber").text, "SKU");
    EXPECT_EQ(twentySeven.Get("Family").text, "Fam");
    EXPECT_EQ(twentySeven.attributes.size(), 11u);
}

// Structures cut short inside their formatted area: the fields whose bytes
// are not in the copy are left out, nothing is read past it.
TEST(DecoderFrame, FieldsOutsideTheCopyAreLeftOut) {
    const Bytes full = Bios(24);
    for (size_t n = 0; n <= full.size(); ++n) {
        RecordingSink sink;
        CBiosItem decoder;
        decoder.Load(full.data(), static_cast<uint32_t>(n));
        EXPECT_EQ(decoder.Decode(sink), 0);
        if (n < 0x12) EXPECT_FALSE(sink.Has("Characteristics")) << n;
        if (n < 0x18) EXPECT_FALSE(sink.Has("FWMinorRelease")) << n;
    }
    RecordingSink sink;
    CBiosItem cut;
    cut.Load(full.data(), 0x0B); // through the first byte of Characteristics
    cut.Decode(sink);
    EXPECT_EQ(sink.Names(), (Names{"Type", "Length", "Handle", "StartingAddrSegment", "ROMSize"}));
}

// The real tables: every BIOS and System structure decodes without failure
// and its strings agree with dmidecode's reading of the same bytes.
TEST(BiosSystemItems, RealTablesAgreeWithDmidecode) {
    for (const auto& name : RealTableNames()) {
        const Bytes bytes = ReadFile(TestDataPath("real/" + name));
        auto* buffer = new uint8_t[bytes.size()];
        std::copy(bytes.begin(), bytes.end(), buffer);
        CSmBiosTable table;
        table.Attach(buffer, static_cast<uint32_t>(bytes.size()));

        std::map<std::string, std::string> oracle; // "section:key" -> value of the first such section
        std::ifstream text(TestDataPath("real/" + name.substr(0, name.size() - 4) + ".dmidecode.txt"));
        std::string line, section;
        while (std::getline(text, line)) {
            if (!line.empty() && line[0] != '\t' && line.rfind("Handle", 0) != 0) section = line;
            if (line.size() > 1 && line[0] == '\t' && line[1] != '\t') {
                const auto colon = line.find(": ");
                if (colon == std::string::npos) continue;
                oracle.emplace(section + ":" + line.substr(1, colon - 1), line.substr(colon + 2));
            }
        }

        CBiosItem bios;
        if (table.GetFirstOfType(0, bios)) {
            RecordingSink sink;
            ASSERT_EQ(bios.Decode(sink), 0) << name;
            if (sink.Has("Vendor"))
                EXPECT_EQ(sink.Get("Vendor").text, oracle["BIOS Information:Vendor"]) << name;
            if (sink.Has("ReleaseDate"))
                EXPECT_EQ(sink.Get("ReleaseDate").text, oracle["BIOS Information:Release Date"]) << name;
        }
        CSystemItem system;
        if (table.GetFirstOfType(1, system)) {
            RecordingSink sink;
            ASSERT_EQ(system.Decode(sink), 0) << name;
            if (sink.Has("ProductName"))
                EXPECT_EQ(sink.Get("ProductName").text, oracle["System Information:Product Name"]) << name;
            if (sink.Has("SerialNumber"))
                EXPECT_EQ(sink.Get("SerialNumber").text, oracle["System Information:Serial Number"]) << name;
        }
    }
}
