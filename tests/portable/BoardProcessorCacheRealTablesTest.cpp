// The decoders of types 2 to 7 on the real tables: every such structure
// decodes with result 0, and the values agree with dmidecode's text output of
// the same table (the .dmidecode.txt beside each .bin).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "RecordingSink.h"
#include "core/SmBiosTable.h"
#include "items/Decoders.h"

namespace {

// One structure as dmidecode prints it: "Handle 0x0002, DMI type 2, 15 bytes",
// a title line, then "\tKey: value" lines, each possibly followed by
// "\t\titem" lines.
struct OracleBlock {
    unsigned handle = 0;
    unsigned type = 0;
    std::map<std::string, std::string> values;
    std::map<std::string, std::vector<std::string>> items;

    bool Has(const std::string& key) const { return values.count(key) != 0; }
    std::string operator[](const std::string& key) const {
        auto it = values.find(key);
        return it == values.end() ? "<absent>" : it->second;
    }
};

std::vector<OracleBlock> ReadOracle(const std::string& path) {
    std::vector<OracleBlock> blocks;
    std::ifstream in(path);
    std::string line, lastKey;
    bool inBlock = false;
    while (std::getline(in, line)) {
        unsigned handle = 0, type = 0;
        if (std::sscanf(line.c_str(), "Handle 0x%x, DMI type %u,", &handle, &type) == 2) {
            blocks.push_back({});
            blocks.back().handle = handle;
            blocks.back().type = type;
            inBlock = true;
            continue;
        }
        if (line.empty()) inBlock = false;
        if (!inBlock) continue;
        if (line.rfind("\t\t", 0) == 0) {
            blocks.back().items[lastKey].push_back(line.substr(2));
        } else if (line.rfind("\t", 0) == 0) {
            const auto colon = line.find(':');
            if (colon == std::string::npos) continue;
            lastKey = line.substr(1, colon - 1);
            blocks.back().values[lastKey] = colon + 2 <= line.size() ? line.substr(colon + 2) : "";
        }
    }
    return blocks;
}

// dmidecode's reading of a string: control characters become '.'.
std::string Printed(const std::string& s) {
    std::string out = s;
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 32 || c == 127) c = '.';
    return out;
}

std::string Hex4(uint32_t v) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", v);
    return text;
}

// "N unit" or "Unknown"/"Unspecified" for 0.
std::string Numbered(uint32_t v, const char* unit, const char* zero) {
    return v == 0 ? zero : std::to_string(v) + unit;
}

struct RealTable {
    std::string name;
    CSmBiosTable table;
    std::vector<OracleBlock> oracle;

    explicit RealTable(const std::string& file) : name(file) {
        const Bytes bytes = ReadFile(TestDataPath("real/" + file));
        auto* buffer = new uint8_t[bytes.size() ? bytes.size() : 1];
        if (!bytes.empty()) std::memcpy(buffer, bytes.data(), bytes.size());
        table.Attach(buffer, static_cast<uint32_t>(bytes.size()));
        oracle = ReadOracle(TestDataPath("real/" + file.substr(0, file.size() - 4) + ".dmidecode.txt"));
    }

    // Decodes every structure of `type` with decoder D and hands the record
    // and dmidecode's block of the same structure to `check`. Returns the
    // number of structures.
    template <class D, class Check> int ForEach(uint8_t type, Check check) {
        std::vector<const OracleBlock*> blocks;
        for (const auto& b : oracle)
            if (b.type == type) blocks.push_back(&b);
        int n = 0;
        for (uint32_t i = 0; i < table.Count(); ++i) {
            D decoder;
            if (!table.GetByIndex(i, decoder) || decoder.Type() != type) continue;
            RecordingSink sink;
            EXPECT_EQ(decoder.Decode(sink), 0) << name << " type " << int(type) << " #" << n;
            EXPECT_EQ(sink.Get("Handle").number, decoder.Handle());
            if (static_cast<size_t>(n) < blocks.size()) {
                const OracleBlock& block = *blocks[n];
                EXPECT_EQ(block.handle, decoder.Handle()) << name;
                SCOPED_TRACE(name + " handle " + Hex4(decoder.Handle()));
                check(decoder, sink, block);
            }
            ++n;
        }
        EXPECT_EQ(static_cast<size_t>(n), blocks.size()) << name << " type " << int(type);
        return n;
    }
};

// A string attribute agrees with dmidecode's value; when it is left out,
// dmidecode has no string there either.
void ExpectString(const RecordingSink& sink, const char* attribute, const OracleBlock& block,
                  const char* key) {
    if (sink.Has(attribute)) {
        EXPECT_EQ(Printed(sink.Get(attribute).text), block[key]) << attribute;
    } else if (block.Has(key)) {
        const std::string v = block[key];
        EXPECT_TRUE(v == "Not Specified" || v == "<BAD INDEX>") << attribute << ": " << v;
    }
}

