// Every real table against dmidecode's reading of the same bytes (the
// .dmidecode.txt beside each .bin): the walk finds every structure dmidecode
// shows, and the decoded attributes agree with dmidecode for the fields both
// show. Decoders reused over an enumeration, handed a structure by MoveFrom
// or given a fresh copy must give the same records.
#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "RecordChecks.h"

namespace {

using namespace record_checks;

// One "Handle 0x0002, DMI type 2, 15 bytes" block: "\tKey: value" lines, each
// possibly followed by "\t\titem" lines. A key may repeat (on-board devices).
struct Block {
    unsigned handle = 0, type = 0;
    std::map<std::string, Texts> values, items;
    std::string One(const std::string& key) const {
        auto it = values.find(key);
        return it == values.end() ? "" : it->second.front();
    }
};

std::vector<Block> ReadDmidecode(const std::string& path) {
    std::vector<Block> blocks;
    std::ifstream in(path);
    std::string line, key;
    bool inBlock = false;
    while (std::getline(in, line)) {
        Block b;
        if (std::sscanf(line.c_str(), "Handle 0x%x, DMI type %u,", &b.handle, &b.type) == 2) {
            blocks.push_back(b);
            inBlock = true;
        } else if (line.empty()) {
            inBlock = false;
        } else if (inBlock && line.rfind("\t\t", 0) == 0) {
            blocks.back().items[key].push_back(line.substr(2));
        } else if (inBlock && line[0] == '\t' && line.find(':') != std::string::npos) {
            const size_t colon = line.find(':');
            key = line.substr(1, colon - 1);
            blocks.back().values[key].push_back(colon + 2 <= line.size() ? line.substr(colon + 2) : "");
        }
    }
    return blocks;
}

// dmidecode's keys of a type and how it shows their values: a string
// (nullptr), or a format for the number with the text it shows for 0.
struct Compared {
    uint8_t type;
    const char* form;
    const char* keys;
};

// "Key=Attribute" where the attribute is not the key without its spaces.
const Compared kCompared[] = {
    {0, nullptr, "Vendor, Version, Release Date"},
    {1, nullptr, "Manufacturer, Product Name, Version, Serial Number, SKU Number, Family"},
    {2, nullptr,
     "Manufacturer, Product Name=Product, Version, Serial Number, Asset Tag, Location In Chassis=Location"},
    {2, "0x%04X", "Chassis Handle"},
    {2, "%u", "Contained Object Handles=NrContainedObjHandles"},
    {3, nullptr, "Manufacturer, Version, Serial Number, Asset Tag"},
    {3, "0x%08X", "OEM Information=OEMDefined"},
    {3, "%u U|Unspecified", "Height"},
    {3, "%u|Unspecified", "Number Of Power Cords=NrPowerCords"},
    {3, "%u", "Contained Elements=NrContainedElements"},
    {4, nullptr,
     "Socket Designation, Manufacturer=ProcessorManufacturer, Version=ProcessorVersion, Serial Number, Asset "
     "Tag, Part Number"},
    {4, "%u MHz|Unknown", "External Clock, Max Speed, Current Speed"},
    {4, "0x%04X", "L1 Cache Handle, L2 Cache Handle, L3 Cache Handle"},
    {5, "%u", "Associated Memory Slots=NrSlots"},
    {6, nullptr, "Socket Designation"},
    {6, "%u ns|Unknown", "Current Speed"},
    {7, nullptr, "Socket Designation"},
    {7, "%u ns|Unknown", "Speed"},
    {8, nullptr,
     "Internal Reference Designator=InternalDesignator, External Reference Designator=ExternalDesignator"},
    {9, nullptr, "Designation=SlotDesignation"},
    {16, "%u", "Number Of Devices=NrDevices"},
    {17, nullptr, "Locator=DeviceLocator, Bank Locator, Manufacturer, Serial Number, Part Number"},
    {17, "%u MT/s|Unknown", "Speed"},
    {39, nullptr, "Location, Name=DeviceName, Manufacturer, Serial Number"}};

// dmidecode shows control characters as '.'.
std::string Printed(std::string s) {
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 32 || c == 127) c = '.';
    return s;
}

std::string Hex(const char* format, uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, format, v);
    return text;
}

// The text dmidecode shows for `v`; empty when not comparable (0xFFFF in a
// unit: dmidecode shows the extended field then).
std::string AsShown(const std::string& form, uint32_t v) {
    const size_t bar = form.find('|');
    if (bar != std::string::npos && (v == 0 || v == 0xFFFF)) return v == 0 ? form.substr(bar + 1) : "";
    return Hex(form.substr(0, bar).c_str(), v);
}

