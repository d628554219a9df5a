// The decoders on hand-made structures: every Length condition on both sides
// of its boundary, then one table of cases per family for the values (names,
// types, order), string numbers that are 0 or name no string, counted loops,
// signature tests and copies that end before a field.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>

#include "RecordingSink.h"
#include "TraceRecorder.h"

namespace {

// The attributes whose presence depends on Length, per decoded type: "Name>n"
// (Length greater than n), "Name!=n", "Name#>n+s" (the k-th numbered one when
// Length > n + s * k); a repeated name is marked "'". Every other attribute
// is there at every Length. Types with a signature test decode the Lengths
// listed only; `head` starts their formatted area.
struct Gated {
    uint8_t type;
    const char* conditions;
    std::vector<int> lengths = {};
    Bytes head = {};
};
const char* const kAsfSlot = "SlotNumber>11 PCIBusNumber>11 PCIDeviceNumber>11 SlotCharacteristics1>11";
const Gated kGated[] = {
    {0, "ExtensionByte#>18+1 SystemBiosMajorRelease>20 SystemBiosMinorRelease>20 FWMajorRelease>20 "
        "FWMinorRelease>20"},
    {1, "UUID>8 WakeupType>8 SKUNumber>25 Family>25"},
    {2, "Manufacturer>4 Product>5 Version>6 SerialNumber>7 AssetTag>8 FeatureFlags>9 Location>10 "
        "ChassisHandle>12 BoardType>13 NrContainedObjHandles>14 ContainedObjHandle0>15"},
    {3, "BootupState>9 PowerSupplyState>9 ThermalState>9 SecurityStatus>9 OEMDefined>13 Height>17 "
        "NrPowerCords>17 NrContainedElements>19 LenContainedElements>19 ContainedElements0>19"},
    {4, "L1CacheHandle>26 L2CacheHandle>26 L3CacheHandle>26 SerialNumber>32 AssetTag>32 PartNumber>32"},
    {5, "EnabledECC!=17"}, // one slot: 0x0F + 2
    {6, ""},
    {7, "Speed>15 ECC>15 Type'>15 Associativity>15"},
    {8, ""},
    {9, ""},
    {10, "OnBoardType#>5+2 Description#>5+2"},
    {11, ""},
    {12, ""},
    {16, ""},
    {17, "Speed>21 Manufacturer>23 SerialNumber>24 AssetTag>25 PartNumber>26"},
    {39, ""},
    {128, kAsfSlot, {8, 12}},
    {129, kAsfSlot, {8, 12}},
    {130, "", {0x14}, {'$', 'A', 'M', 'T'}},
    {176, "", {0x10}},
    {186, "", {0x0F}},
    {188, ""}};

bool Present(const std::string& conditions, const std::string& name, int length) {
    std::istringstream in(conditions);
    for (std::string c; in >> c;) {
        const size_t op = c.find_first_of("!>"), hash = c.find('#');
        int n = 0, step = 0;
        std::sscanf(c.c_str() + op + (c[op] == '!' ? 2 : 1), "%d+%d", &n, &step);
        if (hash < op) {
            if (name.compare(0, hash, c, 0, hash) != 0 || name.size() == hash ||
                name.find_first_not_of("0123456789", hash) != std::string::npos)
                continue;
            n += step * std::stoi(name.substr(hash));
        } else if (c.compare(0, op, name) != 0) {
            continue;
        }
        return c[op] == '!' ? length != n : length > n;
    }
    return true;
}

// The names of the record, a repeated one marked "'"; {"refused"} when refused.
std::set<std::string> Names(const Gated& g, const Bytes& body, int length) {
    const Bytes s = Structure(g.type, 0x0100, body, {"s"}, length);
    const auto decoder = DecoderFor(g.type);
    decoder->Load(s.data(), static_cast<uint32_t>(s.size()));
    RecordingSink sink;
    if (decoder->Decode(sink) == CCVSmBiosItem::kRefused) return {"refused"};
    std::set<std::string> names;
    for (const RecordedAttribute& a : sink.attributes)
        names.insert(names.count(a.name) ? a.name + "'" : a.name);
    return names;
}

} // namespace

