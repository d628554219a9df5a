// The decoders on hand-made structures, one table of cases per family: the
// record (names, value types, values, order), the Length conditions, counted
// loops and contained elements, signature tests, string numbers that are 0 or
// name no string, and copies that end before a field.
#include <gtest/gtest.h>

#include <sstream>

#include "RecordChecks.h"
#include "items/Decoders.h"

namespace {

using namespace record_checks;

struct Case {
    Bytes bytes;
    std::string body;               // the record behind Type, Length and Handle, or "refused"
    Texts errors = {};              // details of the missing-string records, in order
    const char* internal = nullptr; // level-4 records, where the decoder writes them
    int as = -1;                    // the decoder's type when it is not the Type byte
};

// The missing-string records of the fields named in `fields` (space-separated).
Texts Missing(const std::string& prefix, const std::string& fields) {
    Texts details;
    std::istringstream names(fields);
    for (std::string name; names >> name;)
        details.push_back(prefix + name + " references an nonexisting string in smbios data");
    return details;
}

// A structure whose formatted area is the first `length` bytes of `body`.
Bytes Sized(uint8_t type, const Bytes& body, int length, std::initializer_list<std::string> strings) {
    return Structure(type, static_cast<uint16_t>(type << 8), Cut(body, length - 4), strings);
}

void Check(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE("case " + std::to_string(&c - cases.data()) + ": " + c.body);
        const auto decoder = DecoderFor(static_cast<uint8_t>(c.as >= 0 ? c.as : c.bytes.at(0)));
        ASSERT_NE(decoder, nullptr);
        decoder->Load(c.bytes.data(), static_cast<uint32_t>(c.bytes.size()));
        RecordingSink sink;
        TraceRecorder::Clear();
        const AppendResult result = decoder->Decode(sink);

        // Every record but the errors and the internal ones: Enter, then Leave with the result.
        const auto& records = TraceRecorder::Records();
        const std::string scope = decoder->Scope();
        const bool refused = c.body == "refused";
        std::string frame;
        for (const TraceRecord& r : records)
            if (r.level != 1 && r.level != 4)
                frame += std::to_string(r.level) + "|" + r.scope + "|" + r.category + "|" + r.text + "|" +
                         r.details + "\n";
        EXPECT_EQ(frame, "3|" + scope + "|Enter|Method GetTypeInstanceData has been entered.|\n3|" + scope +
                             "|Leave|Method GetTypeInstanceData has been left.|hRes: " +
                             (refused ? "E_FAIL\n" : "0x0\n"));
        EXPECT_EQ(result, refused ? CCVSmBiosItem::kRefused : 0);
        if (refused) {
            EXPECT_TRUE(sink.attributes.empty());
            EXPECT_EQ(records.size(), 2u);
            continue;
        }
        char header[64];
        std::snprintf(header, sizeof header, "Type=b%02X Length=b%02X Handle=w%04X", c.bytes[0], c.bytes[1],
                      c.bytes[2] | c.bytes[3] << 8);
        EXPECT_EQ(Line(sink), header + (c.body.empty() ? "" : " " + c.body));
        EXPECT_EQ(Errors(scope), c.errors);
        if (c.internal != nullptr || (c.bytes[0] != 2 && c.bytes[0] != 3))
            EXPECT_EQ(Internal(), c.internal ? c.internal : "");
    }
}

Bytes Bios(int length) {
    Bytes body = Cat({{1, 2}, U16(0xE800), {3, 0x3F}, {0x80, 0x98, 0x0B, 0x7F, 0, 0, 0, 0}});
    for (uint8_t i = 0; body.size() + 4 < static_cast<size_t>(length); ++i)
        body.push_back(0xA0 + i);
    return Structure(0, 0, body, {"Vendor", "1.0", "01/02/2020"});
}
const std::string kBios18 = "Vendor=\"Vendor\" Version=\"1.0\" StartingAddrSegment=wE800 "
                            "ReleaseDate=\"01/02/2020\" ROMSize=b3F Characteristics=\"7F0B9880\"";

