// The decoders on hand-made structures: each Length condition on both sides, the values in record
// order, string numbers that are 0 or name no string, element runs, signature tests. Structures cut
// short are the fuzz harness's, attribute names the dmidecode comparison's.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <set>
#include <sstream>

#include "RecordingSink.h"
#include "TraceRecorder.h"

namespace {

// Per decoded type (the numbers first), the attributes whose presence depends on Length: "Name>n"
// (Length greater than n), "Name!=n", "Name#>n+s" (the k-th numbered one when Length > n + s*k); a
// repeated name is marked "'". Every other attribute is there at every Length. A type with a signature
// test decodes the Lengths "@n" only; "$hex" starts the structure.
const char* const kLengthConditions[] = {
    "0 ExtensionByte#>18+1 SystemBiosMajorRelease>20 SystemBiosMinorRelease>20 FWMajorRelease>20 "
    "FWMinorRelease>20",
    "1 UUID>8 WakeupType>8 SKUNumber>25 Family>25",
    "2 Manufacturer>4 Product>5 Version>6 SerialNumber>7 AssetTag>8 FeatureFlags>9 Location>10 "
    "ChassisHandle>12 BoardType>13 NrContainedObjHandles>14 ContainedObjHandle0>15",
    "3 BootupState>9 PowerSupplyState>9 ThermalState>9 SecurityStatus>9 OEMDefined>13 Height>17 "
    "NrPowerCords>17 NrContainedElements>19 LenContainedElements>19 ContainedElements0>19",
    "4 L1CacheHandle>26 L2CacheHandle>26 L3CacheHandle>26 SerialNumber>32 AssetTag>32 PartNumber>32",
    "5 EnabledECC!=17", // one slot: 0x0F + 2
    "7 Speed>15 ECC>15 Type'>15 Associativity>15",
    "10 OnBoardType#>5+2 Description#>5+2",
    "17 Speed>21 Manufacturer>23 SerialNumber>24 AssetTag>25 PartNumber>26",
    "128 129 @8 @12 SlotNumber>11 PCIBusNumber>11 PCIDeviceNumber>11 SlotCharacteristics1>11",
    "130 @20 $24414D54",
    "176 @16",
    "186 @15",
    "6 8 9 11 12 16 39 188"};

bool Present(const std::string& conditions, const std::string& name, int length) {
    std::istringstream in(conditions);
    for (std::string c; in >> c;) {
        const size_t op = c.find_first_of("!>"), hash = c.find('#');
        int n = 0, step = 0;
        if (op == std::string::npos) continue;
        std::sscanf(c.c_str() + op + (c[op] == '!' ? 2 : 1), "%d+%d", &n, &step);
        if (hash < op && name.compare(0, hash, c, 0, hash) == 0 && name.size() > hash &&
            name.find_first_not_of("0123456789", hash) == std::string::npos)
            n += step * std::stoi(name.substr(hash));
        else if (c.compare(0, op, name) != 0)
            continue;
        return c[op] == '!' ? length != n : length > n;
    }
    return true;
}

struct Decoded {
    AppendResult result = 0;
    RecordingSink sink;
    std::set<std::string> names; // a repeated one marked "'"; "refused"
};
Decoded Decode(uint8_t as, const Bytes& s, int failAt = -1) {
    Decoded d{0, RecordingSink(failAt, static_cast<AppendResult>(0x8007000Eu)), {}};
    const auto decoder = DecoderFor(as);
    if (!decoder) return ADD_FAILURE() << "no decoder for type " << +as, d;
    decoder->Load(s.data(), static_cast<uint32_t>(s.size()));
    TraceRecorder::Clear();
    d.result = decoder->Decode(d.sink);
    for (const RecordedAttribute& a : d.sink.attributes)
        d.names.insert(d.names.count(a.name) ? a.name + "'" : a.name);
    if (d.result == CCVSmBiosItem::kRefused) d.names.insert("refused");
    return d;
}

struct Case {
    Bytes bytes;
    std::string record; // the values behind Type, Length and Handle, or "refused"
    size_t missing = 0; // string numbers that name no string
    int as = -1;        // the decoder's type when it is not the Type byte
    int failAt = -1;    // the append that fails with E_OUTOFMEMORY
};

Bytes S(uint8_t type, const char* body, std::initializer_list<std::string> strings = {}) {
    return Structure(type, static_cast<uint16_t>(type << 8 | 1), HexBytes(body), strings);
}

// The values, and the frame: Enter first, Leave last with the result, an error per missing string.
void Check(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.record);
        const Decoded d = Decode(static_cast<uint8_t>(c.as >= 0 ? c.as : c.bytes.at(0)), c.bytes, c.failAt);
        const auto& r = TraceRecorder::Records();
        ASSERT_GE(r.size(), 2u);
        char header[32], result[16];
        std::snprintf(header, sizeof header, "b%02X b%02X w%04X ", c.bytes[0], c.bytes[1],
                      c.bytes[2] | c.bytes[3] << 8);
        std::snprintf(result, sizeof result, "%X", static_cast<unsigned>(d.result));
        const bool refused =
            d.result == CCVSmBiosItem::kRefused && d.sink.attributes.empty() && r.size() == 2;
        EXPECT_EQ(refused ? "refused" : d.sink.values, c.record == "refused" ? c.record : header + c.record);
        EXPECT_EQ(r.front().category + r.back().category, "EnterLeave");
        if (refused) continue;
        // A failing append is the result; the attributes behind it are appended all the same.
        EXPECT_EQ(d.result, c.failAt < 0 ? 0 : static_cast<AppendResult>(0x8007000Eu));
        EXPECT_EQ(r.back().details.rfind(result),
                  r.back().details.size() - std::strlen(result)); // ends with it
        EXPECT_EQ(std::count_if(r.begin(), r.end(),
                                [&](const TraceRecord& e) { return e.level == 1 && e.scope == r[0].scope; }),
                  c.missing);
    }
}

} // namespace