// Every byte of the formatted area is 1 (string 1 exists, every count is 1)
// and the copy holds every field, so that only the Length byte decides.
TEST(DecoderLengths, EveryConditionHoldsOnBothSidesOfItsBoundary) {
    constexpr int kLongest = 0x30;
    std::set<int> decoded;
    for (const Gated& g : kGated) {
        decoded.insert(g.type);
        Bytes body = g.head;
        body.resize(kLongest - 4, 1);
        const std::set<std::string> all = Names(g, body, g.lengths.empty() ? kLongest : g.lengths.back());
        for (int length = 4; length <= kLongest; ++length) {
            std::set<std::string> expected = {"refused"};
            if (g.lengths.empty() || std::count(g.lengths.begin(), g.lengths.end(), length)) {
                expected.clear();
                for (const std::string& name : all)
                    if (Present(g.conditions, name, length)) expected.insert(name);
            }
            EXPECT_EQ(Names(g, body, length), expected) << "type " << +g.type << ", Length " << length;
        }
        std::istringstream in(g.conditions);
        for (std::string c; in >> c;) {
            const std::string name = c.substr(0, c.find_first_of("#!>"));
            EXPECT_EQ(all.count(c.find('#') == std::string::npos ? name : name + "0"), 1u) << c;
        }
    }
    for (int type = 0; type < 256; ++type)
        EXPECT_EQ(DecoderFor(static_cast<uint8_t>(type)) != nullptr, decoded.count(type) == 1) << type;
}

namespace {

struct Case {
    Bytes bytes;
    std::string record;       // the attributes behind Type, Length and Handle, or "refused"
    std::string missing = ""; // the fields whose string number names no string, in order
    int as = -1;              // the decoder's type when it is not the Type byte
};

// Runs each case and checks the frame: the Enter record first, the Leave
// record last with the result, a level-1 record per missing string.
void Check(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.record);
        const auto decoder = DecoderFor(static_cast<uint8_t>(c.as >= 0 ? c.as : c.bytes.at(0)));
        ASSERT_NE(decoder, nullptr);
        decoder->Load(c.bytes.data(), static_cast<uint32_t>(c.bytes.size()));
        RecordingSink sink;
        TraceRecorder::Clear();
        const AppendResult result = decoder->Decode(sink);
        const auto& records = TraceRecorder::Records();
        ASSERT_GE(records.size(), 2u);
        EXPECT_EQ(records.front().category + records.back().category, "EnterLeave");
        if (c.record == "refused") {
            EXPECT_TRUE(result == CCVSmBiosItem::kRefused && sink.attributes.empty() && records.size() == 2);
            continue;
        }
        EXPECT_EQ(result, 0);
        EXPECT_EQ(records.back().details.back(), '0');
        char header[64];
        std::snprintf(header, sizeof header, "Type=b%02X Length=b%02X Handle=w%04X", c.bytes[0], c.bytes[1],
                      c.bytes[2] | c.bytes[3] << 8);
        EXPECT_EQ(sink.Line(), header + (c.record.empty() ? "" : " " + c.record));
        std::istringstream missing(c.missing);
        std::string field;
        for (const TraceRecord& r : records)
            if (r.level == 1) {
                EXPECT_TRUE(missing >> field) << "more missing strings than expected: " << r.details;
                EXPECT_EQ(r.scope, decoder->Scope());
                EXPECT_NE(r.details.find("b" + field + " "), std::string::npos) << r.details;
            }
        EXPECT_FALSE(missing >> field) << "no record for " << field;
    }
}

// A structure whose formatted area is the first `length` bytes of `body`.
Bytes Sized(uint8_t type, const Bytes& body, int length, std::initializer_list<std::string> strings) {
    return Structure(type, static_cast<uint16_t>(type << 8), Bytes(body.begin(), body.begin() + length - 4),
                     strings);
}

} // namespace