// The formatted area of a baseboard from offset 4: strings 1 to 6, feature
// flags, chassis handle 3, board type, the handle count and the handles.
Bytes BoardBody(uint8_t n, std::initializer_list<uint16_t> handles) {
    Bytes body = Cat({{1, 2, 3, 4, 5, 0x09, 6}, U16(0x0003), {0x0A, n}});
    for (uint16_t h : handles)
        body = Cat({body, U16(h)});
    return body;
}
Bytes Board(int length, uint8_t n = 2, std::initializer_list<uint16_t> handles = {0x10, 0x11}) {
    return Sized(2, BoardBody(n, handles), length, {"Maker", "Board", "V2", "SN-1", "Tag", "Slot"});
}
const std::string kBoard8 = "Manufacturer=\"Maker\" Product=\"Board\" Version=\"V2\" SerialNumber=\"SN-1\"";
const std::string kBoard13 =
    kBoard8 + " AssetTag=\"Tag\" FeatureFlags=b09 Location=\"Slot\" ChassisHandle=w0003";

// The enclosure from offset 4 up to its element count: strings 1 to 4 (or
// none), enclosure type 0x17, states, OEM dword, height 2, one power cord.
Bytes EnclosureHead(bool strings = true) {
    const uint8_t s = strings ? 1 : 0;
    return Cat(
        {{s, 0x17, uint8_t(2 * s), uint8_t(3 * s), uint8_t(4 * s)}, {3, 4, 5, 6}, U32(0x12345678), {2, 1}});
}
Bytes Enclosure(int length) {
    return Sized(3, Cat({EnclosureHead(), {2, 3, 0x03, 0x05, 0x07, 0x83, 0x01, 0x02}}), length,
                 {"Case Co", "C1", "SN-9", "AT-7"});
}
const std::string kEnclosure9 =
    "Manufacturer=\"Case Co\" Type=b17 Version=\"C1\" SerialNumber=\"SN-9\" AssetTag=\"AT-7\"";
const std::string kStates = "BootupState=b03 PowerSupplyState=b04 ThermalState=b05 SecurityStatus=b06 "
                            "OEMDefined=d12345678 Height=b02 NrPowerCords=b01";
const char* const kEnclosureHeader =
    "|Header of this SMBios Type Instance, |Type: 3, |Length: 21, |Handle: 1";

} // namespace

TEST(DecoderCases, BiosAndSystem) {
    const Bytes uuid = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                        0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
    const Bytes system = Cat({{1, 2, 3, 4}, uuid, {6, 5, 6}});
    const std::initializer_list<std::string> strings = {"Maker", "Product", "V1", "SN", "SKU", "Fam"};
    const std::string system8 =
        "Manufacturer=\"Maker\" ProductName=\"Product\" Version=\"V1\" SerialNumber=\"SN\"";
    const std::string system25 = system8 + " UUID=\"33221100-5544-7766-8899-AABBCCDDEEFF\" WakeupType=b06";
    Check({{Bios(18), kBios18},
           {Bios(20), kBios18 + " ExtensionByte0#=bA0 ExtensionByte1#=bA1"},
           {Bios(24), kBios18 +
                          " ExtensionByte0#=bA0 ExtensionByte1#=bA1 ExtensionByte2#=bA2 ExtensionByte3#=bA3 "
                          "ExtensionByte4#=bA4 ExtensionByte5#=bA5 SystemBiosMajorRelease=bA2 "
                          "SystemBiosMinorRelease=bA3 FWMajorRelease=bA4 FWMinorRelease=bA5"},
           {Structure(0, 0, Cat({{0, 5}, U16(0xE800), {3, 0x3F}, Bytes(8, 0)}),
                      {"Vendor", "1.0", "01/02/2020"}),
            "StartingAddrSegment=wE800 ReleaseDate=\"01/02/2020\" ROMSize=b3F Characteristics=\"0\"",
            Missing("pBios->b", "Version")},
           {Cut(Bios(24), 0x0B), "StartingAddrSegment=wE800 ROMSize=b3F",
            Missing("pBios->b", "Vendor Version ReleaseDate")},
           {Sized(1, system, 8, strings), system8},
           {Sized(1, system, 25, strings), system25},
           {Sized(1, system, 27, strings), system25 + " SKUNumber=\"SKU\" Family=\"Fam\""}});
}