// Every byte of the formatted area is 1 (string 1 exists, every count is 1); only the Length byte varies.
TEST(DecoderLengths, EveryConditionHoldsOnBothSidesOfItsBoundary) {
    constexpr int kLongest = 0x30;
    for (const char* conditions : kLengthConditions) {
        std::istringstream in(conditions);
        std::set<int> types, lengths;
        Bytes body;
        for (std::string t; in >> t;) {
            if (std::isdigit(t[0])) types.insert(std::stoi(t));
            if (t[0] == '@') lengths.insert(std::stoi(t.substr(1)));
            if (t[0] == '$') body = HexBytes(&t[1]);
        }
        body.resize(kLongest - 4, 1);
        for (const int type : types) {
            const auto names = [&](int length) {
                return Decode(type, Structure(type, 0x100, body, {"s"}, length)).names;
            };
            const std::set<std::string> longest = names(lengths.empty() ? kLongest : *lengths.rbegin());
            for (int length = 4; length <= kLongest; ++length) {
                std::set<std::string> expected;
                for (const std::string& name : longest)
                    if (Present(conditions, name, length)) expected.insert(name);
                if (!lengths.empty() && !lengths.count(length)) expected = {"refused"};
                EXPECT_EQ(names(length), expected) << "type " << type << ", Length " << length;
            }
        }
    }
}