TEST(DecoderCases, BiosAndSystem) {
    Bytes bios = Cat({{1, 2}, U16(0xE800), {3, 0x3F}, {0x80, 0x98, 0x0B, 0x7F, 0, 0, 0, 0}});
    for (uint8_t i = 0; i < 6; ++i)
        bios.push_back(0xA0 + i);
    const std::string bios18 = "Vendor=\"Vendor\" Version=\"1.0\" StartingAddrSegment=wE800 "
                               "ReleaseDate=\"01/02/2020\" ROMSize=b3F Characteristics=\"7F0B9880\"";
    const Bytes uuid = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                        0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
    Check(
        {{Structure(0, 0, bios, {"Vendor", "1.0", "01/02/2020"}),
          bios18 + " ExtensionByte0#=bA0 ExtensionByte1#=bA1 ExtensionByte2#=bA2 ExtensionByte3#=bA3 "
                   "ExtensionByte4#=bA4 ExtensionByte5#=bA5 SystemBiosMajorRelease=bA2 "
                   "SystemBiosMinorRelease=bA3 FWMajorRelease=bA4 FWMinorRelease=bA5"},
         {Structure(0, 0, Cat({{0, 5}, U16(0xE800), {3, 0x3F}, Bytes(8, 0)}),
                    {"Vendor", "1.0", "01/02/2020"}),
          "StartingAddrSegment=wE800 ReleaseDate=\"01/02/2020\" ROMSize=b3F Characteristics=\"0\"",
          "Version"},
         {Sized(0, bios, 0x0B, {}), "StartingAddrSegment=wE800 ROMSize=b3F", "Vendor Version ReleaseDate"},
         {Structure(1, 1, Cat({{1, 2, 3, 4}, uuid, {6, 5, 6}}),
                    {"Maker", "Product", "V1", "SN", "SKU", "Fam"}),
          "Manufacturer=\"Maker\" ProductName=\"Product\" Version=\"V1\" SerialNumber=\"SN\" "
          "UUID=\"33221100-5544-7766-8899-AABBCCDDEEFF\" WakeupType=b06 SKUNumber=\"SKU\" Family=\"Fam\""}});
}

TEST(DecoderCases, BaseboardAndEnclosure) {
    const Bytes board = Cat({{1, 2, 3, 4, 5, 0x09, 6}, U16(0x0003), {0x0A, 2}, U16(0x10), U16(0x11)});
    const std::initializer_list<std::string> boardStrings = {"Maker", "Board", "V2", "SN-1", "Tag", "Slot"};
    const std::string boardTail = " FeatureFlags=b09 Location=\"Slot\" ChassisHandle=w0003 BoardType=b0A ";
    Bytes zeroAndMissing = Structure(2, 0x200, board, boardStrings);
    zeroAndMissing[0x05] = 0;
    zeroAndMissing[0x06] = 7;
    // Strings 1 to 4 (or none), enclosure type 0x17, states, OEM dword, height 2, one power cord.
    const auto head = [](uint8_t s) {
        return Cat({{s, 0x17, uint8_t(2 * s), uint8_t(3 * s), uint8_t(4 * s)},
                    {3, 4, 5, 6},
                    U32(0x12345678),
                    {2, 1}});
    };
    const std::initializer_list<std::string> caseStrings = {"Case Co", "C1", "SN-9", "AT-7"};
    const std::string states = "BootupState=b03 PowerSupplyState=b04 ThermalState=b05 SecurityStatus=b06 "
                               "OEMDefined=d12345678 Height=b02 NrPowerCords=b01";
    Bytes enclosureMissing = Structure(3, 1, Cat({head(5), {0, 3}}), caseStrings);
    Check(
        {{Structure(2, 0x200, board, boardStrings),
          "Manufacturer=\"Maker\" Product=\"Board\" Version=\"V2\" SerialNumber=\"SN-1\" AssetTag=\"Tag\"" +
              boardTail + "NrContainedObjHandles=b02 ContainedObjHandle0#=w0010 ContainedObjHandle1#=w0011"},
         {zeroAndMissing,
          "Manufacturer=\"Maker\" SerialNumber=\"SN-1\" AssetTag=\"Tag\"" + boardTail +
              "NrContainedObjHandles=b02 ContainedObjHandle0#=w0010 ContainedObjHandle1#=w0011",
          "Version"},
         // 200 handles: the loop ends at the end of the copy, reading the string set.
         {Structure(2, 0x200, Cat({{1, 0, 0, 0, 0, 9, 0}, U16(3), {0x0A, 200}, U16(0x10)}), {"Maker"}),
          "Manufacturer=\"Maker\" FeatureFlags=b09 ChassisHandle=w0003 BoardType=b0A "
          "NrContainedObjHandles=bC8 "
          "ContainedObjHandle0#=w0010 ContainedObjHandle1#=w614D ContainedObjHandle2#=w656B "
          "ContainedObjHandle3#=w0072"},
         {Structure(3, 1, Cat({head(1), {2, 3, 0x03, 0x05, 0x07, 0x83, 0x01, 0x02}}), caseStrings),
          "Manufacturer=\"Case Co\" Type=b17 Version=\"C1\" SerialNumber=\"SN-9\" AssetTag=\"AT-7\" " +
              states +
              " NrContainedElements=b02 LenContainedElements=b03 ContainedElements0#=[030507] "
              "ContainedElements1#=[830102]"},
         {Structure(3, 1, Cat({head(0), {3, 0}})),
          "Type=b17 " + states +
              " NrContainedElements=b03 LenContainedElements=b00 ContainedElements0#=[] "
              "ContainedElements1#=[] ContainedElements2#=[]"},
         {Structure(3, 1, Cat({head(0), {5, 4}, {1, 2, 3, 4, 5, 6, 7, 8}}), {"ABC"}),
          "Type=b17 " + states +
              " NrContainedElements=b05 LenContainedElements=b04 ContainedElements0#=[01020304] "
              "ContainedElements1#=[05060708] ContainedElements2#=[41424300]"},
         {enclosureMissing, "Type=b17 " + states + " NrContainedElements=b00 LenContainedElements=b03",
          "Manufacturer Version SerialNumber AssetTag"}});
}

