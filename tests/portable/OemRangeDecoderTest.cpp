// The decoders of the OEM range: alerting (128, 129), AMT (130), board ID
// (176), DDC (186) and BIOS identification (188), with their signature tests.
#include <gtest/gtest.h>

#include "RecordChecks.h"
#include "items/Decoders.h"

namespace {

using namespace record_checks;

const std::string kSystemIdMissing = "pASF->bSystemID references an nonexisting string in smbios data";
const std::string kDescriptionMissing = "pASF->bDescription references an nonexisting string in smbios data";

// A refused structure: kRefused, nothing appended, and exactly the Enter
// record followed by the level-3 "hRes: E_FAIL" Leave record.
template <class D> void ExpectRefused(const Bytes& bytes, const std::string& why) {
    SCOPED_TRACE(why);
    RecordingSink sink;
    TraceRecorder::Clear();
    D decoder;
    decoder.Load(bytes.data(), static_cast<uint32_t>(bytes.size()));
    EXPECT_EQ(decoder.Decode(sink), CCVSmBiosItem::kRefused);
    EXPECT_TRUE(sink.attributes.empty());
    const auto& records = TraceRecorder::Records();
    ASSERT_EQ(records.size(), 2u);
    const std::string scope = decoder.Scope();
    EXPECT_EQ(records[0].scope, scope);
    EXPECT_EQ(records[0].category, "Enter");
    EXPECT_EQ(records[0].level, 3u);
    EXPECT_EQ(records[1].scope, scope);
    EXPECT_EQ(records[1].level, 3u);
    EXPECT_EQ(records[1].category, "Leave");
    EXPECT_EQ(records[1].text, "Method GetTypeInstanceData has been left.");
    EXPECT_EQ(records[1].details, "hRes: E_FAIL");
}

// Alerting structure: description 1, version 1, system ID 2, attributes 0x11,
// and for Length 0x0C the four slot bytes.
Bytes Asf(uint8_t type, int length,
          std::initializer_list<std::string> strings = {"Intel_ASF", "Intel_ASF_001"}) {
    const Bytes body = length >= 0x0C ? Bytes{1, 1, 2, 0x11, 0x05, 0x20, 0x1F, 0x0C} : Bytes{1, 1, 2, 0x11};
    return Structure(type, 0x8000, body, strings, length);
}

const Bytes kAmtBody =
    Cat({{'$', 'A', 'M', 'T'}, {1, 1, 0, 0, 1}, {0xA5, 0xAF, 0x02, 0xC0, 0x00}, U16(0x0201)});

} // namespace

TEST(ASFItem, ShortAndLongLayouts) {
    RecordingSink eight;
    EXPECT_EQ(Decode<CASFItem>(Asf(128, 8), eight), 0);
    EXPECT_EQ(eight.Names(), (Names{"Type", "Length", "Handle", "Description", "StructureVersion", "SystemID",
                                    "Attributes"}));
    EXPECT_EQ(TypesOf(eight), (Types{ValueType::UI1, ValueType::UI1, ValueType::UI2, ValueType::Text,
                                     ValueType::UI1, ValueType::Text, ValueType::UI1}));
    EXPECT_EQ(eight.Get("Description").text, "Intel_ASF");
    EXPECT_EQ(eight.Get("SystemID").text, "Intel_ASF_001");
    EXPECT_EQ(eight.Get("StructureVersion").number, 1u);
    EXPECT_EQ(eight.Get("Attributes").number, 0x11u);
    EXPECT_EQ(TraceRecorder::Records().back().details, "hRes: 0x0");

    RecordingSink twelve;
    EXPECT_EQ(Decode<CASFItem>(Asf(128, 0x0C), twelve), 0);
    EXPECT_EQ(Body(twelve), (Names{"Description", "StructureVersion", "SystemID", "Attributes", "SlotNumber",
                                   "PCIBusNumber", "PCIDeviceNumber", "SlotCharacteristics1"}));
    EXPECT_EQ(twelve.Get("SlotNumber").number, 0x05u);
    EXPECT_EQ(twelve.Get("PCIBusNumber").number, 0x20u);
    EXPECT_EQ(twelve.Get("PCIDeviceNumber").number, 0x1Fu);
    EXPECT_EQ(twelve.Get("SlotCharacteristics1").number, 0x0Cu);
    EXPECT_EQ(twelve.Get("SlotCharacteristics1").type, ValueType::UI1);

    RecordingSink type129;
    EXPECT_EQ(Decode<CASFItem>(Asf(129, 0x0C), type129), 0);
    EXPECT_EQ(type129.Names(), twelve.Names());
    EXPECT_EQ(type129.Get("Type").number, 129u);
    EXPECT_EQ(type129.Get("SystemID").text, "Intel_ASF_001");
}

