// Every real table against dmidecode's reading of the same bytes (the .dmidecode.txt beside each .bin):
// each type's enumeration finds the structures dmidecode shows in its order, and the attributes agree
// with it for the fields both show.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>
#include <sstream>

#include "RecordingSink.h"

namespace {

using Texts = std::vector<std::string>;

// One "Handle 0x0002, DMI type 2, 15 bytes" block: the values of each "\tKey: value" line (a key may
// repeat; "String 3" counts as "String #"), and the "\t\titem" lines under a key as those of "Key[]".
struct Block {
    unsigned handle = 0, type = 0;
    std::map<std::string, Texts> values;
};

std::vector<Block> ReadDmidecode(const std::string& path) {
    std::vector<Block> blocks;
    std::ifstream in(path);
    std::string line, key;
    while (std::getline(in, line)) {
        Block b;
        const size_t colon = line.find(':');
        if (std::sscanf(line.c_str(), "Handle 0x%x, DMI type %u,", &b.handle, &b.type) == 2)
            blocks.push_back(b);
        if (blocks.empty() || line.size() < 2 || line[0] != '\t') continue;
        if (line[1] == '\t') {
            blocks.back().values[key + "[]"].push_back(line.substr(2));
        } else if (colon != std::string::npos) {
            key = line.substr(1, colon - 1);
            const size_t number = key.find_last_not_of("0123456789") + 1;
            if (number < key.size()) key.replace(number, std::string::npos, "#");
            blocks.back().values[key].push_back(line.substr(std::min(colon + 2, line.size())));
        }
    }
    return blocks;
}

// dmidecode's keys per type: "Key=Attribute" where the attribute is not the key without its spaces ('#':
// the k-th value of the key is attribute k), "Key|format" for numbers (where dmidecode shows a number).
const std::map<int, const char*> kCompared = {
    {0, "Vendor, Version, Release Date"},
    {1, "Manufacturer, Product Name, Version, Serial Number, SKU Number, Family"},
    {2,
     "Manufacturer, Product Name=Product, Version, Serial Number, Asset Tag, Location In Chassis=Location, "
     "Chassis Handle|0x%04X, Contained Object Handles[]=ContainedObjHandle#|0x%04X, "
     "Contained Object Handles=NrContainedObjHandles|%u"},
    {3, "Manufacturer, Version, Serial Number, Asset Tag, OEM Information=OEMDefined|0x%08X"},
    {4, "Socket Designation, Manufacturer=ProcessorManufacturer, Version=ProcessorVersion, Serial Number, "
        "Asset Tag, Part Number, External Clock|%u MHz, Max Speed|%u MHz, "
        "Current Speed|%u MHz, L1 Cache Handle|0x%04X, L2 Cache Handle|0x%04X, L3 Cache Handle|0x%04X"},
    {5, "Associated Memory Slots[]=MemModuleHandle#|0x%04X"},
    {6, "Socket Designation"},
    {7, "Socket Designation"},
    {8, "Internal Reference Designator=InternalDesignator, External Reference Designator=ExternalDesignator"},
    {9, "Designation=SlotDesignation"},
    {10, "Description=Description#"},
    {11, "String #=OEMString#"},
    {12, "Option #=ConfigurationString#"},
    {16, "Number Of Devices=NrDevices|%u"},
    {17, "Locator=DeviceLocator, Bank Locator, Manufacturer, Serial Number, Part Number, Speed|%u MT/s"},
    {39, "Location, Name=DeviceName, Manufacturer, Serial Number"}};

// Compares one record with its block; returns the number of values compared.
size_t Compare(const RecordingSink& s, const Block& b, bool tableOrder) {
    size_t compared = 0;
    std::istringstream keys(kCompared.count(b.type) ? kCompared.at(b.type) : "");
    for (std::string key; std::getline(keys >> std::ws, key, ',');) {
        const std::string form = key.find('|') < key.size() ? key.substr(key.find('|') + 1) : "";
        key.erase(std::min(key.find('|'), key.size()));
        std::string attribute = key.substr(key.find('=') + 1);
        attribute.erase(std::remove(attribute.begin(), attribute.end(), ' '), attribute.end());
        key.erase(std::min(key.find('='), key.size()));
        const Texts shown = b.values.count(key) ? b.values.at(key) : Texts{};
        for (size_t k = 0; k < shown.size() && (k == 0 || attribute.back() == '#'); ++k, ++compared) {
            std::string name = attribute;
            if (name.back() == '#') name.replace(name.size() - 1, 1, std::to_string(k));
            const RecordedAttribute* a = s.Find(name);
            std::string ours = a ? a->text : "Not Specified"; // dmidecode's text for a left-out string
            char number[32];
            if (a && !form.empty() && std::snprintf(number, sizeof number, form.c_str(), a->number) > 0)
                ours = number;
            std::replace_if(
                ours.begin(), ours.end(), [](char c) { return (c >= 0 && c < 32) || c == 127; }, '.');
            const bool digits = shown[k][0] >= '0' && shown[k][0] <= '9'; // 0 is text, 0xFFFF another field
            if (form.empty() || !a || (digits && (a->number != 0xFFFF || form[0] == '0')))
                EXPECT_EQ(ours, shown[k] == "<BAD INDEX>" ? "Not Specified" : shown[k]) << name;
        }
    }
    if (b.type == 1) { // in table order before SMBIOS 2.6, from 2.6 on with the first three fields swapped
        std::string uuid = s.Find("UUID")->text;
        std::transform(uuid.begin(), uuid.end(), uuid.begin(), [](char c) { return std::tolower(c); });
        for (const auto& [at, n] : {std::pair<int, int>{0, 8}, {9, 4}, {14, 4}}) // fields of n digits
            for (int i = at; tableOrder && i < at + n / 2; i += 2)
                std::swap_ranges(&uuid[i], &uuid[i + 2], &uuid[2 * at + n - 2 - i]);
        const bool ff = uuid.find_first_not_of("f-") == std::string::npos,
                   zero = uuid.find_first_not_of("0-") == std::string::npos;
        EXPECT_EQ(ff ? "Not Present" : zero ? "Not Settable" : uuid, b.values.at("UUID").front());
    }
    return compared;
}

} // namespace