TEST(DecoderCases, ProcessorMemoryControllerModuleAndCache) {
    // Strings 1, 2, 3; the ID; voltage; clock 100, speeds 4000 and 3600; status, upgrade; three cache
    // handles; strings 4, 5, 6.
    const Bytes processor = Cat({{1, 3, 0xB3, 2, 0xA9, 0x06, 0x03, 0x00, 0xFF, 0xFB, 0xEB, 0xBF, 3, 0x8B},
                                 Cat({U16(100), U16(4000), U16(3600)}),
                                 {0x41, 0x2C},
                                 Cat({U16(0x0700), U16(0x0701), U16(0x0702)}),
                                 {4, 5, 6}});
    const std::string cpu = "ProcessorType=b03 ProcessorFamily=bB3";
    const std::string cpuNumbers = "ProcessorID=\"BFEBFBFF000306A9\"";
    const std::string cpuTail =
        "Voltage=b8B ExternalClock=w0064 MaxSpeed=w0FA0 CurrentSpeed=w0E10 Status=b41 "
        "ProcessorUpgrade=b2C L1CacheHandle=w0700 L2CacheHandle=w0701 L3CacheHandle=w0702";
    Bytes cpuMissing = Structure(4, 0x400, processor, {"CPU1", "Intel", "Xeon E5"});
    for (size_t at : {0x04, 0x07, 0x10, 0x20, 0x21, 0x22})
        cpuMissing[at] = 7;
    const auto memCtrl = [](uint8_t slots, const Bytes& rest,
                            std::initializer_list<std::string> strings = {}) {
        return Structure(5, 5, Cat({{3, 4, 4, 2, 0x0B}, U16(0x0006), U16(0x0108), {2, slots}, rest}),
                         strings);
    };
    const std::string ctrl = "ErrorDetectingMethod=b03 ErrorCorrectingCapability=b04 SupportedInterleave=b04 "
                             "CurrentInterleave=b02 MaxModuleSize=b0B SupportedSpeeds=w0006 "
                             "SupportedTypes=w0108 Voltage=b02 NrSlots=";
    const Bytes cache =
        Cat({{1}, U16(0x0180), U16(0x0100), U16(0x8010), U16(0x0020), U16(0x0010), {0x0F, 5, 4, 7}});
    Check({{Structure(4, 0x400, processor, {"CPU1", "Intel", "Xeon E5", "SN", "AT", "PN"}),
            "SocketDesignation=\"CPU1\" " + cpu + " ProcessorManufacturer=\"Intel\" " + cpuNumbers +
                " ProcessorVersion=\"Xeon E5\" " + cpuTail +
                " SerialNumber=\"SN\" AssetTag=\"AT\" PartNumber=\"PN\""},
           {cpuMissing, cpu + " " + cpuNumbers + " " + cpuTail,
            "SocketDesignation ProcessorManufacturer ProcessorVersion SerialNumber AssetTag PartNumber"},
           {memCtrl(2, Cat({U16(0x20), U16(0x21), {4}})),
            ctrl + "b02 MemModuleHandle0#=w0020 MemModuleHandle1#=w0021 EnabledECC=b04"},
           // Handles and the enabled-ECC byte read from the string set, a count that runs past the copy.
           {memCtrl(3, U16(0x30), {"ABCDEFGH"}),
            ctrl +
                "b03 MemModuleHandle0#=w0030 MemModuleHandle1#=w4241 MemModuleHandle2#=w4443 EnabledECC=b45"},
           {memCtrl(255, Cat({U16(0x20), U16(0x21), {4}})),
            ctrl + "bFF MemModuleHandle0#=w0020 MemModuleHandle1#=w0021 MemModuleHandle2#=w0004"},
           {Structure(6, 6, Cat({{2, 1, 0x2A}, U16(0x0012), {0x07, 0x87, 0x02}}), {"A0"}),
            "BankConnections=b01 CurrentSpeed=b2A CurrentType=w0012 InstalledSize=b07 EnabledSize=b87 "
            "ErrorStatus=b02",
            "SocketDesignation"},
           {Structure(7, 7, cache, {"L1 Cache"}),
            "SocketDesignation=\"L1 Cache\" Configuration=w0180 MaxCacheSize=w0100 InstalledSize=w8010 "
            "SupportedType=w0020 CurrentType=w0010 Speed=b0F ECC=b05 Type=b04 Associativity=b07"}});
}