// "8 GB", "512 MB", "No Module Installed" in kB; -1 when not a size.
long long Kilobytes(const std::string& text) {
    if (text == "No Module Installed") return 0;
    unsigned long long n = 0;
    char unit[8] = {};
    if (std::sscanf(text.c_str(), "%llu %7s", &n, unit) != 2) return -1;
    const std::map<std::string, int> shift = {{"kB", 0}, {"MB", 10}, {"GB", 20}, {"TB", 30}};
    auto it = shift.find(unit);
    return it == shift.end() ? -1 : static_cast<long long>(n << it->second);
}

// The handles of an item list, as dmidecode shows them.
Texts Handles(const RecordingSink& sink, const std::string& prefix, uint32_t n) {
    Texts out;
    for (uint32_t i = 0; i < n && sink.Has(prefix + std::to_string(i)); ++i)
        out.push_back(Hex("0x%04X", sink.Get(prefix + std::to_string(i)).number));
    return out;
}

// The checks of one record against its block; returns the number of values compared.
size_t Compare(const CCVSmBiosItem& d, const RecordingSink& s, const Block& b) {
    size_t compared = 0;
    for (const Compared& c : kCompared) {
        std::istringstream keys(c.keys);
        for (std::string key, attribute; c.type == d.Type() && std::getline(keys >> std::ws, key, ',');) {
            const size_t equals = key.find('=');
            attribute = equals == std::string::npos ? key : key.substr(equals + 1);
            key = key.substr(0, equals);
            attribute.erase(std::remove(attribute.begin(), attribute.end(), ' '), attribute.end());
            if (b.values.count(key) == 0) continue;
            const std::string shown = b.One(key);
            if (c.form == nullptr) {
                if (s.Has(attribute))
                    EXPECT_EQ(Printed(s.Get(attribute).text), shown) << attribute;
                else
                    EXPECT_TRUE(shown == "Not Specified" || shown == "<BAD INDEX>")
                        << attribute << ": " << shown;
            } else if (s.Has(attribute)) {
                const std::string ours = AsShown(c.form, s.Get(attribute).number);
                if (ours.empty() || (c.form[0] == '0' && shown.rfind("0x", 0) != 0)) continue;
                EXPECT_EQ(ours, shown) << attribute;
            }
            ++compared;
        }
    }
    const auto items = [&b](const char* key) { return b.items.count(key) ? b.items.at(key) : Texts{}; };
    switch (d.Type()) {
    case 2:
        if (d.Length() > 15 && s.Has("NrContainedObjHandles"))
            EXPECT_EQ(Handles(s, "ContainedObjHandle", s.Get("NrContainedObjHandles").number),
                      items("Contained Object Handles"));
        break;
    case 3: // the lock bit of the enclosure type, the second "Type"
        EXPECT_EQ((s.attributes.at(4).number & 0x80) ? "Present" : "Not Present", b.One("Lock"));
        break;
    case 4:
        if (b.values.count("ID")) { // "F2 06 03 00 FF FB EB BF", byte 0x08 first
            std::istringstream bytes(b.One("ID"));
            uint64_t id = 0;
            unsigned byte = 0;
            for (int k = 0; k < 8 && bytes >> std::hex >> byte; ++k)
                id |= static_cast<uint64_t>(byte) << (8 * k);
            char text[17];
            std::snprintf(text, sizeof text, "%" PRIX64, id);
            EXPECT_EQ(s.Get("ProcessorID").text, text);
        }
        break;
    case 5:
        EXPECT_EQ(Handles(s, "MemModuleHandle", s.Get("NrSlots").number), items("Associated Memory Slots"));
        EXPECT_EQ(s.Has("EnabledECC"), b.values.count("Enabled Error Correcting Capabilities") == 1);
        break;
    case 7: // sizes in 1 kB or, with bit 15, 64 kB units; from Length 27 dmidecode shows the 32-bit sizes
        for (const char* attribute : {"InstalledSize", "MaxCacheSize"}) {
            const std::string key = attribute[0] == 'I' ? "Installed Size" : "Maximum Size";
            const long long w = s.Get(attribute).number;
            if (d.Length() < 0x1B && Kilobytes(b.One(key)) >= 0)
                EXPECT_EQ((w & 0x7FFF) * ((w & 0x8000) ? 64 : 1), Kilobytes(b.One(key))) << attribute;
        }
        break;
    case 10: {
        EXPECT_EQ(b.values.count("Type") ? b.values.at("Type").size() : 0, (d.Length() - 4u) / 2);
        const Texts descriptions = b.values.count("Description") ? b.values.at("Description") : Texts{};
        for (size_t k = 0; k < descriptions.size(); ++k)
            if (s.Has("Description" + std::to_string(k))) {
                EXPECT_EQ(Printed(s.Get("Description" + std::to_string(k)).text), descriptions[k]);
                ++compared;
            }
        break;
    }
    case 11:
    case 12:
        for (unsigned i = 0; i < s.Get("NrStrings").number; ++i) {
            const std::string name =
                (d.Type() == 11 ? "OEMString" : "ConfigurationString") + std::to_string(i);
            const std::string key = (d.Type() == 11 ? "String " : "Option ") + std::to_string(i + 1);
            if (s.Has(name)) EXPECT_EQ(Printed(s.Get(name).text), b.One(key)) << name;
            compared += s.Has(name);
        }
        break;
    case 17: {
        const uint32_t size = s.Get("Size").number; // 0x7FFF: the extended size; 0xFFFF: unknown
        if (size != 0x7FFF && size != 0xFFFF && b.values.count("Size"))
            EXPECT_EQ((size & 0x8000) ? (size & 0x7FFF) : static_cast<long long>(size) << 10,
                      Kilobytes(b.One("Size")));
        break;
    }
    }
    return compared;
}