TEST(DecoderCases, BaseboardAndEnclosure) {
    Bytes zeroAndMissing = Board(0x13);
    zeroAndMissing[0x05] = 0;
    zeroAndMissing[0x06] = 7;
    Bytes enclosureMissing =
        Structure(3, 1, Cat({EnclosureHead(), {0, 3}}), {"Case Co", "C1", "SN-9", "AT-7"});
    for (size_t at : {0x04, 0x06, 0x07, 0x08})
        enclosureMissing[at] = 5;
    Check(
        {{Board(0x13), kBoard13 + " BoardType=b0A NrContainedObjHandles=b02 ContainedObjHandle0#=w0010 "
                                  "ContainedObjHandle1#=w0011"},
         // String 0 and a missing string: the before-record only.
         {zeroAndMissing,
          "Manufacturer=\"Maker\" SerialNumber=\"SN-1\" AssetTag=\"Tag\" FeatureFlags=b09 Location=\"Slot\" "
          "ChassisHandle=w0003 BoardType=b0A NrContainedObjHandles=b02 ContainedObjHandle0#=w0010 "
          "ContainedObjHandle1#=w0011",
          Missing("pBaseboard->b", "Version"),
          "Type|>2<, Length|>19<, Handle|>512<, Manufacturer|, Manufacturer|>Maker<, Product|, Version|, "
          "SerialNumber|, SerialNumber|>SN-1<, AssetTag|, AssetTag|>Tag<, FeatureFlags|, FeatureFlags|>9<, "
          "Location|, Loaction|>Slot<, ChassisHandle|, ChassisHanlde|>3<, BoardType|, BoardType|>10<, "
          "NrContainedObjHandles|, ContainedObjHandle|"},
         {Board(8),
          kBoard8,
          {},
          "Type|>2<, Length|>8<, Handle|>512<, Manufacturer|, Manufacturer|>Maker<, Product|, "
          "Product|>Board<, Version|, Version|>V2<, SerialNumber|, SerialNumber|>SN-1<"},
         {Board(15, 3, {}), kBoard13 + " BoardType=b0A NrContainedObjHandles=b03"},
         {Board(16, 2, {0x10}), kBoard13 +
                                    " BoardType=b0A NrContainedObjHandles=b02 ContainedObjHandle0#=w4D10 "
                                    "ContainedObjHandle1#=w6B61"},
         {Structure(2, 0x200, Cat({{1, 0, 0, 0, 0, 9, 0}, U16(3), {0x0A, 200}, U16(0x10)}), {"Maker"}),
          "Manufacturer=\"Maker\" FeatureFlags=b09 ChassisHandle=w0003 BoardType=b0A "
          "NrContainedObjHandles=bC8 ContainedObjHandle0#=w0010 ContainedObjHandle1#=w614D "
          "ContainedObjHandle2#=w656B ContainedObjHandle3#=w0072"},
         {Enclosure(9), kEnclosure9},
         {Enclosure(0x1B),
          kEnclosure9 + " " + kStates +
              " NrContainedElements=b02 LenContainedElements=b03 ContainedElements0#=[030507] "
              "ContainedElements1#=[830102]"},
         {Enclosure(20), kEnclosure9 + " " + kStates + " NrContainedElements=b02 LenContainedElements=b43"},
         {Structure(3, 1, Cat({EnclosureHead(), {0, 3}}), {"Case Co", "C1", "SN-9", "AT-7"}),
          kEnclosure9 + " " + kStates + " NrContainedElements=b00 LenContainedElements=b03",
          {},
          kEnclosureHeader},
         {Structure(3, 1, Cat({EnclosureHead(false), {3, 0}})),
          "Type=b17 " + kStates +
              " NrContainedElements=b03 LenContainedElements=b00 ContainedElements0#=[] "
              "ContainedElements1#=[] ContainedElements2#=[]",
          {},
          "|Header of this SMBios Type Instance, |Type: 3, |Length: 21, |Handle: 1, |Having 3 "
          "ContainedElements ..., |Done ContainedElements ..."},
         {Structure(3, 1, Cat({EnclosureHead(false), {5, 4}, {1, 2, 3, 4, 5, 6, 7, 8}}), {"ABC"}),
          "Type=b17 " + kStates +
              " NrContainedElements=b05 LenContainedElements=b04 ContainedElements0#=[01020304] "
              "ContainedElements1#=[05060708] ContainedElements2#=[41424300]"},
         {enclosureMissing, "Type=b17 " + kStates + " NrContainedElements=b00 LenContainedElements=b03",
          Missing("pEnclosure->b", "Manufacturer Version SerialNumber AssetTag"), kEnclosureHeader}});
}