TEST(DecoderCases, PortsSlotsDevicesAndStrings) {
    const auto port = [](uint8_t internal, uint8_t external) {
        return Structure(8, 0x0800, {internal, 0x0B, external, 0x1F, 0x10}, {"J1A1", "USB1"});
    };
    Check({{port(1, 2),
            "InternalDesignator=\"J1A1\" InternalType=b0B ExternalDesignator=\"USB1\" ExternalType=b1F "
            "PortType=b10"},
           {port(0, 3), "InternalType=b0B ExternalType=b1F PortType=b10", "ExternalDesignator"},
           {Structure(9, 0x0900, Cat({{1, 0xA6, 0x0D, 4, 4}, U16(0x0102), {0x0C, 0x03, 0, 0, 0x18, 0}}),
                      {"PCIE1"}),
            "SlotDesignation=\"PCIE1\" SlotType=bA6 SlotDataBusWidth=b0D CurrentUsage=b04 SlotLength=b04 "
            "SlotID=w0102 SlotCharacteristics1=b0C SlotCharacteristics2=b03"},
           // Length 0x0C: the second characteristics byte is the first byte of the (empty) string set.
           {Structure(9, 0x0901, Cat({{1, 0x06, 0x05, 3, 4}, U16(7), {0x0C}})),
            "SlotType=b06 SlotDataBusWidth=b05 CurrentUsage=b03 SlotLength=b04 SlotID=w0007 "
            "SlotCharacteristics1=b0C SlotCharacteristics2=b00",
            "SlotDesignation"},
           {Structure(10, 0x0A00, {0x83, 1, 0x85, 0, 0x87, 2}, {"Video", "SATA"}),
            "OnBoardType0#=b83 Description0#=\"Video\" OnBoardType1#=b85 OnBoardType2#=b87 "
            "Description2#=\"SATA\""},
           {Structure(10, 0x0A00, {0x83, 3, 0x85, 1}, {"Video"}),
            "OnBoardType0#=b83 OnBoardType1#=b85 Description1#=\"Video\"", "Description"},
           {Structure(10, 0x0A00, {0x83, 1, 0x85, 2}, {"A", "B"}, 0xFF), // entries up to the end of the copy
            "OnBoardType0#=b83 OnBoardType1#=b85 OnBoardType2#=b41 OnBoardType3#=b42",
            "Description Description"},
           {Structure(11, 0x0B00, {1, 9, 9}, {"one", "two"}), "NrStrings=b01 OEMString0#=\"one\""},
           {Structure(12, 0x0C00, {3}, {"one", "two"}),
            "NrStrings=b03 ConfigurationString0#=\"one\" ConfigurationString1#=\"two\""}});
}