TEST(RealTables, AgreeWithDmidecode) {
    std::map<unsigned, size_t> compared; // by type
    for (const std::string& name : RealTableNames()) {
        SCOPED_TRACE(name);
        const std::vector<Block> blocks =
            ReadDmidecode(TestDataPath("real/" + name.substr(0, name.size() - 4) + ".dmidecode.txt"));
        const bool before26 = name.substr(name.rfind('-') + 1) < "2.6"; // the names end in the SMBIOS version
        CSmBiosTable table;
        AttachCopy(table, ReadFile(TestDataPath("real/" + name)));
        CCSmBiosItem item;
        EXPECT_FALSE(table.NextOfType(item)) << "no enumeration before StartTypeEnum";

        // The k-th structure of a type is dmidecode's k-th block of it; lookups do not move the cursor.
        for (unsigned type = 0; type < 256; ++type) {
            const auto decoder = DecoderFor(static_cast<uint8_t>(type));
            std::vector<const Block*> ofType;
            for (const Block& b : blocks)
                if (b.type == type) ofType.push_back(&b);
            table.StartTypeEnum(static_cast<uint8_t>(type));
            size_t k = 0;
            for (RecordingSink sink; decoder && table.NextOfType(*decoder); ++k, sink.attributes.clear()) {
                ASSERT_LT(k, ofType.size());
                EXPECT_EQ(ofType[k]->handle, decoder->Handle());
                EXPECT_TRUE(table.GetByIndex(0, item) && table.GetByHandle(decoder->Handle(), item));
                if (decoder->Decode(sink) == 0)
                    compared[type] += Compare(sink, *ofType[k], before26); // or refused
            }
            EXPECT_TRUE(!decoder || k == ofType.size()) << "type " << type;
        }
        uint8_t* back = nullptr;
        uint32_t size = 0;
        ASSERT_TRUE(table.Detach(&back, &size));
        EXPECT_FALSE(table.GetByIndex(0, item) || table.NextOfType(item) || table.Detach(&back, &size));
        delete[] back; // the caller owns it now; the sanitizer sees a double free
    }
    for (const auto& [type, keys] : kCompared)
        EXPECT_GT(compared[type], 0u) << "type " << type;
}