// One record per byte of every element, with the byte's address in the copy.
TEST(DecoderCases, EnclosureTracesEveryElementByte) {
    const Bytes s = Enclosure(0x1B);
    CEnclosureItem decoder;
    decoder.Load(s.data(), static_cast<uint32_t>(s.size()));
    RecordingSink sink;
    TraceRecorder::Clear();
    EXPECT_EQ(decoder.Decode(sink), 0);
    std::string expected = "|Header of this SMBios Type Instance, |Type: 3, |Length: 27, |Handle: 768, "
                           "|Having 2 ContainedElements ...";
    for (int k = 0; k < 6; ++k) {
        char line[64];
        std::snprintf(line, sizeof line, ", |Loop: %d; pByte: 0x%p", k % 3,
                      static_cast<const void*>(decoder.Data() + 0x15 + k));
        expected += line;
    }
    EXPECT_EQ(Internal(), expected + ", |Done ContainedElements ...");
}

TEST(DecoderCases, ProcessorMemoryControllerModuleAndCache) {
    // Strings 1, 2, 3; the ID; voltage; clock 100, speeds 4000 and 3600; status, upgrade; three cache
    // handles; strings 4, 5, 6.
    const Bytes processor = Cat({{1, 3, 0xB3, 2, 0xA9, 0x06, 0x03, 0x00, 0xFF, 0xFB, 0xEB, 0xBF, 3, 0x8B},
                                 Cat({U16(100), U16(4000), U16(3600)}),
                                 {0x41, 0x2C},
                                 Cat({U16(0x0700), U16(0x0701), U16(0x0702)}),
                                 {4, 5, 6}});
    const std::initializer_list<std::string> cpuStrings = {"CPU1", "Intel", "Xeon E5", "SN", "AT", "PN"};
    const std::string cpu = "ProcessorType=b03 ProcessorFamily=bB3";
    const std::string cpuNumbers =
        "Voltage=b8B ExternalClock=w0064 MaxSpeed=w0FA0 CurrentSpeed=w0E10 Status=b41 ProcessorUpgrade=b2C";
    const std::string cpu26 =
        "SocketDesignation=\"CPU1\" " + cpu +
        " ProcessorManufacturer=\"Intel\" ProcessorID=\"BFEBFBFF000306A9\" ProcessorVersion=\"Xeon E5\" " +
        cpuNumbers;
    Bytes cpuMissing = Sized(4, processor, 0x23, cpuStrings);
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
    const Bytes moduleMissing = Structure(6, 6, Cat({{2, 1, 0x2A}, U16(0x0012), {0x07, 0x87, 0x02}}), {"A0"});
    const Bytes cache =
        Cat({{1}, U16(0x0180), U16(0x0100), U16(0x8010), U16(0x0020), U16(0x0010), {0x0F, 5, 4, 7}});
    const std::string cache15 =
        "Configuration=w0180 MaxCacheSize=w0100 InstalledSize=w8010 SupportedType=w0020 CurrentType=w0010";
    Bytes cache16 = Sized(7, cache, 0x10, {"L1 Cache"});
    cache16[4] = 2;
    Check({{Sized(4, processor, 0x1A, cpuStrings), cpu26},
           {Sized(4, processor, 0x1C, cpuStrings),
            cpu26 + " L1CacheHandle=w0700 L2CacheHandle=w5043 L3CacheHandle=w3155"},
           {Sized(4, processor, 0x23, cpuStrings),
            cpu26 + " L1CacheHandle=w0700 L2CacheHandle=w0701 L3CacheHandle=w0702 SerialNumber=\"SN\" "
                    "AssetTag=\"AT\" PartNumber=\"PN\""},
           {cpuMissing,
            cpu + " ProcessorID=\"BFEBFBFF000306A9\" " + cpuNumbers +
                " L1CacheHandle=w0700 L2CacheHandle=w0701 L3CacheHandle=w0702",
            Missing(
                "pProcessor->b",
                "SocketDesignation ProcessorManufacturer ProcessorVersion SerialNumber AssetTag PartNumber")},
           {memCtrl(2, Cat({U16(0x20), U16(0x21), {4}})),
            ctrl + "b02 MemModuleHandle0#=w0020 MemModuleHandle1#=w0021 EnabledECC=b04"},
           {memCtrl(2, Cat({U16(0x20), U16(0x21)})),
            ctrl + "b02 MemModuleHandle0#=w0020 MemModuleHandle1#=w0021"},
           {memCtrl(0, {9}), ctrl + "b00 EnabledECC=b09"},
           {memCtrl(0, {}), ctrl + "b00"},
           {memCtrl(3, U16(0x30), {"ABCDEFGH"}),
            ctrl +
                "b03 MemModuleHandle0#=w0030 MemModuleHandle1#=w4241 MemModuleHandle2#=w4443 EnabledECC=b45"},
           {memCtrl(255, Cat({U16(0x20), U16(0x21), {4}})),
            ctrl + "bFF MemModuleHandle0#=w0020 MemModuleHandle1#=w0021 MemModuleHandle2#=w0004"},
           {moduleMissing,
            "BankConnections=b01 CurrentSpeed=b2A CurrentType=w0012 InstalledSize=b07 EnabledSize=b87 "
            "ErrorStatus=b02",
            Missing("pMemModOld->b", "SocketDesignation")},
           {Sized(7, cache, 0x0F, {"L1 Cache"}), "SocketDesignation=\"L1 Cache\" " + cache15},
           {Sized(7, cache, 0x13, {"L1 Cache"}),
            "SocketDesignation=\"L1 Cache\" " + cache15 + " Speed=b0F ECC=b05 Type=b04 Associativity=b07"},
           {cache16, cache15 + " Speed=b0F ECC=b4C Type=b31 Associativity=b20",
            Missing("pCache->b", "SocketDesignation")}});
}

