// The port, slot, on-board device and string decoders (types 8 to 12).
#include <gtest/gtest.h>

#include "RecordChecks.h"
#include "items/Decoders.h"

namespace {

using namespace record_checks;

const std::string kInternalMissing =
    "pPort->bInternalDesignator references an nonexisting string in smbios data";
const std::string kExternalMissing =
    "pPort->bExternalDesignator references an nonexisting string in smbios data";
const std::string kSlotMissing = "pSlot->bSlotDesignation references an nonexisting string in smbios data";
const std::string kDescriptionMissing = "pWalk->bDescription references an nonexisting string in smbios data";

Bytes Port(uint8_t internal, uint8_t external, std::initializer_list<std::string> strings) {
    return Structure(8, 0x0800, {internal, 0x0B, external, 0x1F, 0x10}, strings);
}

} // namespace

TEST(PortItem, AllAttributesInTableOrder) {
    RecordingSink sink;
    EXPECT_EQ(Decode<CPortItem>(Port(1, 2, {"J1A1", "USB1"}), sink), 0);
    EXPECT_EQ(sink.Names(), (Names{"Type", "Length", "Handle", "InternalDesignator", "InternalType",
                                   "ExternalDesignator", "ExternalType", "PortType"}));
    EXPECT_EQ(TypesOf(sink), (Types{ValueType::UI1, ValueType::UI1, ValueType::UI2, ValueType::Text,
                                    ValueType::UI1, ValueType::Text, ValueType::UI1, ValueType::UI1}));
    EXPECT_EQ(sink.Get("InternalDesignator").text, "J1A1");
    EXPECT_EQ(sink.Get("ExternalDesignator").text, "USB1");
    EXPECT_EQ(sink.Get("InternalType").number, 0x0Bu);
    EXPECT_EQ(sink.Get("ExternalType").number, 0x1Fu);
    EXPECT_EQ(sink.Get("PortType").number, 0x10u);
    EXPECT_EQ(sink.Get("Handle").number, 0x0800u);
    EXPECT_EQ(TraceRecorder::Records().size(), 2u);
}

TEST(PortItem, EachDesignatorFollowsItsOwnStringNumber) {
    RecordingSink internalZero;
    Decode<CPortItem>(Port(0, 2, {"J1A1", "USB1"}), internalZero);
    EXPECT_EQ(Body(internalZero), (Names{"InternalType", "ExternalDesignator", "ExternalType", "PortType"}));
    EXPECT_EQ(internalZero.Get("ExternalDesignator").text, "USB1");
    EXPECT_TRUE(Errors().empty());
    EXPECT_EQ(TraceRecorder::Records().size(), 2u);

    RecordingSink externalZero;
    Decode<CPortItem>(Port(1, 0, {"J1A1", "USB1"}), externalZero);
    EXPECT_EQ(Body(externalZero), (Names{"InternalDesignator", "InternalType", "ExternalType", "PortType"}));
    EXPECT_EQ(externalZero.Get("InternalDesignator").text, "J1A1");
    EXPECT_EQ(TraceRecorder::Records().size(), 2u);

    RecordingSink externalMissing;
    EXPECT_EQ(Decode<CPortItem>(Port(1, 3, {"J1A1", "USB1"}), externalMissing), 0);
    EXPECT_EQ(Body(externalMissing),
              (Names{"InternalDesignator", "InternalType", "ExternalType", "PortType"}));
    EXPECT_EQ(Errors(), (Texts{kExternalMissing}));

    RecordingSink noStrings;
    Decode<CPortItem>(Port(1, 2, {}), noStrings);
    EXPECT_EQ(Body(noStrings), (Names{"InternalType", "ExternalType", "PortType"}));
    EXPECT_EQ(Errors(), (Texts{kInternalMissing, kExternalMissing}));
    for (const auto& r : TraceRecorder::Records()) {
        if (r.level != 1) continue;
        EXPECT_EQ(r.scope, "CPortItem::GetTypeInstanceData");
        EXPECT_EQ(r.category, "Leave");
        EXPECT_EQ(r.text, "");
    }
}

TEST(SystemSlotItem, AllAttributesOfTheCurrentLayout) {
    // Length 0x11: segment, bus and device behind 0x0C are not decoded.
    const Bytes slot = Structure(
        9, 0x0900, Cat({{1, 0xA6, 0x0D, 4, 4}, U16(0x0102), {0x0C, 0x03, 0, 0, 0x18, 0}}), {"PCIE1"});
    RecordingSink sink;
    EXPECT_EQ(Decode<CSystemSlotItem>(slot, sink), 0);
    EXPECT_EQ(sink.Names(), (Names{"Type", "Length", "Handle", "SlotDesignation", "SlotType",
                                   "SlotDataBusWidth", "CurrentUsage", "SlotLength", "SlotID",
                                   "SlotCharacteristics1", "SlotCharacteristics2"}));
    EXPECT_EQ(TypesOf(sink), (Types{ValueType::UI1, ValueType::UI1, ValueType::UI2, ValueType::Text,
                                    ValueType::UI1, ValueType::UI1, ValueType::UI1, ValueType::UI1,
                                    ValueType::UI2, ValueType::UI1, ValueType::UI1}));
    EXPECT_EQ(sink.Get("SlotDesignation").text, "PCIE1");
    EXPECT_EQ(sink.Get("SlotType").number, 0xA6u);
    EXPECT_EQ(sink.Get("SlotID").number, 0x0102u);
    EXPECT_EQ(sink.Get("SlotCharacteristics1").number, 0x0Cu);
    EXPECT_EQ(sink.Get("SlotCharacteristics2").number, 0x03u);
}

