// Every real table against dmidecode's reading of the same bytes (the
// .dmidecode.txt beside each .bin): the walk finds the structures dmidecode
// shows, in its order within each type, and the attributes agree with it for
// the fields both show.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>
#include <sstream>

#include "RecordingSink.h"

namespace {

using Texts = std::vector<std::string>;

// One "Handle 0x0002, DMI type 2, 15 bytes" block: the values of each
// "\tKey: value" line (a key may repeat; "String 3" counts as "String #"),
// and the "\t\titem" lines under a key as the values of "Key[]".
struct Block {
    unsigned handle = 0, type = 0;
    std::map<std::string, Texts> values;
};

std::vector<Block> ReadDmidecode(const std::string& path, unsigned& version) {
    std::vector<Block> blocks;
    std::ifstream in(path);
    std::string line, key;
    for (unsigned major, minor; std::getline(in, line);) {
        Block b;
        if (std::sscanf(line.c_str(), "SMBIOS %u.%u", &major, &minor) == 2) version = major * 100 + minor;
        if (std::sscanf(line.c_str(), "Handle 0x%x, DMI type %u,", &b.handle, &b.type) == 2)
            blocks.push_back(b);
        const size_t colon = line.find(':');
        if (blocks.empty() || line.size() < 2 || line[0] != '\t') continue;
        if (line[1] == '\t') {
            blocks.back().values[key + "[]"].push_back(line.substr(2));
        } else if (colon != std::string::npos && colon > 1) {
            key = line.substr(1, colon - 1);
            if (std::isdigit(static_cast<unsigned char>(key.back())))
                key.replace(key.find_last_not_of("0123456789") + 1, std::string::npos, "#");
            blocks.back().values[key].push_back(line.size() > colon + 2 ? line.substr(colon + 2) : "");
        }
    }
    return blocks;
}

// dmidecode's keys of a type, "Key=Attribute" where the attribute is not the
// key without its spaces ('#': the k-th value of the key is attribute k), and
// how it shows the values: as strings (nullptr), or a number format and the
// text it shows for 0.
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
    {2, "0x%04X", "Chassis Handle, Contained Object Handles[]=ContainedObjHandle#"},
    {2, "%u", "Contained Object Handles=NrContainedObjHandles"},
    {3, nullptr, "Manufacturer, Version, Serial Number, Asset Tag"},
    {3, "0x%08X", "OEM Information=OEMDefined"},
    {4, nullptr,
     "Socket Designation, Manufacturer=ProcessorManufacturer, Version=ProcessorVersion, Serial Number, "
     "Asset Tag, Part Number"},
    {4, "%u MHz|Unknown", "External Clock, Max Speed, Current Speed"},
    {4, "0x%04X", "L1 Cache Handle, L2 Cache Handle, L3 Cache Handle"},
    {5, "0x%04X", "Associated Memory Slots[]=MemModuleHandle#"},
    {6, nullptr, "Socket Designation"},
    {7, nullptr, "Socket Designation"},
    {8, nullptr,
     "Internal Reference Designator=InternalDesignator, External Reference Designator=ExternalDesignator"},
    {9, nullptr, "Designation=SlotDesignation"},
    {10, nullptr, "Description=Description#"},
    {11, nullptr, "String #=OEMString#"},
    {12, nullptr, "Option #=ConfigurationString#"},
    {16, "%u", "Number Of Devices=NrDevices"},
    {17, nullptr, "Locator=DeviceLocator, Bank Locator, Manufacturer, Serial Number, Part Number"},
    {17, "%u MT/s|Unknown", "Speed"},
    {39, nullptr, "Location, Name=DeviceName, Manufacturer, Serial Number"}};

// Our value as dmidecode shows it; empty when it shows another field there.
std::string AsShown(const Compared& c, const RecordedAttribute& a) {
    std::string text = a.text, form = c.form ? c.form : "";
    for (char& ch : text) // control characters as '.'
        if (static_cast<unsigned char>(ch) < 32 || ch == 127) ch = '.';
    if (!c.form) return text;
    if (a.number == 0xFFFF && form[0] != '0') return ""; // dmidecode shows the extended field
    if (a.number == 0 && form.find('|') != std::string::npos) return form.substr(form.find('|') + 1);
    char shown[32];
    std::snprintf(shown, sizeof shown, form.substr(0, form.find('|')).c_str(), a.number);
    return shown;
}