TEST(DecoderCases, SmBiosTypes) {
    Check(
        {{S(0, "01 00 00E8 00 3F 80980B7F00000000 010203040506", {"V"}),
          "\"V\" wE800 b3F \"7F0B9880\" b01 b02 b03 b04 b05 b06 b03 b04 b05 b06"},
         {S(1, "01 00 03 00 00112233445566778899AABBCCDDEEFF 06 05 06", {"Maker", "P", "V1", "SN", "SKU"}),
          "\"Maker\" \"V1\" \"33221100-5544-7766-8899-AABBCCDDEEFF\" b06 \"SKU\"", 1},
         {S(2, "01 00 07 04 05 09 06 0300 0A 02 1000 1100", {"Maker", "Board", "V2", "SN-1", "Tag", "Slot"}),
          "\"Maker\" \"SN-1\" \"Tag\" b09 \"Slot\" w0003 b0A b02 w0010 w0011", 1},
         {S(3, "00 17 02 09 00 03040506 78563412 02 01 02 03 030507 830102", {"C1", "x"}),
          "b17 \"x\" b03 b04 b05 b06 d12345678 b02 b01 b02 b03 [030507] [830102]", 1},
         {S(4, "00 03 B3 07 A9060300FFFBEBBF 07 8B 6400 A00F 100E 41 2C 0007 0107 0207 07 00 07", {"A"}),
          "b03 bB3 \"BFEBFBFF000306A9\" b8B w0064 w0FA0 w0E10 b41 b2C w0700 w0701 w0702", 4},
         {S(5, "03 04 04 02 0B 0600 0801 02 02 2000 2100 04"),
          "b03 b04 b04 b02 b0B w0006 w0108 b02 b02 w0020 w0021 b04"},
         {S(6, "02 01 2A 1200 07 87 02", {"A0"}), "b01 b2A w0012 b07 b87 b02", 1},
         {S(7, "01 8001 0001 1080 2000 1000 0F 05 04 07", {"L1"}),
          "\"L1\" w0180 w0100 w8010 w0020 w0010 b0F b05 b04 b07"},
         {S(8, "00 0B 03 1F 10", {"J1A1", "USB1"}), "b0B b1F b10", 1},
         {S(9, "01 A6 0D 04 05 0201 0C 03 0000 18 00", {"PCIE1"}), "\"PCIE1\" bA6 b0D b04 b05 w0102 b0C b03"},
         {S(10, "83 01 85 00 07 03 88", {"Video", "SATA"}), "b83 \"Video\" b85 b07", 1},
         {S(11, "01 09 09", {"one", "two"}), "b01 \"one\""},
         {S(12, "03", {"one", "two"}), "b03 \"one\" \"two\""},
         {S(16, "03 04 06 00004000 FEFF 0400"), "b03 b04 b06 d00400000 wFFFE w0004"},
         {S(17, "0010 FEFF 4800 4000 0084 09 00 01 02 1A 8000 6009 00 09 03 04",
            {"DIMM_A1", "BANK 0", "Tag", "PN"}),
          "w1000 wFFFE w0048 w0040 w8400 b09 b00 \"DIMM_A1\" \"BANK 0\" b1A w0080 w0960 \"Tag\" \"PN\"", 1},
         {S(39, "01 01 00 00 00 09 02 00 0080 A211 0027 FFFF 0227", {"PSU1", "PN"}),
          "b01 \"PSU1\" \"PN\" w8000 w11A2 w2700 wFFFF w2702", 1}});
}

TEST(DecoderCases, OemTypesAndSignatureTests) {
    const std::string asf = "\"ASF\" b01 \"ASF_1\" b11";
    const char* const amt = "24414D54 FF 01 00 00 02 A5 AF 02 C0 00 0102";
    Check({{S(129, "01 01 02 11 05 20 1F 0C", {"ASF", "ASF_1"}), asf + " b05 b20 b1F b0C"},
           {S(255, "01 01 02 11", {"ASF", "ASF_1"}), asf, 0, 128},
           {S(128, "01 01 02 11", {"ASF"}), "\"ASF\" b01 b11", 1},
           {S(0x7F, "01 01 02 11", {"ASF", "ASF_1"}), "refused", 0, 128},
           {S(128, "01 02 02 11", {"ASF", "ASF_1"}), "refused"}, // version 2
           {S(128, "02 01 02 11", {"ASF", "ASF_1"}), "refused"}, // description string 2
           {S(128, "01 01 03 11", {"ASF", "ASF_1", "3"}), "refused"},
           {S(130, amt), "d544D4124 fFF f01 f00 f00 f02 bA5 bAF b02 bC0 b00 w0201"},
           {S(131, amt), "refused", 0, 130},
           {S(130, "24614D54 FF 01 00 00 02 A5 AF 02 C0 00 0102"), "refused"},
           {S(176, "0201 D4C3B2A1 0403 0605 0807"), "w0102 dA1B2C3D4 w0304 w0506 w0708"},
           {S(186, "10AC B1A0 41303132 11 1C EA"), "wAC10 wA0B1 d32313041 b11 b1C bEA"},
           {S(188, "38383124"), "d24313838"},
           {S(0, "01 02 00E8 03 3F 0101010101010101", {"V", "1", "D"}),
            "\"V\" \"1\" wE800 \"D\" b3F \"101010101010101\"", 0, -1, 4}});
}
