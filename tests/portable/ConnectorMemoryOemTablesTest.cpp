// Types 8 to 12, 16, 17, 39 and the OEM range against malformed copies and
// against the real tables, with dmidecode's reading of the same bytes as the
// oracle for the values.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <set>

#include "RecordChecks.h"
#include "core/SmBiosTable.h"
#include "items/Decoders.h"

namespace {

using namespace record_checks;

std::unique_ptr<CCVSmBiosItem> DecoderFor(uint8_t type) {
    switch (type) {
    case 8:
        return std::make_unique<CPortItem>();
    case 9:
        return std::make_unique<CSystemSlotItem>();
    case 10:
        return std::make_unique<COnBoardItem>();
    case 11:
        return std::make_unique<COEMStringItem>();
    case 12:
        return std::make_unique<CConfigurationStringItem>();
    case 16:
        return std::make_unique<CPhysicalMemoryArrayItem>();
    case 17:
        return std::make_unique<CPhysicalMemoryDeviceItem>();
    case 39:
        return std::make_unique<CPowerSupplyItem>();
    case 128:
    case 129:
        return std::make_unique<CASFItem>();
    case 130:
        return std::make_unique<CAMTItem>();
    case 176:
        return std::make_unique<COMFBoardIDItem>();
    case 186:
        return std::make_unique<CDDCItem>();
    case 188:
        return std::make_unique<CBiosIdentificationItem>();
    default:
        return nullptr;
    }
}
const uint8_t kTypes[] = {8, 9, 10, 11, 12, 16, 17, 39, 128, 129, 130, 176, 186, 188};

// One well-formed structure per type, with strings, every field set.
Bytes Sample(uint8_t type) {
    const std::initializer_list<std::string> s = {"one", "two", "three", "four", "five", "six", "seven"};
    switch (type) {
    case 8:
        return Structure(8, 1, {1, 0x0B, 2, 0x1F, 0x10}, s);
    case 9:
        return Structure(9, 1, Cat({{1, 0xA6, 0x0D, 4, 4}, U16(0x0102), {0x0C, 0x03, 0, 0, 0x18, 0}}), s);
    case 10:
        return Structure(10, 1, {0x83, 1, 0x85, 2, 0x87, 3}, s);
    case 11:
    case 12:
        return Structure(type, 1, {5}, s);
    case 16:
        return Structure(16, 1, Cat({{3, 3, 6}, U32(0x400000), U16(0xFFFE), U16(4)}), s);
    case 17:
        return Structure(17, 1,
                         Cat({U16(1),
                              U16(2),
                              U16(72),
                              U16(64),
                              U16(0x4000),
                              {9, 0, 1, 2, 0x1A},
                              U16(0x80),
                              U16(2400),
                              {3, 4, 5, 6, 2}}),
                         s);
    case 39:
        return Structure(39, 1,
                         Cat({{1, 1, 2, 3, 4, 5, 6, 7}, U16(500), U16(0x11A2), U16(1), U16(2), U16(3)}), s);
    case 128:
    case 129:
        return Structure(type, 1, {1, 1, 2, 0x11, 5, 0x20, 0x1F, 0x0C}, s);
    case 130:
        return Structure(130, 1, Cat({{'$', 'A', 'M', 'T', 1, 1, 0, 0, 1, 0xA5, 0xAF, 2, 0xC0, 0}, U16(0)}),
                         s);
    case 176:
        return Structure(176, 1, Cat({U16(1), U32(2), U16(3), U16(4), U16(5)}), s);
    case 186:
        return Structure(186, 1, Cat({U16(0xAC10), U16(2), U32(3), {4, 5, 6}}), s);
    default:
        return Structure(type, 1, {0x38, 0x38, 0x31, 0x24}, s);
    }
}

// Offset and width of the field behind each numeric attribute, to check that
// a truncated copy yields no value whose bytes it does not hold.
struct Span {
    uint32_t offset, width;
};
const std::map<std::pair<uint8_t, std::string>, Span> kSpans = {
    {{8, "PortType"}, {0x08, 1}},
    {{9, "SlotID"}, {0x09, 2}},
    {{9, "SlotCharacteristics2"}, {0x0C, 1}},
    {{16, "MaxCapacity"}, {0x07, 4}},
    {{16, "NrDevices"}, {0x0D, 2}},
    {{17, "TypeDetail"}, {0x13, 2}},
    {{17, "Speed"}, {0x15, 2}},
    {{39, "InputCurrentProbeHandle"}, {0x14, 2}},
    {{128, "SlotCharacteristics1"}, {0x0B, 1}},
    {{130, "Reserved"}, {0x12, 2}},
    {{176, "ChassisGeometry"}, {0x0E, 2}},
    {{186, "DPMS"}, {0x0E, 1}},
    {{188, "MagicBiosIdentifier"}, {0x04, 4}},
};

// The structures of a real table file, and dmidecode's text of each handle.
struct RealTable {
    explicit RealTable(const std::string& file) {
        const Bytes bytes = ReadFile(TestDataPath(file));
        auto* buffer = new uint8_t[bytes.size() + 1];
        std::memcpy(buffer, bytes.data(), bytes.size());
        table.Attach(buffer, static_cast<uint32_t>(bytes.size()));

        std::ifstream text(TestDataPath(file.substr(0, file.size() - 4) + ".dmidecode.txt"));
        std::string line;
        unsigned handle = 0x10000;
        while (std::getline(text, line)) {
            unsigned h = 0;
            if (std::sscanf(line.c_str(), "Handle 0x%4X, DMI type", &h) == 1) {
                handle = sections.count(h) ? 0x10000 : h; // the first section of a handle wins
                continue;
            }
            if (handle > 0xFFFF || line.size() < 2 || line[0] != '\t' || line[1] == '\t') continue;
            const auto colon = line.find(':');
            if (colon == std::string::npos) continue;
            const std::string value = colon + 2 <= line.size() ? line.substr(colon + 2) : "";
            sections[handle].emplace_back(line.substr(1, colon - 1), value);
        }
    }