TEST(ASFItem, SignatureTest) {
    ExpectRefused<CASFItem>(Asf(128, 0x0A), "Length 0x0A");
    ExpectRefused<CASFItem>(Asf(128, 0x10), "Length 0x10");
    ExpectRefused<CASFItem>(Asf(0x7F, 8), "type below the OEM range");
    Bytes version = Asf(128, 8);
    version[5] = 2;
    ExpectRefused<CASFItem>(version, "version 2");
    version[5] = 0;
    ExpectRefused<CASFItem>(version, "version 0");
    Bytes description = Asf(128, 8);
    description[4] = 2;
    ExpectRefused<CASFItem>(description, "description number 2, although a second string exists");
    Bytes systemId = Asf(128, 8);
    systemId[6] = 3;
    ExpectRefused<CASFItem>(Bytes(systemId), "system ID number 3");
    // A structure copy that ends before the bytes tested.
    const Bytes whole = Asf(128, 8);
    for (size_t n = 0; n < 7; ++n)
        ExpectRefused<CASFItem>(Bytes(whole.begin(), whole.begin() + n), "copy of " + std::to_string(n));
    // The highest type still passes.
    RecordingSink sink;
    EXPECT_EQ(Decode<CASFItem>(Asf(0xFF, 8), sink), 0);
}

TEST(ASFItem, StringNumbersAfterThePassedTest) {
    RecordingSink oneString;
    EXPECT_EQ(Decode<CASFItem>(Asf(128, 8, {"Intel_ASF"}), oneString), 0);
    EXPECT_EQ(Body(oneString), (Names{"Description", "StructureVersion", "Attributes"}));
    EXPECT_EQ(Errors(), (Texts{kSystemIdMissing}));
    for (const auto& r : TraceRecorder::Records())
        if (r.level == 1) EXPECT_EQ(r.scope, "CASFItem::GetTypeInstanceData");

    RecordingSink noStrings;
    Decode<CASFItem>(Asf(128, 8, {}), noStrings);
    EXPECT_EQ(Body(noStrings), (Names{"StructureVersion", "Attributes"}));
    EXPECT_EQ(Errors(), (Texts{kDescriptionMissing, kSystemIdMissing}));

    Bytes zeros = Asf(128, 8);
    zeros[4] = 0;
    zeros[6] = 0;
    RecordingSink silent;
    EXPECT_EQ(Decode<CASFItem>(zeros, silent), 0);
    EXPECT_EQ(Body(silent), (Names{"StructureVersion", "Attributes"}));
    EXPECT_EQ(TraceRecorder::Records().size(), 2u);
}