TEST(DecoderCases, PortsSlotsDevicesAndStrings) {
    const auto port = [](uint8_t internal, uint8_t external) {
        return Structure(8, 0x0800, {internal, 0x0B, external, 0x1F, 0x10}, {"J1A1", "USB1"});
    };
    const Bytes oldSlot = Cat({{1, 0x06, 0x05, 3, 4}, U16(7), {0x0C}});
    const std::string oldSlotFields = "SlotType=b06 SlotDataBusWidth=b05 CurrentUsage=b03 SlotLength=b04 "
                                      "SlotID=w0007 SlotCharacteristics1=b0C SlotCharacteristics2=";
    const std::string videoLan =
        "OnBoardType0#=b83 Description0#=\"Video\" OnBoardType1#=b05 Description1#=\"LAN\"";
    Check(
        {{port(1, 2),
          "InternalDesignator=\"J1A1\" InternalType=b0B ExternalDesignator=\"USB1\" ExternalType=b1F "
          "PortType=b10"},
         {port(0, 3), "InternalType=b0B ExternalType=b1F PortType=b10",
          Missing("pPort->b", "ExternalDesignator")},
         {Structure(9, 0x0900, Cat({{1, 0xA6, 0x0D, 4, 4}, U16(0x0102), {0x0C, 0x03, 0, 0, 0x18, 0}}),
                    {"PCIE1"}),
          "SlotDesignation=\"PCIE1\" SlotType=bA6 SlotDataBusWidth=b0D CurrentUsage=b04 SlotLength=b04 "
          "SlotID=w0102 SlotCharacteristics1=b0C SlotCharacteristics2=b03"},
         {Structure(9, 0x0901, oldSlot, {"Slot7"}), "SlotDesignation=\"Slot7\" " + oldSlotFields + "b53"},
         {Structure(9, 0x0901, oldSlot), oldSlotFields + "b00", Missing("pSlot->b", "SlotDesignation")},
         {Structure(10, 0x0A00, {0x83, 1, 0x05, 2}, {"Video", "LAN"}), videoLan},
         {Structure(10, 0x0A00, {0x83, 1, 0x05, 2, 0x87}, {"Video", "LAN"}), videoLan},
         {Structure(10, 0x0A00, {0x83}, {"Video"}), ""},
         {Structure(10, 0x0A00, {0x83, 1, 0x85, 0, 0x87, 2}, {"Video", "SATA"}),
          "OnBoardType0#=b83 Description0#=\"Video\" OnBoardType1#=b85 OnBoardType2#=b87 "
          "Description2#=\"SATA\""},
         {Structure(10, 0x0A00, {0x83, 3, 0x85, 1}, {"Video"}),
          "OnBoardType0#=b83 OnBoardType1#=b85 Description1#=\"Video\"", Missing("pWalk->b", "Description")},
         {Structure(10, 0x0A00, {0x83, 1, 0x85, 2}, {"A", "B"}, 0xFF),
          "OnBoardType0#=b83 OnBoardType1#=b85 OnBoardType2#=b41 OnBoardType3#=b42",
          Missing("pWalk->b", "Description Description")},
         {Structure(11, 0x0B00, {3}, {"one", "two", "three"}),
          "NrStrings=b03 OEMString0#=\"one\" OEMString1#=\"two\" OEMString2#=\"three\""},
         {Structure(12, 0x0C00, {3}, {"one", "two"}),
          "NrStrings=b03 ConfigurationString0#=\"one\" ConfigurationString1#=\"two\""},
         {Structure(12, 0x0C00, {2, 9, 9, 9}, {"first", "second"}),
          "NrStrings=b02 ConfigurationString0#=\"first\" ConfigurationString1#=\"second\""}});
}