    // The values of `key` in the section of `handle`, in order.
    std::vector<std::string> All(uint16_t handle, const std::string& key) const {
        std::vector<std::string> values;
        auto it = sections.find(handle);
        if (it == sections.end()) return values;
        for (const auto& [k, v] : it->second)
            if (k == key) values.push_back(v);
        return values;
    }
    std::string One(uint16_t handle, const std::string& key) const {
        auto values = All(handle, key);
        return values.empty() ? "" : values.front();
    }

    CSmBiosTable table;
    std::map<unsigned, std::vector<std::pair<std::string, std::string>>> sections;
};

// dmidecode shows control characters as '.'.
std::string Printable(std::string s) {
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 32 || c == 127) c = '.';
    return s;
}

// String values compared with dmidecode's, to be sure the comparison ran.
size_t g_compared = 0;

// A string attribute against dmidecode's line: equal when present; when left
// out, dmidecode shows a zero number or a bad one. dmidecode leaves some lines
// out (the identification strings of an empty memory slot): nothing to
// compare then.
void ExpectString(const RecordingSink& sink, const std::string& name, const RealTable& real, uint16_t handle,
                  const std::string& key) {
    const auto lines = real.All(handle, key);
    if (lines.empty()) return;
    ++g_compared;
    if (sink.Has(name))
        EXPECT_EQ(Printable(sink.Get(name).text), lines.front()) << name;
    else
        EXPECT_TRUE(lines.front() == "Not Specified" || lines.front() == "<BAD INDEX>")
            << name << ": " << lines.front();
}

// "8 GB", "512 MB", "No Module Installed" → kilobytes; -1 when not a size.
long long Kilobytes(const std::string& text) {
    if (text == "No Module Installed") return 0;
    unsigned long long n = 0;
    char unit[8] = {};
    if (std::sscanf(text.c_str(), "%llu %7s", &n, unit) != 2) return -1;
    const std::map<std::string, int> shift = {{"kB", 0}, {"MB", 10}, {"GB", 20}, {"TB", 30}};
    auto it = shift.find(unit);
    return it == shift.end() ? -1 : static_cast<long long>(n << it->second);
}

