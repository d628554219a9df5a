// The physical memory array, memory device and power supply decoders (types
// 16, 17 and 39).
#include <gtest/gtest.h>

#include "RecordChecks.h"
#include "items/Decoders.h"

namespace {

using namespace record_checks;

const std::string kDeviceLocatorMissing =
    "pPhysMemDevice->bDeviceLocator references an nonexisting string in smbios data";
const std::string kBankLocatorMissing =
    "pPhysMemDevice->bBankLocator references an nonexisting string in smbios data";
const std::string kManufacturerMissing =
    "pPhysMemDevice->bManufacturer references an nonexisting string in smbios data";
const std::string kSerialMissing =
    "pPhysMemDevice->bSerialNumber references an nonexisting string in smbios data";
const std::string kAssetTagMissing =
    "pPhysMemDevice->bAssetTag references an nonexisting string in smbios data";
const std::string kPartNumberMissing =
    "pPhysMemDevice->bPartNumber references an nonexisting string in smbios data";

const Names kDeviceNames = {"Type",         "Length",     "Handle",        "PhysicalMemoryArrayHandle",
                            "ErrorHandle",  "TotalWidth", "DataWidth",     "Size",
                            "FormFactor",   "DeviceSet",  "DeviceLocator", "BankLocator",
                            "MemoryType",   "TypeDetail", "Speed",         "Manufacturer",
                            "SerialNumber", "AssetTag",   "PartNumber"};

// The formatted area of a memory device up to PartNumber (0x1B bytes) and
// beyond: Attributes byte, extended size.
const Bytes kDeviceBody = Cat({U16(0x1000),
                               U16(0xFFFE),
                               U16(72),
                               U16(64),
                               U16(0x8400),
                               {0x09, 0x00, 1, 2, 0x1A},
                               U16(0x0080),
                               U16(2400),
                               {3, 4, 5, 6, 0x02},
                               U32(0x2000),
                               U16(2400),
                               U16(1200),
                               U16(1200),
                               U16(1200),
                               U32(0)});
const std::initializer_list<std::string> kDeviceStrings = {"DIMM_A1", "BANK 0", "Samsung",
                                                           "SN123",   "Tag",    "M393A"};

// A memory device whose formatted area is the first `length` bytes.
Bytes Device(int length, std::initializer_list<std::string> strings = kDeviceStrings) {
    return Structure(17, 0x1100, Bytes(kDeviceBody.begin(), kDeviceBody.begin() + (length - 4)), strings);
}

} // namespace

TEST(PhysicalMemoryArrayItem, RawValuesInTableOrder) {
    const Bytes array = Structure(16, 0x1000, Cat({{0x03, 0x03, 0x06}, U32(0x400000), U16(0xFFFE), U16(4)}));
    RecordingSink sink;
    EXPECT_EQ(Decode<CPhysicalMemoryArrayItem>(array, sink), 0);
    EXPECT_EQ(sink.Names(), (Names{"Type", "Length", "Handle", "Location", "Use", "MemoryErrorCorrection",
                                   "MaxCapacity", "ErrorHandle", "NrDevices"}));
    EXPECT_EQ(TypesOf(sink),
              (Types{ValueType::UI1, ValueType::UI1, ValueType::UI2, ValueType::UI1, ValueType::UI1,
                     ValueType::UI1, ValueType::UI4, ValueType::UI2, ValueType::UI2}));
    EXPECT_EQ(sink.Get("Location").number, 3u);
    EXPECT_EQ(sink.Get("MemoryErrorCorrection").number, 6u);
    EXPECT_EQ(sink.Get("MaxCapacity").number, 0x400000u);
    EXPECT_EQ(sink.Get("ErrorHandle").number, 0xFFFEu);
    EXPECT_EQ(sink.Get("NrDevices").number, 4u);

    // The extended maximum capacity of the 2.7 layout is not decoded.
    const Bytes extended = Structure(
        16, 0x1000, Cat({{0x03, 0x03, 0x06}, U32(0x80000000u), U16(0xFFFE), U16(4), U32(0), U32(1)}));
    RecordingSink longer;
    Decode<CPhysicalMemoryArrayItem>(extended, longer);
    EXPECT_EQ(longer.Names(), sink.Names());
    EXPECT_EQ(longer.Get("MaxCapacity").number, 0x80000000u);
}

