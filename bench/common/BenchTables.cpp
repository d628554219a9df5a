#include "BenchTables.h"

#include <fstream>
#include <iterator>
#include <sstream>

#include "core/SmBiosTable.h"

namespace bench {
namespace {
constexpr uint8_t kEndOfTable = 127;
constexpr size_t kBlock = 100;

void PutHandle(Bytes& structure, uint16_t handle) {
    structure[2] = static_cast<uint8_t>(handle);
    structure[3] = static_cast<uint8_t>(handle >> 8);
}

// The block every generated table repeats; built once.
const std::vector<Bytes>& Block() {
    static const std::vector<Bytes> block = [] {
        std::vector<Bytes> pool;
        for (const NamedTable& t : CorpusTables()) {
            std::vector<Bytes> parts = SplitStructures(t.bytes);
            pool.insert(pool.end(), parts.begin(), parts.end());
        }
        std::vector<Bytes> picked;
        for (size_t i = 0; i < kBlock && !pool.empty(); ++i)
            picked.push_back(pool[i * pool.size() / kBlock]);
        return picked;
    }();
    return block;
}
} // namespace

std::string CorpusFolder() {
    return std::string(KORVIX_BENCH_DATA_DIR) + "/real";
}

Bytes ReadBinary(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteBinary(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

// The checksum file names every table; broken/ ones are left out.
std::vector<NamedTable> CorpusTables() {
    std::ifstream sums(CorpusFolder() + "/SHA256SUMS");
    std::vector<NamedTable> tables;
    std::string line;
    while (std::getline(sums, line)) {
        std::istringstream fields(line);
        std::string sum, file;
        if (!(fields >> sum >> file)) continue;
        if (!file.empty() && file[0] == '*') file.erase(0, 1);
        if (file.find('/') != std::string::npos || file.size() < 5) continue;
        NamedTable t;
        t.name = file.substr(0, file.size() - 4); // without ".bin"
        t.path = CorpusFolder() + "/" + file;
        t.bytes = ReadBinary(t.path);
        if (!t.bytes.empty()) tables.push_back(std::move(t));
    }
    return tables;
}

std::vector<Bytes> SplitStructures(const Bytes& table) {
    std::vector<Bytes> out;
    const uint8_t* p = table.data();
    const uint8_t* const end = table.data() + table.size();
    while (end - p >= 4) {
        const uint32_t length = StructureLength(p, end);
        if (length == 0) break;
        if (p[0] != kEndOfTable) out.emplace_back(p, p + length);
        p += length;
    }
    return out;
}

size_t CountStructures(const Bytes& table) {
    return SplitStructures(table).size();
}

Bytes GeneratedTable(uint32_t count) {
    const std::vector<Bytes>& block = Block();
    Bytes table;
    if (block.empty() || count == 0) return table;
    if (count > 0xFFFF) count = 0xFFFF;
    table.reserve(static_cast<size_t>(count) * 80);
    for (uint32_t k = 0; k < count; ++k) {
        Bytes s = block[k % block.size()];
        PutHandle(s, static_cast<uint16_t>(k));
        table.insert(table.end(), s.begin(), s.end());
    }
    Bytes marker{kEndOfTable, 4, 0, 0, 0, 0};
    PutHandle(marker, static_cast<uint16_t>(count));
    table.insert(table.end(), marker.begin(), marker.end());
    return table;
}

Bytes WithEntryPoint3(const Bytes& table) {
    Bytes out(32, 0);
    const char anchor[] = "_SM3_";
    for (int i = 0; i < 5; ++i)
        out[i] = static_cast<uint8_t>(anchor[i]);
    out[0x06] = 0x18; // entry point length
    out[0x07] = 3;    // SMBIOS 3.2
    out[0x08] = 2;
    out[0x0A] = 1; // entry point revision
    const uint32_t size = static_cast<uint32_t>(table.size());
    for (int i = 0; i < 4; ++i)
        out[0x0C + i] = static_cast<uint8_t>(size >> (8 * i));
    out[0x10] = 0x20; // table address: right behind the entry point
    uint8_t sum = 0;
    for (int i = 0; i < 0x18; ++i)
        sum = static_cast<uint8_t>(sum + out[i]);
    out[0x05] = static_cast<uint8_t>(0x100 - sum);
    out.insert(out.end(), table.begin(), table.end());
    return out;
}

} // namespace bench