TEST(SystemSlotItem, OldestLayoutReadsCharacteristics2FromTheStringSet) {
    const Bytes body = Cat({{1, 0x06, 0x05, 3, 4}, U16(7), {0x0C}});
    RecordingSink withStrings;
    Decode<CSystemSlotItem>(Structure(9, 0x0901, body, {"Slot7"}), withStrings);
    EXPECT_EQ(withStrings.attributes.size(), 11u);
    EXPECT_EQ(withStrings.Get("Length").number, 0x0Cu);
    EXPECT_EQ(withStrings.Get("SlotCharacteristics2").number, static_cast<uint32_t>('S'));
    EXPECT_TRUE(Errors().empty());

    // Empty string set: the byte is the first NUL, and the designation
    // number names no string.
    RecordingSink empty;
    EXPECT_EQ(Decode<CSystemSlotItem>(Structure(9, 0x0901, body), empty), 0);
    EXPECT_EQ(empty.attributes.size(), 10u);
    EXPECT_FALSE(empty.Has("SlotDesignation"));
    EXPECT_EQ(empty.Get("SlotCharacteristics2").number, 0u);
    EXPECT_EQ(Errors(), (Texts{kSlotMissing}));

    // Designation number 0 with an empty string set: no record.
    Bytes zero = body;
    zero[0] = 0;
    RecordingSink silent;
    Decode<CSystemSlotItem>(Structure(9, 0x0901, zero), silent);
    EXPECT_EQ(silent.attributes.size(), 10u);
    EXPECT_EQ(TraceRecorder::Records().size(), 2u);
}

TEST(OnBoardItem, DevicesCountedFromTheLength) {
    const std::initializer_list<std::string> strings = {"Video", "LAN"};
    RecordingSink eight;
    EXPECT_EQ(Decode<COnBoardItem>(Structure(10, 0x0A00, {0x83, 1, 0x05, 2}, strings), eight), 0);
    EXPECT_EQ(Body(eight), (Names{"OnBoardType0", "Description0", "OnBoardType1", "Description1"}));
    EXPECT_EQ(TypesOf(eight), (Types{ValueType::UI1, ValueType::UI1, ValueType::UI2, ValueType::UI1,
                                     ValueType::Text, ValueType::UI1, ValueType::Text}));
    EXPECT_EQ(eight.Get("OnBoardType0").number, 0x83u) << "the enabled bit stays in the byte";
    EXPECT_EQ(eight.Get("OnBoardType1").number, 0x05u);
    EXPECT_EQ(eight.Get("Description0").text, "Video");
    EXPECT_EQ(eight.Get("Description1").text, "LAN");
    EXPECT_TRUE(eight.Get("OnBoardType0").numbered);
    EXPECT_TRUE(eight.Get("Description1").numbered);

    // The odd byte of Length 9 is no device.
    RecordingSink nine;
    Decode<COnBoardItem>(Structure(10, 0x0A00, {0x83, 1, 0x05, 2, 0x87}, strings), nine);
    EXPECT_EQ(Body(nine), Body(eight));

    for (const Bytes& body : {Bytes{}, Bytes{0x83}}) {
        RecordingSink sink;
        Decode<COnBoardItem>(Structure(10, 0x0A00, body, strings), sink);
        EXPECT_EQ(sink.Names(), (Names{"Type", "Length", "Handle"})) << body.size() + 4;
    }
}

TEST(OnBoardItem, LeftOutDescriptionsKeepTheDeviceNumbers) {
    RecordingSink zero;
    Decode<COnBoardItem>(Structure(10, 0x0A00, {0x83, 1, 0x85, 0, 0x87, 2}, {"Video", "SATA"}), zero);
    EXPECT_EQ(Body(zero),
              (Names{"OnBoardType0", "Description0", "OnBoardType1", "OnBoardType2", "Description2"}));
    EXPECT_EQ(zero.Get("Description2").text, "SATA");
    EXPECT_EQ(TraceRecorder::Records().size(), 2u);

    RecordingSink missing;
    EXPECT_EQ(Decode<COnBoardItem>(Structure(10, 0x0A00, {0x83, 3, 0x85, 1}, {"Video"}), missing), 0);
    EXPECT_EQ(Body(missing), (Names{"OnBoardType0", "OnBoardType1", "Description1"}));
    EXPECT_EQ(missing.Get("Description1").text, "Video");
    EXPECT_EQ(Errors(), (Texts{kDescriptionMissing}));
    EXPECT_EQ(TraceRecorder::Records()[1].scope, "COnBoardItem::GetTypeInstanceData");
}

