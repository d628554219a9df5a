// Every real table against dmidecode's reading of the same bytes (the
// .dmidecode.txt beside each .bin): the walk finds every structure dmidecode
// shows, in its order within each type, and the attributes agree with it for
// the fields both show. Decoders reused over an enumeration or handed a
// structure by MoveFrom give the records of fresh ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <fstream>
#include <map>
#include <sstream>

#include "RecordingSink.h"

namespace {

using Texts = std::vector<std::string>;

// One "Handle 0x0002, DMI type 2, 15 bytes" block: "\tKey: value" lines (a key
// may repeat), and the "\t\titem" lines under a key as the values of "Key[]".
struct Block {
    unsigned handle = 0, type = 0;
    std::map<std::string, Texts> values;
    std::string One(const std::string& key) const { return values.count(key) ? values.at(key).front() : ""; }
    Texts All(const std::string& key) const { return values.count(key) ? values.at(key) : Texts{}; }
};

std::vector<Block> ReadDmidecode(const std::string& path, unsigned& version) {
    std::vector<Block> blocks;
    std::ifstream in(path);
    std::string line, key;
    for (unsigned major, minor; std::getline(in, line);) {
        Block b;
        if (std::sscanf(line.c_str(), "SMBIOS %u.%u present", &major, &minor) == 2)
            version = major * 100 + minor;
        if (std::sscanf(line.c_str(), "Handle 0x%x, DMI type %u,", &b.handle, &b.type) == 2)
            blocks.push_back(b);
        if (blocks.empty() || line[0] != '\t') continue;
        if (line[1] == '\t') {
            blocks.back().values[key + "[]"].push_back(line.substr(2));
        } else if (const size_t colon = line.find(':'); colon != std::string::npos) {
            key = line.substr(1, colon - 1);
            blocks.back().values[key].push_back(line.size() > colon + 2 ? line.substr(colon + 2) : "");
        }
    }
    return blocks;
}

// dmidecode's keys of a type and how it shows their values: a string
// (nullptr), or a format for the number and the text it shows for 0.
// "Key=Attribute" where the attribute is not the key without its spaces.
struct Compared {
    uint8_t type;
    const char* form;
    const char* keys;
};
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
     "Socket Designation, Manufacturer=ProcessorManufacturer, Version=ProcessorVersion, Serial Number, "
     "Asset Tag, Part Number"},
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
    char text[24];
    std::snprintf(text, sizeof text, format, v);
    return text;
}

// The UUID as dmidecode shows it: bytes in table order before SMBIOS 2.6,
// from 2.6 on the first three fields byte-swapped, as the attribute has them.
std::string ShownUuid(std::string attribute, unsigned version) {
    if (attribute.find_first_not_of("F-") == std::string::npos) return "Not Present";
    if (attribute.find_first_not_of("0-") == std::string::npos) return "Not Settable";
    for (char& c : attribute)
        c = static_cast<char>(std::tolower(c));
    for (const auto& [at, n] : {std::pair<int, int>{0, 4}, {9, 2}, {14, 2}})
        for (int i = 0; version < 206 && i < n / 2; ++i)
            for (int k = 0; k < 2; ++k)
                std::swap(attribute[at + 2 * i + k], attribute[at + 2 * (n - 1 - i) + k]);
    return attribute;
}

// The handles of a numbered list, as dmidecode shows them.
Texts Handles(const RecordingSink& s, const std::string& prefix) {
    Texts out;
    for (int i = 0; s.Has(prefix + std::to_string(i)); ++i)
        out.push_back(Hex("0x%04X", s.Get(prefix + std::to_string(i)).number));
    return out;
}