TEST(PhysicalMemoryDeviceItem, AllNineteenAttributes) {
    RecordingSink sink;
    EXPECT_EQ(Decode<CPhysicalMemoryDeviceItem>(Device(0x1B), sink), 0);
    EXPECT_EQ(sink.Names(), kDeviceNames);
    EXPECT_EQ(TypesOf(sink),
              (Types{ValueType::UI1, ValueType::UI1, ValueType::UI2, ValueType::UI2, ValueType::UI2,
                     ValueType::UI2, ValueType::UI2, ValueType::UI2, ValueType::UI1, ValueType::UI1,
                     ValueType::Text, ValueType::Text, ValueType::UI1, ValueType::UI2, ValueType::UI2,
                     ValueType::Text, ValueType::Text, ValueType::Text, ValueType::Text}));
    EXPECT_EQ(sink.Get("PhysicalMemoryArrayHandle").number, 0x1000u);
    EXPECT_EQ(sink.Get("TotalWidth").number, 72u);
    EXPECT_EQ(sink.Get("Size").number, 0x8400u) << "the unit bit is not split off";
    EXPECT_EQ(sink.Get("FormFactor").number, 0x09u);
    EXPECT_EQ(sink.Get("MemoryType").number, 0x1Au);
    EXPECT_EQ(sink.Get("TypeDetail").number, 0x0080u);
    EXPECT_EQ(sink.Get("Speed").number, 2400u);
    EXPECT_EQ(sink.Get("DeviceLocator").text, "DIMM_A1");
    EXPECT_EQ(sink.Get("BankLocator").text, "BANK 0");
    EXPECT_EQ(sink.Get("Manufacturer").text, "Samsung");
    EXPECT_EQ(sink.Get("SerialNumber").text, "SN123");
    EXPECT_EQ(sink.Get("AssetTag").text, "Tag");
    EXPECT_EQ(sink.Get("PartNumber").text, "M393A");
    EXPECT_EQ(TraceRecorder::Records().size(), 2u);
}

// Every Length from the oldest layout on: each later field appears once the
// Length passes the offset of its first byte.
TEST(PhysicalMemoryDeviceItem, LengthGatesTheLaterFields) {
    const std::pair<int, size_t> expected[] = {{0x15, 14}, {0x16, 15}, {0x17, 15}, {0x18, 16}, {0x19, 17},
                                               {0x1A, 18}, {0x1B, 19}, {0x1C, 19}, {0x22, 19}, {0x28, 19}};
    for (const auto& [length, count] : expected) {
        RecordingSink sink;
        EXPECT_EQ(Decode<CPhysicalMemoryDeviceItem>(Device(length), sink), 0) << length;
        EXPECT_EQ(sink.Names(), Names(kDeviceNames.begin(), kDeviceNames.begin() + count)) << length;
        EXPECT_EQ(TraceRecorder::Records().size(), 2u) << length;
    }
}

TEST(PhysicalMemoryDeviceItem, OldestLayoutIgnoresTheBytesBehindIt) {
    // Length 0x15: bytes 0x17 to 0x1A lie in the string set ('M', 'M', '_',
    // 'A'), far beyond the two strings; they must not be taken as string
    // numbers.
    RecordingSink sink;
    const Bytes s = Device(0x15, {"DIMM_A1", "BANK 0"});
    ASSERT_EQ(s[0x17], 'M');
    Decode<CPhysicalMemoryDeviceItem>(s, sink);
    EXPECT_EQ(sink.attributes.size(), 14u);
    EXPECT_TRUE(Errors().empty());
}

TEST(PhysicalMemoryDeviceItem, SpeedAtLength0x16TakesItsHighByteFromTheStringSet) {
    RecordingSink sink;
    const Bytes s = Device(0x16, {"DIMM_A1", "BANK 0"});
    Decode<CPhysicalMemoryDeviceItem>(s, sink);
    EXPECT_EQ(sink.Get("Speed").number, (2400u & 0xFF) | static_cast<uint32_t>('D') << 8);
}

TEST(PhysicalMemoryDeviceItem, LaterStringsFollowTheStringRule) {
    Bytes s = Device(0x1B, {"DIMM_A1", "BANK 0", "x", "Tag", "M393A"});
    s[0x17] = 0; // Manufacturer: silently left out
    s[0x18] = 9; // SerialNumber: names no string
    s[0x19] = 4;
    s[0x1A] = 5;
    RecordingSink sink;
    EXPECT_EQ(Decode<CPhysicalMemoryDeviceItem>(s, sink), 0);
    EXPECT_EQ(Body(sink), (Names{"PhysicalMemoryArrayHandle", "ErrorHandle", "TotalWidth", "DataWidth",
                                 "Size", "FormFactor", "DeviceSet", "DeviceLocator", "BankLocator",
                                 "MemoryType", "TypeDetail", "Speed", "AssetTag", "PartNumber"}));
    EXPECT_EQ(sink.Get("AssetTag").text, "Tag");
    EXPECT_EQ(Errors(), (Texts{kSerialMissing}));
    EXPECT_EQ(TraceRecorder::Records()[1].scope, "CPhysicalMemoryDeviceItem::GetTypeInstanceData");
}