TEST(DecoderCases, MemoryArrayDeviceAndPowerSupply) {
    // Two handles, widths 72 and 64, size 0x8400, form factor, set, strings 1 and 2, type, detail,
    // speed 2400, strings 3 to 6, attributes and the later fields.
    const Bytes device = Cat({Cat({U16(0x1000), U16(0xFFFE), U16(72), U16(64), U16(0x8400)}),
                              {9, 0, 1, 2, 0x1A},
                              Cat({U16(0x0080), U16(2400)}),
                              {3, 4, 5, 6, 2},
                              Bytes(16, 0x11)});
    const std::string device21 =
        "PhysicalMemoryArrayHandle=w1000 ErrorHandle=wFFFE TotalWidth=w0048 "
        "DataWidth=w0040 Size=w8400 FormFactor=b09 DeviceSet=b00 DeviceLocator=\"DIMM_A1\" "
        "BankLocator=\"BANK 0\" MemoryType=b1A TypeDetail=w0080 Speed=w0960";
    Bytes laterStrings = Sized(17, device, 0x1B, {"DIMM_A1", "BANK 0", "x", "Tag", "M393A"});
    laterStrings[0x17] = 0;
    laterStrings[0x18] = 9;
    laterStrings[0x19] = 4;
    laterStrings[0x1A] = 5;
    const Bytes power = Cat({U16(0x8000), U16(0x11A2), U16(0x2700), U16(0xFFFF), U16(0x2702)});
    const std::string powerNumbers =
        "MaxPowerCapacity=w8000 Characteristics=w11A2 InputVoltageProbeHandle=w2700 "
        "CoolingDeviceHandle=wFFFF InputCurrentProbeHandle=w2702";
    Check({{Structure(16, 0x1000, Cat({{3, 3, 6}, U32(0x400000), U16(0xFFFE), U16(4)})),
            "Location=b03 Use=b03 MemoryErrorCorrection=b06 MaxCapacity=d00400000 ErrorHandle=wFFFE "
            "NrDevices=w0004"},
           {Structure(17, 0x1100, device, {"DIMM_A1", "BANK 0", "Samsung", "SN123", "Tag", "M393A"}),
            device21 +
                " Manufacturer=\"Samsung\" SerialNumber=\"SN123\" AssetTag=\"Tag\" PartNumber=\"M393A\""},
           {laterStrings, device21 + " AssetTag=\"Tag\" PartNumber=\"M393A\"", "SerialNumber"},
           {Structure(39, 0x2700, Cat({{1, 1, 2, 3, 4, 5, 6, 7}, power}),
                      {"PSU1", "Name", "Maker", "SN", "Tag", "PN", "A0"}),
            "PowerUnitGroup=b01 Location=\"PSU1\" DeviceName=\"Name\" Manufacturer=\"Maker\" "
            "SerialNumber=\"SN\" "
            "AssetTagNumber=\"Tag\" ModelPartNumber=\"PN\" RevisionLevel=\"A0\" " +
                powerNumbers},
           {Structure(39, 0x2700, Cat({{1, 1, 2, 0, 0, 0, 0, 0}, power}), {"PSU1"}),
            "PowerUnitGroup=b01 Location=\"PSU1\" " + powerNumbers, "DeviceName"}});
}