// Compares one record with its block; returns the number of values compared.
size_t Compare(const CCVSmBiosItem& d, const RecordingSink& s, const Block& b, unsigned version) {
    size_t compared = 0;
    for (const Compared& c : kCompared) {
        std::istringstream keys(c.keys);
        for (std::string key, attribute; c.type == d.Type() && std::getline(keys >> std::ws, key, ',');) {
            const size_t equals = key.find('=');
            attribute = equals == std::string::npos ? key : key.substr(equals + 1);
            key = key.substr(0, equals);
            attribute.erase(std::remove(attribute.begin(), attribute.end(), ' '), attribute.end());
            if (b.values.count(key) == 0) continue;
            const std::string shown = b.One(key), form = c.form ? c.form : "";
            ++compared;
            if (!c.form && !s.Has(attribute))
                EXPECT_TRUE(shown == "Not Specified" || shown == "<BAD INDEX>") << attribute << ": " << shown;
            else if (!c.form)
                EXPECT_EQ(Printed(s.Get(attribute).text), shown) << attribute;
            else if (s.Has(attribute) && s.Get(attribute).number != 0xFFFF &&
                     shown.rfind("0x", 0) == form.rfind("0x", 0))
                EXPECT_EQ(s.Get(attribute).number == 0 && form.find('|') != std::string::npos
                              ? form.substr(form.find('|') + 1)
                              : Hex(form.substr(0, form.find('|')).c_str(), s.Get(attribute).number),
                          shown)
                    << attribute;
        }
    }
    switch (d.Type()) {
    case 1:
        EXPECT_EQ(ShownUuid(s.Get("UUID").text, version), b.One("UUID"));
        break;
    case 2:
        if (b.values.count("Contained Object Handles[]"))
            EXPECT_EQ(Handles(s, "ContainedObjHandle"), b.All("Contained Object Handles[]"));
        break;
    case 4: { // "F2 06 03 00 FF FB EB BF", byte 0x08 first
        std::istringstream bytes(b.One("ID"));
        uint64_t id = 0;
        unsigned byte = 0;
        for (int k = 0; k < 8 && bytes >> std::hex >> byte; ++k)
            id |= static_cast<uint64_t>(byte) << (8 * k);
        char text[17];
        std::snprintf(text, sizeof text, "%" PRIX64, id);
        if (b.values.count("ID")) EXPECT_EQ(s.Get("ProcessorID").text, text);
        break;
    }
    case 5:
        EXPECT_EQ(Handles(s, "MemModuleHandle"), b.All("Associated Memory Slots[]"));
        EXPECT_EQ(s.Has("EnabledECC"), b.values.count("Enabled Error Correcting Capabilities") == 1);
        break;
    case 10: {
        EXPECT_EQ(b.All("Type").size(), (d.Length() - 4u) / 2);
        const Texts descriptions = b.All("Description");
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
            if (s.Has(name) && ++compared)
                EXPECT_EQ(Printed(s.Get(name).text),
                          b.One((d.Type() == 11 ? "String " : "Option ") + std::to_string(i + 1)));
        }
        break;
    }
    return compared;
}

// The result and the record as text; `keep` receives the record.
std::string Record(const CCVSmBiosItem& decoder, RecordingSink* keep = nullptr) {
    RecordingSink local;
    RecordingSink& sink = keep ? *keep : local;
    return std::to_string(decoder.Decode(sink)) + " " + sink.Line() + "\n";
}

} // namespace

TEST(RealTables, AgreeWithDmidecode) {
    const Texts names = RealTableNames();
    ASSERT_GE(names.size(), 30u);
    Texts refused;
    std::map<unsigned, size_t> compared; // by type
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        CSmBiosTable table;
        AttachCopy(table, ReadFile(TestDataPath("real/" + name)));
        unsigned version = 0;
        const std::vector<Block> blocks = ReadDmidecode(
            TestDataPath("real/" + name.substr(0, name.size() - 4) + ".dmidecode.txt"), version);
        ASSERT_TRUE(!blocks.empty() && version > 0);

        // Every structure but the end-of-table markers is indexed.
        EXPECT_EQ(table.Count() + std::count_if(blocks.begin(), blocks.end(),
                                                [](const Block& b) { return b.type == 127; }),
                  blocks.size());
        std::string fresh, handedOn, reused;
        CCSmBiosItem item;
        for (uint32_t i = 0; table.GetByIndex(i, item); ++i) {
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
                const std::string record = Record(*decoder, &sink);
                reused += record;
                ASSERT_LT(k, ofType.size());
                EXPECT_EQ(ofType[k]->handle, decoder->Handle());
                if (record.rfind("0 ", 0) != 0)
                    refused.push_back(name + Hex(":0x%04X", decoder->Handle()));
                else
                    compared[type] += Compare(*decoder, sink, *ofType[k], version);
            }
            EXPECT_EQ(k, ofType.size()) << "type " << type;
        }
        EXPECT_EQ(reused, fresh);
    }
    // Vendor records under the OEM types that fail the signature test.
    std::sort(refused.begin(), refused.end());
    EXPECT_EQ(refused,
              Texts({"surface-laptop3-amd-3.2.bin:0x0012", "toshiba-satellite-pro-l70-2.7.bin:0x003E"}));
    for (unsigned type : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 16, 17, 39})
        EXPECT_GT(compared[type], 0u) << "type " << type;
}