// Sizes as dmidecode prints them ("16 kB", "2 MB", "1 GB") in kB; -1 when not a size.
long Kilobytes(const std::string& text) {
    long value = 0;
    char unit[8] = {};
    if (std::sscanf(text.c_str(), "%ld %7s", &value, unit) != 2) return -1;
    if (std::strcmp(unit, "kB") == 0) return value;
    if (std::strcmp(unit, "MB") == 0) return value * 1024;
    if (std::strcmp(unit, "GB") == 0) return value * 1024 * 1024;
    return -1;
}

// The size a cache size word stands for: 15 bits in units of 1 kB or, with
// bit 15, of 64 kB.
long CacheKilobytes(uint32_t word) {
    return static_cast<long>(word & 0x7FFF) * ((word & 0x8000) ? 64 : 1);
}

} // namespace

TEST(RealTables, TypesTwoToSevenAgreeWithDmidecode) {
    int counts[8] = {};
    int cacheSizes = 0, processorIds = 0, slotLists = 0;
    for (const auto& file : RealTableNames()) {
        RealTable t(file);
        ASSERT_FALSE(t.oracle.empty()) << file;

        counts[2] += t.ForEach<CBaseboardItem>(
            2, [](const CBaseboardItem& d, const RecordingSink& s, const OracleBlock& b) {
                ExpectString(s, "Manufacturer", b, "Manufacturer");
                ExpectString(s, "Product", b, "Product Name");
                ExpectString(s, "Version", b, "Version");
                ExpectString(s, "SerialNumber", b, "Serial Number");
                ExpectString(s, "AssetTag", b, "Asset Tag");
                ExpectString(s, "Location", b, "Location In Chassis");
                if (s.Has("ChassisHandle"))
                    EXPECT_EQ(Hex4(s.Get("ChassisHandle").number), b["Chassis Handle"]);
                if (s.Has("NrContainedObjHandles")) {
                    const uint32_t n = s.Get("NrContainedObjHandles").number;
                    EXPECT_EQ(std::to_string(n), b["Contained Object Handles"]);
                    const auto it = b.items.find("Contained Object Handles");
                    for (uint32_t i = 0; i < n && d.Length() > 15; ++i) {
                        const std::string name = "ContainedObjHandle" + std::to_string(i);
                        ASSERT_TRUE(s.Has(name));
                        ASSERT_NE(it, b.items.end());
                        EXPECT_EQ(Hex4(s.Get(name).number), it->second.at(i));
                    }
                }
            });

        counts[3] += t.ForEach<CEnclosureItem>(
            3, [](const CEnclosureItem& d, const RecordingSink& s, const OracleBlock& b) {
                ExpectString(s, "Manufacturer", b, "Manufacturer");
                ExpectString(s, "Version", b, "Version");
                ExpectString(s, "SerialNumber", b, "Serial Number");
                ExpectString(s, "AssetTag", b, "Asset Tag");
                EXPECT_EQ(s.attributes.at(4).name, "Type");
                EXPECT_EQ(b["Lock"], (s.attributes.at(4).number & 0x80) ? "Present" : "Not Present");
                if (s.Has("OEMDefined")) {
                    char oem[16];
                    std::snprintf(oem, sizeof oem, "0x%08X", s.Get("OEMDefined").number);
                    EXPECT_EQ(oem, b["OEM Information"]);
                }
                if (s.Has("Height"))
                    EXPECT_EQ(Numbered(s.Get("Height").number, " U", "Unspecified"), b["Height"]);
                if (s.Has("NrPowerCords"))
                    EXPECT_EQ(Numbered(s.Get("NrPowerCords").number, "", "Unspecified"),
                              b["Number Of Power Cords"]);
                if (s.Has("NrContainedElements")) {
                    const uint32_t n = s.Get("NrContainedElements").number;
                    EXPECT_EQ(std::to_string(n), b["Contained Elements"]);
                    const uint32_t m = s.Get("LenContainedElements").number;
                    for (uint32_t i = 0; i < n; ++i) {
                        const std::string name = "ContainedElements" + std::to_string(i);
                        ASSERT_TRUE(s.Has(name)) << name;
                        const Bytes expected(d.Data() + 0x15 + m * i, d.Data() + 0x15 + m * (i + 1));
                        EXPECT_EQ(s.Get(name).bytes, expected);
                    }
                }
            });

        counts[4] += t.ForEach<CProcessorItem>(
            4, [&](const CProcessorItem&, const RecordingSink& s, const OracleBlock& b) {
                ExpectString(s, "SocketDesignation", b, "Socket Designation");
                ExpectString(s, "ProcessorManufacturer", b, "Manufacturer");
                ExpectString(s, "ProcessorVersion", b, "Version");
                ExpectString(s, "SerialNumber", b, "Serial Number");
                ExpectString(s, "AssetTag", b, "Asset Tag");
                ExpectString(s, "PartNumber", b, "Part Number");
                EXPECT_EQ(Numbered(s.Get("MaxSpeed").number, " MHz", "Unknown"), b["Max Speed"]);
                EXPECT_EQ(Numbered(s.Get("CurrentSpeed").number, " MHz", "Unknown"), b["Current Speed"]);
                EXPECT_EQ(Numbered(s.Get("ExternalClock").number, " MHz", "Unknown"), b["External Clock"]);
                if (b.Has("ID")) { // "F2 06 03 00 FF FB EB BF", byte 0x08 first
                    std::istringstream bytes(b["ID"]);
                    uint64_t id = 0;
                    unsigned byte = 0;
                    for (int k = 0; k < 8 && bytes >> std::hex >> byte; ++k)
                        id |= static_cast<uint64_t>(byte) << (8 * k);
                    char text[17];
                    FormatHex64(id, text);
                    EXPECT_EQ(s.Get("ProcessorID").text, text);
                    ++processorIds;
                }
                for (const char* level : {"L1", "L2", "L3"}) {
                    const std::string key = std::string(level) + " Cache Handle";
                    if (b[key].rfind("0x", 0) == 0)
                        EXPECT_EQ(Hex4(s.Get(std::string(level) + "CacheHandle").number), b[key]);
                }
            });

        counts[5] += t.ForEach<CMemCtrlOldItem>(
            5, [&](const CMemCtrlOldItem&, const RecordingSink& s, const OracleBlock& b) {
                const uint32_t slots = s.Get("NrSlots").number;
                EXPECT_EQ(std::to_string(slots), b["Associated Memory Slots"]);
                const auto it = b.items.find("Associated Memory Slots");
                ASSERT_NE(it, b.items.end());
                ASSERT_EQ(it->second.size(), slots);
                for (uint32_t i = 0; i < slots; ++i)
                    EXPECT_EQ(Hex4(s.Get("MemModuleHandle" + std::to_string(i)).number), it->second[i]);
                EXPECT_EQ(s.Has("EnabledECC"), b.Has("Enabled Error Correcting Capabilities"));
                ++slotLists;
            });

        counts[6] += t.ForEach<CMemModOldItem>(
            6, [](const CMemModOldItem&, const RecordingSink& s, const OracleBlock& b) {
                ExpectString(s, "SocketDesignation", b, "Socket Designation");
                EXPECT_EQ(Numbered(s.Get("CurrentSpeed").number, " ns", "Unknown"), b["Current Speed"]);
            });

        counts[7] +=
            t.ForEach<CCacheItem>(7, [&](const CCacheItem& d, const RecordingSink& s, const OracleBlock& b) {
                ExpectString(s, "SocketDesignation", b, "Socket Designation");
                EXPECT_EQ(s.attributes.at(0).number, 7u);
                const uint32_t installed = s.Get("InstalledSize").number;
                const uint32_t maximum = s.Get("MaxCacheSize").number;
                // A structure with the 32-bit sizes of SMBIOS 3.1 (Length 27 and
                // more) is shown by dmidecode from those; only the words are ours.
                if (d.Length() < 0x1B && Kilobytes(b["Installed Size"]) >= 0) {
                    EXPECT_EQ(CacheKilobytes(installed), Kilobytes(b["Installed Size"]));
                    EXPECT_EQ(CacheKilobytes(maximum), Kilobytes(b["Maximum Size"]));
                    ++cacheSizes;
                }
                if (d.Length() > 0x0F) {
                    // The second "Type" (the system cache type) follows "ECC".
                    const auto names = s.Names();
                    const auto ecc = std::find(names.begin(), names.end(), "ECC");
                    ASSERT_NE(ecc, names.end());
                    EXPECT_EQ(*(ecc + 1), "Type");
                    EXPECT_EQ(Numbered(s.Get("Speed").number, " ns", "Unknown"), b["Speed"]);
                }
            });
    }
    // The corpus holds every one of these types; make sure the checks ran.
    for (int type = 2; type <= 7; ++type)
        EXPECT_GT(counts[type], 0) << "type " << type;
    EXPECT_GT(cacheSizes, 100);
    EXPECT_GT(processorIds, 20);
    EXPECT_GT(slotLists, 0);
}