// The UUID as dmidecode shows it: in table order before SMBIOS 2.6, from 2.6
// on with the first three fields byte-swapped, as the attribute has them.
std::string ShownUuid(std::string uuid, unsigned version) {
    if (uuid.find_first_not_of("F-") == std::string::npos) return "Not Present";
    if (uuid.find_first_not_of("0-") == std::string::npos) return "Not Settable";
    std::transform(uuid.begin(), uuid.end(), uuid.begin(), [](char c) { return std::tolower(c); });
    for (const auto& [at, n] : {std::pair<int, int>{0, 8}, {9, 4}, {14, 4}}) // fields of n digits
        for (int i = at; version < 206 && i < at + n / 2; i += 2)
            std::swap_ranges(&uuid[i], &uuid[i + 2], &uuid[2 * at + n - 2 - i]);
    return uuid;
}

// Compares one record with its block; returns the number of values compared.
size_t Compare(const RecordingSink& s, const Block& b, unsigned version) {
    size_t compared = 0;
    for (const Compared& c : kCompared) {
        std::istringstream keys(c.keys);
        for (std::string key; c.type == b.type && std::getline(keys >> std::ws, key, ',');) {
            std::string attribute = key.substr(key.find('=') + 1);
            key = key.substr(0, key.find('='));
            attribute.erase(std::remove(attribute.begin(), attribute.end(), ' '), attribute.end());
            const Texts shown = b.values.count(key) ? b.values.at(key) : Texts{};
            for (size_t k = 0; k < shown.size() && (k == 0 || attribute.back() == '#'); ++k, ++compared) {
                const std::string name = attribute.back() == '#'
                                             ? attribute.substr(0, attribute.size() - 1) + std::to_string(k)
                                             : attribute;
                const RecordedAttribute* a = s.Find(name);
                if (a == nullptr)
                    EXPECT_TRUE(shown[k] == "Not Specified" || shown[k] == "<BAD INDEX>")
                        << name << ": " << shown[k];
                else if (!AsShown(c, *a).empty() &&
                         (!c.form || c.form[0] != '0' || shown[k].rfind("0x", 0) == 0))
                    EXPECT_EQ(AsShown(c, *a), shown[k]) << name;
            }
        }
    }
    if (b.type == 1) EXPECT_EQ(ShownUuid(s.Find("UUID")->text, version), b.values.at("UUID").front());
    if (b.type == 4 && b.values.count("ID")) { // "A9 06 03 00 FF FB EB BF", byte 0x08 first
        std::istringstream bytes(b.values.at("ID").front());
        std::string id;
        for (std::string byte; bytes >> byte;)
            id = byte + id;
        EXPECT_EQ(s.Find("ProcessorID")->text, id.substr(std::min(id.find_first_not_of('0'), id.size() - 1)));
    }
    return compared;
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
        const auto ends =
            std::count_if(blocks.begin(), blocks.end(), [](const Block& b) { return b.type == 127; });
        EXPECT_EQ(table.Count() + ends, blocks.size()) << "every structure but the end-of-table markers";

        // Enumerations by ascending type visit the type index in order; the
        // k-th structure of a type is dmidecode's k-th block of that type.
        for (unsigned type = 0; type < 256; ++type) {
            const auto decoder = DecoderFor(static_cast<uint8_t>(type));
            std::vector<const Block*> ofType;
            for (const Block& b : blocks)
                if (b.type == type) ofType.push_back(&b);
            table.StartTypeEnum(static_cast<uint8_t>(type));
            size_t k = 0;
            for (; decoder && table.NextOfType(*decoder); ++k) {
                ASSERT_LT(k, ofType.size());
                EXPECT_EQ(ofType[k]->handle, decoder->Handle());
                RecordingSink sink;
                if (decoder->Decode(sink) != 0)
                    refused.push_back(name + ":" + std::to_string(decoder->Handle()));
                else
                    compared[type] += Compare(sink, *ofType[k], version);
            }
            EXPECT_TRUE(!decoder || k == ofType.size()) << "type " << type;
        }
    }
    // Vendor records under the OEM types that fail the signature test.
    std::sort(refused.begin(), refused.end());
    EXPECT_EQ(refused, Texts({"surface-laptop3-amd-3.2.bin:18", "toshiba-satellite-pro-l70-2.7.bin:62"}));
    for (unsigned type : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 16, 17, 39})
        EXPECT_GT(compared[type], 0u) << "type " << type;
}