TEST(AMTItem, FlagsKeepTheirRawByte) {
    RecordingSink sink;
    EXPECT_EQ(Decode<CAMTItem>(Structure(130, 0x8200, kAmtBody), sink), 0);
    EXPECT_EQ(sink.Names(),
              (Names{"Type", "Length", "Handle", "AmtSignature", "AmtSupported", "AmtEnabled", "IDEREnabled",
                     "SOLEnabled", "NetworkEnabled", "ExtendedData", "OEMCapabilities1", "OEMCapabilities2",
                     "OEMCapabilities3", "OEMCapabilities4", "Reserved"}));
    EXPECT_EQ(TypesOf(sink),
              (Types{ValueType::UI1, ValueType::UI1, ValueType::UI2, ValueType::UI4, ValueType::Bool,
                     ValueType::Bool, ValueType::Bool, ValueType::Bool, ValueType::Bool, ValueType::UI1,
                     ValueType::UI1, ValueType::UI1, ValueType::UI1, ValueType::UI1, ValueType::UI2}));
    EXPECT_EQ(sink.Get("AmtSignature").number, 0x544D4124u);
    EXPECT_EQ(sink.Get("AmtSupported").number, 1u);
    EXPECT_EQ(sink.Get("AmtEnabled").number, 1u);
    EXPECT_EQ(sink.Get("IDEREnabled").number, 0u);
    EXPECT_EQ(sink.Get("SOLEnabled").number, 0u);
    EXPECT_EQ(sink.Get("NetworkEnabled").number, 1u);
    EXPECT_EQ(sink.Get("ExtendedData").number, 0xA5u);
    EXPECT_EQ(sink.Get("OEMCapabilities1").number, 0xAFu);
    EXPECT_EQ(sink.Get("OEMCapabilities3").number, 0xC0u);
    EXPECT_EQ(sink.Get("Reserved").number, 0x0201u);

    Bytes odd = Structure(130, 0x8200, kAmtBody);
    odd[0x08] = 0xFF;
    odd[0x0C] = 0x02;
    RecordingSink other;
    Decode<CAMTItem>(odd, other);
    EXPECT_EQ(other.Get("AmtSupported").number, 0xFFu);
    EXPECT_EQ(other.Get("NetworkEnabled").number, 0x02u);
}

TEST(AMTItem, SignatureTest) {
    Bytes longer = Cat({kAmtBody, {0}});
    ExpectRefused<CAMTItem>(Structure(130, 0x8200, longer), "Length 0x15");
    ExpectRefused<CAMTItem>(Structure(130, 0x8200, Bytes(kAmtBody.begin(), kAmtBody.end() - 1)),
                            "Length 0x13");
    ExpectRefused<CAMTItem>(Structure(131, 0x8200, kAmtBody), "type 131");
    for (int i = 0; i < 4; ++i) {
        Bytes wrong = kAmtBody;
        wrong[i] ^= 0x20; // "$amt" and the like
        ExpectRefused<CAMTItem>(Structure(130, 0x8200, wrong), "signature byte " + std::to_string(i));
    }
    const Bytes whole = Structure(130, 0x8200, kAmtBody);
    for (size_t n = 0; n < 8; ++n)
        ExpectRefused<CAMTItem>(Bytes(whole.begin(), whole.begin() + n), "copy of " + std::to_string(n));
}

TEST(OMFBoardIDItem, RawFieldsOfTheOneLayout) {
    const Bytes body = Cat({U16(0x0102), U32(0xA1B2C3D4u), U16(0x0304), U16(0x0506), U16(0x0708)});
    RecordingSink sink;
    EXPECT_EQ(Decode<COMFBoardIDItem>(Structure(176, 0xB000, body), sink), 0);
    EXPECT_EQ(sink.Names(), (Names{"Type", "Length", "Handle", "BoardHWConfig", "OMFBoardID", "BoardHWGS",
                                   "BoardHWVariante", "ChassisGeometry"}));
    EXPECT_EQ(TypesOf(sink), (Types{ValueType::UI1, ValueType::UI1, ValueType::UI2, ValueType::UI2,
                                    ValueType::UI4, ValueType::UI2, ValueType::UI2, ValueType::UI2}));
    EXPECT_EQ(sink.Get("BoardHWConfig").number, 0x0102u);
    EXPECT_EQ(sink.Get("OMFBoardID").number, 0xA1B2C3D4u);
    EXPECT_EQ(sink.Get("BoardHWGS").number, 0x0304u);
    EXPECT_EQ(sink.Get("BoardHWVariante").number, 0x0506u);
    EXPECT_EQ(sink.Get("ChassisGeometry").number, 0x0708u);

    // Every other Length is refused, whatever the bytes.
    const Bytes padded = Cat({body, Bytes(0x100, 0x5A)});
    for (int length = 0; length < 0x100; ++length) {
        if (length == 0x10) continue;
        ExpectRefused<COMFBoardIDItem>(Structure(176, 0xB000, padded, {}, length),
                                       "Length " + std::to_string(length));
    }
}