TEST(DecoderCases, MemoryArrayDeviceAndPowerSupply) {
    const Bytes array = Cat({{3, 3, 6}, U32(0x400000), U16(0xFFFE), U16(4)});
    // Two handles, widths 72 and 64, size 0x8400, form factor, set, strings 1 and 2, type, detail,
    // speed 2400, strings 3 to 6, attributes and the later fields.
    const Bytes device = Cat({Cat({U16(0x1000), U16(0xFFFE), U16(72), U16(64), U16(0x8400)}),
                              {9, 0, 1, 2, 0x1A},
                              Cat({U16(0x0080), U16(2400)}),
                              {3, 4, 5, 6, 2},
                              Bytes(16, 0x11)});
    const std::initializer_list<std::string> all = {"DIMM_A1", "BANK 0", "Samsung", "SN123", "Tag", "M393A"};
    const std::string device21 = "PhysicalMemoryArrayHandle=w1000 ErrorHandle=wFFFE TotalWidth=w0048 "
                                 "DataWidth=w0040 Size=w8400 FormFactor=b09 DeviceSet=b00";
    const std::string locators = " DeviceLocator=\"DIMM_A1\" BankLocator=\"BANK 0\"";
    const std::string typeFields = " MemoryType=b1A TypeDetail=w0080";
    const std::string full =
        device21 + locators + typeFields +
        " Speed=w0960 Manufacturer=\"Samsung\" SerialNumber=\"SN123\" AssetTag=\"Tag\" PartNumber=\"M393A\"";
    Bytes laterStrings = Sized(17, device, 0x1B, {"DIMM_A1", "BANK 0", "x", "Tag", "M393A"});
    laterStrings[0x17] = 0;
    laterStrings[0x18] = 9;
    laterStrings[0x19] = 4;
    laterStrings[0x1A] = 5;
    const Bytes power = Cat({U16(0x8000), U16(0x11A2), U16(0x2700), U16(0xFFFF), U16(0x2702)});
    const std::string powerNumbers =
        "MaxPowerCapacity=w8000 Characteristics=w11A2 InputVoltageProbeHandle=w2700 "
        "CoolingDeviceHandle=wFFFF InputCurrentProbeHandle=w2702";
    Check(
        {{Structure(16, 0x1000, array), "Location=b03 Use=b03 MemoryErrorCorrection=b06 "
                                        "MaxCapacity=d00400000 ErrorHandle=wFFFE NrDevices=w0004"},
         {Sized(17, device, 0x15, {"DIMM_A1", "BANK 0"}), device21 + locators + typeFields},
         {Sized(17, device, 0x16, {"DIMM_A1", "BANK 0"}), device21 + locators + typeFields + " Speed=w4460"},
         {Sized(17, device, 0x18, all),
          device21 + locators + typeFields + " Speed=w0960 Manufacturer=\"Samsung\""},
         {Sized(17, device, 0x1B, all), full},
         {laterStrings,
          device21 + locators + typeFields + " Speed=w0960 AssetTag=\"Tag\" PartNumber=\"M393A\"",
          Missing("pPhysMemDevice->b", "SerialNumber")},
         {Sized(17, device, 0x1B, {}), device21 + typeFields + " Speed=w0960",
          Missing("pPhysMemDevice->b",
                  "DeviceLocator BankLocator Manufacturer SerialNumber AssetTag PartNumber")},
         {Structure(39, 0x2700, Cat({{1, 1, 2, 3, 4, 5, 6, 7}, power}),
                    {"PSU1", "Name", "Maker", "SN", "Tag", "PN", "A0"}),
          "PowerUnitGroup=b01 Location=\"PSU1\" DeviceName=\"Name\" Manufacturer=\"Maker\" "
          "SerialNumber=\"SN\" AssetTagNumber=\"Tag\" ModelPartNumber=\"PN\" RevisionLevel=\"A0\" " +
              powerNumbers},
         {Structure(39, 0x2700, Cat({{1, 1, 2, 0, 0, 0, 0, 0}, power}), {"PSU1"}),
          "PowerUnitGroup=b01 Location=\"PSU1\" " + powerNumbers, Missing("pPowerSupply->b", "DeviceName")}});
}