TEST(PhysicalMemoryDeviceItem, EveryStringMissing) {
    RecordingSink sink;
    Decode<CPhysicalMemoryDeviceItem>(Device(0x1B, {}), sink);
    EXPECT_EQ(sink.attributes.size(), 19u - 6u);
    EXPECT_EQ(Errors(), (Texts{kDeviceLocatorMissing, kBankLocatorMissing, kManufacturerMissing,
                               kSerialMissing, kAssetTagMissing, kPartNumberMissing}));
}

TEST(PowerSupplyItem, AllAttributesInTableOrder) {
    const Bytes body =
        Cat({{1, 1, 2, 3, 4, 5, 6, 7}, U16(0x8000), U16(0x11A2), U16(0x2700), U16(0xFFFF), U16(0x2702)});
    RecordingSink sink;
    EXPECT_EQ(Decode<CPowerSupplyItem>(
                  Structure(39, 0x2700, body, {"PSU1", "Name", "Maker", "SN", "Tag", "PN", "A0"}), sink),
              0);
    EXPECT_EQ(sink.Names(),
              (Names{"Type", "Length", "Handle", "PowerUnitGroup", "Location", "DeviceName", "Manufacturer",
                     "SerialNumber", "AssetTagNumber", "ModelPartNumber", "RevisionLevel", "MaxPowerCapacity",
                     "Characteristics", "InputVoltageProbeHandle", "CoolingDeviceHandle",
                     "InputCurrentProbeHandle"}));
    EXPECT_EQ(TypesOf(sink), (Types{ValueType::UI1, ValueType::UI1, ValueType::UI2, ValueType::UI1,
                                    ValueType::Text, ValueType::Text, ValueType::Text, ValueType::Text,
                                    ValueType::Text, ValueType::Text, ValueType::Text, ValueType::UI2,
                                    ValueType::UI2, ValueType::UI2, ValueType::UI2, ValueType::UI2}));
    EXPECT_EQ(sink.Get("Location").text, "PSU1");
    EXPECT_EQ(sink.Get("RevisionLevel").text, "A0");
    EXPECT_EQ(sink.Get("MaxPowerCapacity").number, 0x8000u);
    EXPECT_EQ(sink.Get("Characteristics").number, 0x11A2u);
    EXPECT_EQ(sink.Get("InputVoltageProbeHandle").number, 0x2700u);
    EXPECT_EQ(sink.Get("CoolingDeviceHandle").number, 0xFFFFu);
    EXPECT_EQ(sink.Get("InputCurrentProbeHandle").number, 0x2702u);
}

TEST(PowerSupplyItem, StringNumbers) {
    const Bytes handles = Cat({U16(500), U16(0x11A2), U16(1), U16(2), U16(3)});
    RecordingSink zero;
    Decode<CPowerSupplyItem>(Structure(39, 0x2700, Cat({{1, 0, 0, 0, 0, 0, 0, 0}, handles}), {"unused"}),
                             zero);
    EXPECT_EQ(zero.Names(),
              (Names{"Type", "Length", "Handle", "PowerUnitGroup", "MaxPowerCapacity", "Characteristics",
                     "InputVoltageProbeHandle", "CoolingDeviceHandle", "InputCurrentProbeHandle"}));
    EXPECT_EQ(TraceRecorder::Records().size(), 2u);

    RecordingSink missing;
    Decode<CPowerSupplyItem>(Structure(39, 0x2700, Cat({{1, 1, 2, 2, 2, 2, 2, 2}, handles}), {"PSU1"}),
                             missing);
    EXPECT_EQ(Body(missing),
              (Names{"PowerUnitGroup", "Location", "MaxPowerCapacity", "Characteristics",
                     "InputVoltageProbeHandle", "CoolingDeviceHandle", "InputCurrentProbeHandle"}));
    EXPECT_EQ(Errors(),
              (Texts{"pPowerSupply->bDeviceName references an nonexisting string in smbios data",
                     "pPowerSupply->bManufacturer references an nonexisting string in smbios data",
                     "pPowerSupply->bSerialNumber references an nonexisting string in smbios data",
                     "pPowerSupply->bAssetTagNumber references an nonexisting string in smbios data",
                     "pPowerSupply->bModelPartNumber references an nonexisting string in smbios data",
                     "pPowerSupply->bRevisionLevel references an nonexisting string in smbios data"}));

    RecordingSink location;
    Decode<CPowerSupplyItem>(Structure(39, 0x2700, Cat({{1, 3, 0, 0, 0, 0, 0, 0}, handles}), {"PSU1"}),
                             location);
    EXPECT_EQ(Errors(), (Texts{"pPowerSupply->bLocation references an nonexisting string in smbios data"}));
}