// Structures of these (table, type, handle) are refused, for the reason given.
const std::map<std::string, std::string> kKnownRefusals = {
    // A vendor record of Length 5 under type 128, not the alerting layout.
    {"surface-laptop3-amd-3.2.bin:128:0x0012", "Length 5"},
    // A type-128 test record of Length 8 whose version byte is 0xAA (55 AA 55 AA).
    {"toshiba-satellite-pro-l70-2.7.bin:128:0x003E", "version byte 0xAA"},
};

std::string Key(const std::string& file, uint8_t type, uint16_t handle) {
    char h[8];
    std::snprintf(h, sizeof h, "0x%04X", handle);
    return file + ":" + std::to_string(type) + ":" + h;
}

} // namespace

// Every prefix of a well-formed structure: no read outside the copy (the
// sanitizers watch), and no value whose field the prefix does not hold.
TEST(ConnectorMemoryOemDecoders, EveryPrefixOfEveryStructure) {
    for (uint8_t type : kTypes) {
        const Bytes whole = Sample(type);
        for (size_t n = 0; n <= whole.size(); ++n) {
            SCOPED_TRACE("type " + std::to_string(type) + ", copy of " + std::to_string(n));
            Bytes prefix(whole.begin(), whole.begin() + n); // its own allocation, so ASan sees its end
            auto decoder = DecoderFor(type);
            decoder->Load(prefix.data(), static_cast<uint32_t>(prefix.size()));
            RecordingSink sink;
            const AppendResult result = decoder->Decode(sink);
            EXPECT_TRUE(result == 0 || result == CCVSmBiosItem::kRefused);
            if (result == CCVSmBiosItem::kRefused) EXPECT_TRUE(sink.attributes.empty());
            if (n < 2) EXPECT_FALSE(sink.Has("Length"));
            for (const auto& [key, span] : kSpans) {
                if (key.first != type && !(type == 129 && key.first == 128)) continue;
                if (span.offset + span.width > n) EXPECT_FALSE(sink.Has(key.second)) << key.second;
            }
        }
        RecordingSink full;
        auto decoder = DecoderFor(type);
        decoder->Load(whole.data(), static_cast<uint32_t>(whole.size()));
        EXPECT_EQ(decoder->Decode(full), 0) << int(type);
    }
}

// Random bytes under every type, with random Length bytes and copy sizes.
TEST(ConnectorMemoryOemDecoders, RandomStructuresStayInsideTheirCopy) {
    std::mt19937 random(20240611);
    for (uint8_t type : kTypes) {
        for (int round = 0; round < 400; ++round) {
            Bytes bytes(random() % 48);
            for (auto& b : bytes)
                b = static_cast<uint8_t>(random() % 4 == 0 ? random() % 8 : random());
            if (!bytes.empty()) bytes[0] = type;
            auto decoder = DecoderFor(type);
            decoder->Load(bytes.data(), static_cast<uint32_t>(bytes.size()));
            RecordingSink sink;
            const AppendResult result = decoder->Decode(sink);
            ASSERT_TRUE(result == 0 || result == CCVSmBiosItem::kRefused) << int(type);
        }
    }
}