TEST(DDCItem, RawFieldsOfTheOneLayout) {
    const Bytes body = Cat({{0x10, 0xAC}, U16(0xA0B1), U32(0x32313041), {17, 28, 0xEA}});
    RecordingSink sink;
    EXPECT_EQ(Decode<CDDCItem>(Structure(186, 0xBA00, body), sink), 0);
    EXPECT_EQ(sink.Names(), (Names{"Type", "Length", "Handle", "ManufacturerCode", "ProductCode",
                                   "SerialNumber", "WeekOfManufacture", "YearOfManufacture", "DPMS"}));
    EXPECT_EQ(TypesOf(sink),
              (Types{ValueType::UI1, ValueType::UI1, ValueType::UI2, ValueType::UI2, ValueType::UI2,
                     ValueType::UI4, ValueType::UI1, ValueType::UI1, ValueType::UI1}));
    EXPECT_EQ(sink.Get("ManufacturerCode").number, 0xAC10u);
    EXPECT_EQ(sink.Get("ProductCode").number, 0xA0B1u);
    EXPECT_EQ(sink.Get("SerialNumber").number, 0x32313041u);
    EXPECT_EQ(sink.Get("WeekOfManufacture").number, 17u);
    EXPECT_EQ(sink.Get("YearOfManufacture").number, 28u) << "no year offset";
    EXPECT_EQ(sink.Get("DPMS").number, 0xEAu);

    const Bytes padded = Cat({body, Bytes(0x100, 0x5A)});
    for (int length = 0; length < 0x100; ++length) {
        if (length == 0x0F) continue;
        ExpectRefused<CDDCItem>(Structure(186, 0xBA00, padded, {}, length),
                                "Length " + std::to_string(length));
    }
}

TEST(BiosIdentificationItem, IdentifierAsItStands) {
    RecordingSink marker;
    EXPECT_EQ(Decode<CBiosIdentificationItem>(Structure(188, 0xBC00, {0x38, 0x38, 0x31, 0x24}), marker), 0);
    EXPECT_EQ(marker.Names(), (Names{"Type", "Length", "Handle", "MagicBiosIdentifier"}));
    EXPECT_EQ(marker.Get("MagicBiosIdentifier").type, ValueType::UI4);
    EXPECT_EQ(marker.Get("MagicBiosIdentifier").number, 0x24313838u);

    // No test: a long structure of another layout is decoded all the same.
    RecordingSink other;
    EXPECT_EQ(Decode<CBiosIdentificationItem>(Structure(188, 0xBC00, Cat({U32(0x80000000u), Bytes(200, 1)})),
                                              other),
              0);
    EXPECT_EQ(Body(other), (Names{"MagicBiosIdentifier"}));
    EXPECT_EQ(other.Get("MagicBiosIdentifier").number, 0x80000000u);

    // Length 4: the identifier's bytes are the string set's, read as they
    // stand; with an empty string set they are not all in the copy.
    RecordingSink strings;
    Decode<CBiosIdentificationItem>(Structure(188, 0xBC00, {}, {"ABC"}), strings);
    EXPECT_EQ(strings.Get("MagicBiosIdentifier").number, 0x00434241u);
    RecordingSink empty;
    EXPECT_EQ(Decode<CBiosIdentificationItem>(Structure(188, 0xBC00, {}), empty), 0);
    EXPECT_EQ(empty.Names(), (Names{"Type", "Length", "Handle"}));
}