// A Length that claims more devices than the copy holds: the run stops at
// the first entry that is not wholly inside the copy.
TEST(OnBoardItem, RunEndsWithTheCopy) {
    // Length 0xFF: the string set is never reached, so every description
    // number is missing. Copy: 8 formatted bytes, "A\0B\0\0" behind them.
    const Bytes s = Structure(10, 0x0A00, {0x83, 1, 0x85, 2}, {"A", "B"}, 0xFF);
    ASSERT_EQ(s.size(), 13u);
    RecordingSink sink;
    EXPECT_EQ(Decode<COnBoardItem>(s, sink), 0);
    EXPECT_EQ(Body(sink), (Names{"OnBoardType0", "OnBoardType1", "OnBoardType2", "OnBoardType3"}));
    EXPECT_EQ(sink.Get("OnBoardType2").number, static_cast<uint32_t>('A'));
    EXPECT_EQ(sink.Get("OnBoardType3").number, static_cast<uint32_t>('B'));
    EXPECT_EQ(Errors(), (Texts{kDescriptionMissing, kDescriptionMissing}));
}

// OEM strings and configuration options share one behaviour.
template <class D> struct CountedStrings;
template <> struct CountedStrings<COEMStringItem> {
    static constexpr uint8_t kType = 11;
    static constexpr const char* kPrefix = "OEMString";
};
template <> struct CountedStrings<CConfigurationStringItem> {
    static constexpr uint8_t kType = 12;
    static constexpr const char* kPrefix = "ConfigurationString";
};

template <class D> class CountedStringItem : public ::testing::Test {
protected:
    static Bytes Strings(uint8_t count, std::initializer_list<std::string> strings) {
        return Structure(CountedStrings<D>::kType, 0x0B00, {count}, strings);
    }
    static Names Expected(unsigned n) {
        Names names{"NrStrings"};
        for (unsigned i = 0; i < n; ++i)
            names.push_back(CountedStrings<D>::kPrefix + std::to_string(i));
        return names;
    }
};
using CountedStringDecoders = ::testing::Types<COEMStringItem, CConfigurationStringItem>;
TYPED_TEST_SUITE(CountedStringItem, CountedStringDecoders);

TYPED_TEST(CountedStringItem, CountAndStringSet) {
    const std::string p = CountedStrings<TypeParam>::kPrefix;
    RecordingSink three;
    EXPECT_EQ(Decode<TypeParam>(this->Strings(3, {"one", "two", "three"}), three), 0);
    EXPECT_EQ(Body(three), this->Expected(3));
    EXPECT_EQ(three.Get("NrStrings").number, 3u);
    EXPECT_EQ(three.Get("NrStrings").type, ValueType::UI1);
    EXPECT_EQ(three.Get(p + "0").text, "one");
    EXPECT_EQ(three.Get(p + "2").text, "three");
    EXPECT_EQ(three.Get(p + "1").type, ValueType::Text);
    EXPECT_TRUE(three.Get(p + "1").numbered);

    RecordingSink short_;
    EXPECT_EQ(Decode<TypeParam>(this->Strings(3, {"one", "two"}), short_), 0);
    EXPECT_EQ(Body(short_), this->Expected(2));
    EXPECT_EQ(TraceRecorder::Records().size(), 2u) << "missing strings of a count leave no record";

    RecordingSink none;
    Decode<TypeParam>(this->Strings(0, {"one"}), none);
    EXPECT_EQ(Body(none), this->Expected(0));

    RecordingSink one;
    Decode<TypeParam>(this->Strings(1, {"a", "b", "c", "d", "e"}), one);
    EXPECT_EQ(Body(one), this->Expected(1));
    EXPECT_EQ(one.Get(p + "0").text, "a");

    RecordingSink all;
    Decode<TypeParam>(this->Strings(255, {"x", "y"}), all);
    EXPECT_EQ(Body(all), this->Expected(2));
    EXPECT_EQ(all.Get("NrStrings").number, 255u);
    EXPECT_EQ(TraceRecorder::Records().size(), 2u);
}

TYPED_TEST(CountedStringItem, BytesBehindTheCountAreNotStringNumbers) {
    // Length 8: bytes 0x05 to 0x07 would name strings 9, 9, 9 if read as such.
    RecordingSink sink;
    Decode<TypeParam>(Structure(CountedStrings<TypeParam>::kType, 0x0B00, {2, 9, 9, 9}, {"first", "second"}),
                      sink);
    EXPECT_EQ(Body(sink), this->Expected(2));
    EXPECT_EQ(sink.Get(std::string(CountedStrings<TypeParam>::kPrefix) + "1").text, "second");
    EXPECT_TRUE(Errors().empty());
}