TEST(DecoderCases, OemRangeAndSignatureTests) {
    const auto asf = [](uint8_t type, int length,
                        std::initializer_list<std::string> strings = {"ASF", "ASF_001"}) {
        const Bytes body = {1, 1, 2, 0x11, 5, 0x20, 0x1F, 0x0C};
        return Structure(type, 0x8000, Bytes(body.begin(), body.begin() + length - 4), strings, length);
    };
    const auto asfWith = [&](size_t at, uint8_t value) {
        Bytes b = asf(128, 8);
        b[at] = value;
        return b;
    };
    const std::string asf8 = "Description=\"ASF\" StructureVersion=b01 SystemID=\"ASF_001\" Attributes=b11";
    const Bytes amt =
        Cat({{'$', 'A', 'M', 'T'}, {0xFF, 1, 0, 0, 2}, {0xA5, 0xAF, 0x02, 0xC0, 0x00}, U16(0x0201)});
    Bytes amtLower = Structure(130, 0x8200, amt);
    amtLower[5] = 'a';
    const Bytes board = Cat({U16(0x0102), U32(0xA1B2C3D4u), U16(0x0304), U16(0x0506), U16(0x0708)});
    Check({{asf(128, 8), asf8},
           {asf(129, 0x0C),
            asf8 + " SlotNumber=b05 PCIBusNumber=b20 PCIDeviceNumber=b1F SlotCharacteristics1=b0C"},
           {asf(255, 8), asf8, "", 128},
           {asf(128, 8, {"ASF"}), "Description=\"ASF\" StructureVersion=b01 Attributes=b11", "SystemID"},
           {asf(0x7F, 8), "refused", "", 128},
           {asfWith(5, 2), "refused"},
           {asfWith(4, 2), "refused"},
           {asfWith(6, 3), "refused"},
           {Bytes{128, 8, 0, 0x80, 0, 1}, "refused"}, // the copy ends before the tested bytes
           {Structure(130, 0x8200, amt),
            "AmtSignature=d544D4124 AmtSupported=fFF AmtEnabled=f01 IDEREnabled=f00 SOLEnabled=f00 "
            "NetworkEnabled=f02 ExtendedData=bA5 OEMCapabilities1=bAF OEMCapabilities2=b02 "
            "OEMCapabilities3=bC0 OEMCapabilities4=b00 Reserved=w0201"},
           {Structure(131, 0x8200, amt), "refused", "", 130},
           {amtLower, "refused"},
           {Bytes{130, 0x14, 0, 0x82, '$', 'A', 'M'}, "refused"},
           {Structure(176, 0xB000, board), "BoardHWConfig=w0102 OMFBoardID=dA1B2C3D4 BoardHWGS=w0304 "
                                           "BoardHWVariante=w0506 ChassisGeometry=w0708"},
           {Structure(186, 0xBA00, Cat({{0x10, 0xAC}, U16(0xA0B1), U32(0x32313041), {17, 28, 0xEA}})),
            "ManufacturerCode=wAC10 ProductCode=wA0B1 SerialNumber=d32313041 WeekOfManufacture=b11 "
            "YearOfManufacture=b1C DPMS=bEA"},
           {Structure(188, 0xBC00, {'8', '8', '1', '$'}), "MagicBiosIdentifier=d24313838"},
           {Structure(188, 0xBC00, {}, {"ABC"}), "MagicBiosIdentifier=d00434241"},
           {Structure(188, 0xBC00, {}), ""}});
}

// A failing append becomes the result; the attributes behind it are still
// appended.
TEST(DecoderCases, AppendFailureBecomesTheResult) {
    const auto decoder = DecoderFor(0);
    const Bytes bios = Structure(0, 0, Cat({{1, 2}, U16(0xE800), {3, 0x3F}, Bytes(8, 1)}), {"V", "1", "D"});
    decoder->Load(bios.data(), static_cast<uint32_t>(bios.size()));
    RecordingSink sink(/*failAt=*/4, static_cast<AppendResult>(0x8007000Eu));
    TraceRecorder::Clear();
    EXPECT_EQ(static_cast<uint32_t>(decoder->Decode(sink)), 0x8007000Eu);
    EXPECT_EQ(sink.attributes.size(), 9u);
    const std::string leave = TraceRecorder::Records().back().details;
    EXPECT_EQ(leave.substr(leave.size() - 8), "8007000E");
}