// Structures refused by their decoder's signature test.
const std::set<std::string> kKnownRefusals = {
    "surface-laptop3-amd-3.2.bin:128:0x0012",       // a vendor record of Length 5
    "toshiba-satellite-pro-l70-2.7.bin:128:0x003E", // a test record of Length 8, version byte 0xAA
};

// The result and the record as text; `sink` keeps the record.
std::string Record(const CCVSmBiosItem& decoder, RecordingSink& sink) {
    return std::to_string(decoder.Decode(sink)) + " " + Line(sink) + "\n";
}
std::string Record(const CCVSmBiosItem& decoder) {
    RecordingSink sink;
    return Record(decoder, sink);
}

} // namespace

TEST(RealTables, AgreeWithDmidecode) {
    const Texts names = RealTableNames();
    ASSERT_GE(names.size(), 30u);
    std::set<std::string> refused;
    std::map<unsigned, size_t> compared; // by type
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        TraceRecorder::Clear();
        CSmBiosTable table;
        AttachCopy(table, ReadFile(TestDataPath("real/" + name)));
        const std::vector<Block> blocks =
            ReadDmidecode(TestDataPath("real/" + name.substr(0, name.size() - 4) + ".dmidecode.txt"));
        ASSERT_FALSE(blocks.empty());

        // The walk: every structure but the end-of-table markers is indexed.
        size_t ends = 0;
        CCSmBiosItem item;
        for (const Block& b : blocks) {
            ends += b.type == 127;
            if (b.type != 127)
                EXPECT_TRUE(table.GetByHandle(static_cast<uint16_t>(b.handle), item)) << b.handle;
        }
        EXPECT_EQ(table.Count() + ends, blocks.size());

        std::string fresh, handedOn, reused;
        for (uint32_t i = 0; i < table.Count(); ++i) {
            ASSERT_TRUE(table.GetByIndex(i, item));
            auto a = DecoderFor(item.Type()), b = DecoderFor(item.Type());
            if (!a) continue;
            a->CopyFrom(item);
            b->MoveFrom(item);
            fresh += Record(*a);
            handedOn += Record(*b);
        }
        EXPECT_EQ(handedOn, fresh);

        // Enumerations by ascending type visit the type index in order; the
        // k-th structure of a type is dmidecode's k-th block of that type.
        for (unsigned type = 0; type < 256; ++type) {
            const auto decoder = DecoderFor(static_cast<uint8_t>(type));
            if (!decoder) continue;
            std::vector<const Block*> ofType;
            for (const Block& b : blocks)
                if (b.type == type) ofType.push_back(&b);
            size_t k = 0;
            table.StartTypeEnum(static_cast<uint8_t>(type));
            for (; table.NextOfType(*decoder); ++k) {
                RecordingSink sink;
                const std::string record = Record(*decoder, sink);
                reused += record;
                const std::string key = name + ":" + std::to_string(type) + Hex(":0x%04X", decoder->Handle());
                SCOPED_TRACE(key);
                ASSERT_LT(k, ofType.size());
                EXPECT_EQ(ofType[k]->handle, decoder->Handle());
                if (record.rfind(std::to_string(CCVSmBiosItem::kRefused) + " ", 0) == 0) {
                    refused.insert(key);
                    continue;
                }
                ASSERT_EQ(record.rfind("0 ", 0), 0u);
                compared[type] += Compare(*decoder, sink, *ofType[k]);
            }
            EXPECT_EQ(k, ofType.size()) << "type " << type;
        }
        EXPECT_EQ(reused, fresh);
    }
    EXPECT_EQ(refused, kKnownRefusals);
    // Make sure the comparisons ran for every type the corpus holds.
    for (unsigned type : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 16, 17, 39})
        EXPECT_GT(compared[type], 0u) << "type " << type;
}