// Every structure of these types in every real table decodes; the values
// agree with dmidecode.
TEST(ConnectorMemoryOemDecoders, RealTablesAgreeWithDmidecode) {
    std::set<std::string> refused;
    size_t decoded = 0;
    g_compared = 0;
    for (const auto& file : RealTableNames()) {
        SCOPED_TRACE(file);
        RealTable real("real/" + file);
        for (uint8_t type : kTypes) {
            real.table.StartTypeEnum(type);
            for (;;) {
                auto decoder = DecoderFor(type);
                if (!real.table.NextOfType(*decoder)) break;
                const uint16_t handle = decoder->Handle();
                SCOPED_TRACE(Key(file, type, handle));
                RecordingSink sink;
                const AppendResult result = decoder->Decode(sink);
                if (result == CCVSmBiosItem::kRefused) {
                    refused.insert(Key(file, type, handle));
                    continue;
                }
                ASSERT_EQ(result, 0);
                ++decoded;
                EXPECT_EQ(sink.Get("Handle").number, handle);
                EXPECT_EQ(sink.Get("Type").number, type);

                switch (type) {
                case 8:
                    ExpectString(sink, "InternalDesignator", real, handle, "Internal Reference Designator");
                    ExpectString(sink, "ExternalDesignator", real, handle, "External Reference Designator");
                    break;
                case 9:
                    ExpectString(sink, "SlotDesignation", real, handle, "Designation");
                    break;
                case 10: {
                    const auto descriptions = real.All(handle, "Description");
                    const auto kinds = real.All(handle, "Type");
                    EXPECT_EQ(kinds.size(), (sink.Get("Length").number - 4) / 2);
                    for (size_t k = 0; k < descriptions.size(); ++k) {
                        const std::string name = "Description" + std::to_string(k);
                        if (sink.Has(name)) EXPECT_EQ(Printable(sink.Get(name).text), descriptions[k]);
                        EXPECT_TRUE(sink.Has("OnBoardType" + std::to_string(k)));
                    }
                    break;
                }
                case 11:
                case 12: {
                    const auto lines = real.All(handle, type == 11 ? "String 1" : "Option 1");
                    const std::string prefix = type == 11 ? "OEMString" : "ConfigurationString";
                    for (unsigned i = 0; i < sink.Get("NrStrings").number; ++i) {
                        const std::string oracle =
                            real.One(handle, (type == 11 ? "String " : "Option ") + std::to_string(i + 1));
                        const std::string name = prefix + std::to_string(i);
                        if (sink.Has(name)) EXPECT_EQ(Printable(sink.Get(name).text), oracle) << name;
                    }
                    break;
                }
                case 16:
                    EXPECT_EQ(std::to_string(sink.Get("NrDevices").number),
                              real.One(handle, "Number Of Devices"));
                    break;
                case 17: {
                    const uint32_t size = sink.Get("Size").number;
                    const long long oracle = Kilobytes(real.One(handle, "Size"));
                    if (size != 0x7FFF && size != 0xFFFF) {
                        const long long kb =
                            (size & 0x8000) ? (size & 0x7FFF) : static_cast<long long>(size) << 10;
                        EXPECT_EQ(kb, oracle) << real.One(handle, "Size");
                    }
                    const std::string speed = real.One(handle, "Speed");
                    if (!speed.empty() && sink.Get("Speed").number != 0xFFFF)
                        EXPECT_EQ(sink.Get("Speed").number == 0
                                      ? "Unknown"
                                      : std::to_string(sink.Get("Speed").number) + " MT/s",
                                  speed);
                    ExpectString(sink, "DeviceLocator", real, handle, "Locator");
                    ExpectString(sink, "BankLocator", real, handle, "Bank Locator");
                    ExpectString(sink, "Manufacturer", real, handle, "Manufacturer");
                    ExpectString(sink, "SerialNumber", real, handle, "Serial Number");
                    ExpectString(sink, "PartNumber", real, handle, "Part Number");
                    break;
                }
                case 39:
                    ExpectString(sink, "Location", real, handle, "Location");
                    ExpectString(sink, "DeviceName", real, handle, "Name");
                    ExpectString(sink, "Manufacturer", real, handle, "Manufacturer");
                    ExpectString(sink, "SerialNumber", real, handle, "Serial Number");
                    break;
                default:
                    break;
                }
            }
        }
    }
    std::set<std::string> expected;
    for (const auto& [key, why] : kKnownRefusals)
        expected.insert(key);
    EXPECT_EQ(refused, expected);
    EXPECT_GT(decoded, 1000u);
    EXPECT_GT(g_compared, 2000u);
}

// A table that dmidecode itself does not read cleanly: every structure of
// these types still decodes or is refused, without a read past its copy.
TEST(ConnectorMemoryOemDecoders, BrokenTablesDecodeWithoutFault) {
    RealTable real("real/broken/hyperv-gen1-vm-2.3.bin");
    ASSERT_GT(real.table.Count(), 0u);
    size_t seen = 0;
    for (uint8_t type : kTypes) {
        real.table.StartTypeEnum(type);
        for (;;) {
            auto decoder = DecoderFor(type);
            if (!real.table.NextOfType(*decoder)) break;
            ++seen;
            RecordingSink sink;
            const AppendResult result = decoder->Decode(sink);
            EXPECT_TRUE(result == 0 || result == CCVSmBiosItem::kRefused);
        }
    }
    EXPECT_GT(seen, 100u);
}