TEST(DecoderCases, OemRangeAndSignatureTests) {
    const auto asf = [](uint8_t type, int length,
                        std::initializer_list<std::string> strings = {"Intel_ASF", "Intel_ASF_001"}) {
        const Bytes body = length >= 0x0C ? Bytes{1, 1, 2, 0x11, 5, 0x20, 0x1F, 0x0C} : Bytes{1, 1, 2, 0x11};
        return Structure(type, 0x8000, body, strings, length);
    };
    const auto asfWith = [&](size_t at, uint8_t value) {
        Bytes b = asf(128, 8);
        b[at] = value;
        return b;
    };
    const std::string asf8 =
        "Description=\"Intel_ASF\" StructureVersion=b01 SystemID=\"Intel_ASF_001\" Attributes=b11";
    const Bytes amt =
        Cat({{'$', 'A', 'M', 'T'}, {0xFF, 1, 0, 0, 2}, {0xA5, 0xAF, 0x02, 0xC0, 0x00}, U16(0x0201)});
    Bytes amtLower = Structure(130, 0x8200, amt);
    amtLower[5] = 'a';
    const Bytes board =
        Cat({U16(0x0102), U32(0xA1B2C3D4u), U16(0x0304), U16(0x0506), U16(0x0708), Bytes(4, 0x5A)});
    const Bytes ddc = Cat({{0x10, 0xAC}, U16(0xA0B1), U32(0x32313041), {17, 28, 0xEA}, Bytes(4, 0x5A)});
    Check({{asf(128, 8), asf8},
           {asf(129, 0x0C),
            asf8 + " SlotNumber=b05 PCIBusNumber=b20 PCIDeviceNumber=b1F SlotCharacteristics1=b0C"},
           {asf(255, 8), asf8, {}, nullptr, 128},
           {asf(128, 8, {"Intel_ASF"}), "Description=\"Intel_ASF\" StructureVersion=b01 Attributes=b11",
            Missing("pASF->b", "SystemID")},
           {asf(128, 0x0A), "refused"},
           {asf(0x7F, 8), "refused", {}, nullptr, 128},
           {asfWith(5, 2), "refused"},
           {asfWith(4, 2), "refused"},
           {asfWith(6, 3), "refused"},
           {Cut(asf(128, 8), 6), "refused"},
           {Structure(130, 0x8200, amt),
            "AmtSignature=d544D4124 AmtSupported=fFF AmtEnabled=f01 IDEREnabled=f00 SOLEnabled=f00 "
            "NetworkEnabled=f02 ExtendedData=bA5 OEMCapabilities1=bAF OEMCapabilities2=b02 "
            "OEMCapabilities3=bC0 OEMCapabilities4=b00 Reserved=w0201"},
           {Structure(130, 0x8200, Cat({amt, {0}})), "refused"},
           {Structure(131, 0x8200, amt), "refused", {}, nullptr, 130},
           {amtLower, "refused"},
           {Cut(Structure(130, 0x8200, amt), 7), "refused"},
           {Structure(176, 0xB000, board, {}, 0x10),
            "BoardHWConfig=w0102 OMFBoardID=dA1B2C3D4 BoardHWGS=w0304 BoardHWVariante=w0506 "
            "ChassisGeometry=w0708"},
           {Structure(176, 0xB000, board, {}, 0x0F), "refused"},
           {Structure(176, 0xB000, board, {}, 0x11), "refused"},
           {Structure(186, 0xBA00, ddc, {}, 0x0F),
            "ManufacturerCode=wAC10 ProductCode=wA0B1 SerialNumber=d32313041 WeekOfManufacture=b11 "
            "YearOfManufacture=b1C DPMS=bEA"},
           {Structure(186, 0xBA00, ddc, {}, 0x0E), "refused"},
           {Structure(186, 0xBA00, ddc, {}, 0x10), "refused"},
           {Structure(188, 0xBC00, {'8', '8', '1', '$'}), "MagicBiosIdentifier=d24313838"},
           {Structure(188, 0xBC00, {}, {"ABC"}), "MagicBiosIdentifier=d00434241"},
           {Structure(188, 0xBC00, {}), ""}});
}

// A failing append becomes the result; the attributes behind it are still
// appended.
TEST(DecoderCases, AppendFailureBecomesTheResult) {
    CBiosItem decoder;
    const Bytes bios = Bios(18);
    decoder.Load(bios.data(), static_cast<uint32_t>(bios.size()));
    RecordingSink sink(/*failAt=*/4, static_cast<AppendResult>(0x8007000Eu));
    TraceRecorder::Clear();
    EXPECT_EQ(static_cast<uint32_t>(decoder.Decode(sink)), 0x8007000Eu);
    EXPECT_EQ(sink.attributes.size(), 9u);
    EXPECT_EQ(TraceRecorder::Records().back().details, "hRes: 0x8007000E");
}
