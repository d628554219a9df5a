// The tables the benchmarks run on: the real tables of the test corpus and
// generated tables of any size up to 65,535 structures. Free of platform
// types: the native and the Windows benchmarks share it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bench {

using Bytes = std::vector<uint8_t>;

struct NamedTable {
    std::string name; // "dell-poweredge-r640-3.0" or "generated-10000"
    std::string path; // the file it was read from; empty for generated tables
    Bytes bytes;      // the raw structure table, byte 0 = Type of the first structure
};

// Folder of the corpus (tests/data/real), as the binary spells it.
std::string CorpusFolder();
// Every real table listed in the corpus checksum file, in file order.
std::vector<NamedTable> CorpusTables();

// Whole structures of a table, end-of-table markers (type 127) left out.
std::vector<Bytes> SplitStructures(const Bytes& table);
// Structures a table indexes (its walk without type 127).
size_t CountStructures(const Bytes& table);

// A table of `count` indexed structures (1 to 65,535) and one end-of-table
// marker. The structures repeat one block of 100 real structures taken at
// even steps through the whole corpus, so every size has the same mix of
// types and strings; handles run 0, 1, ... in table order (the marker gets
// the next one), so every handle is distinct.
Bytes GeneratedTable(uint32_t count);

// The same table behind a 32-byte "_SM3_" entry point, as dmidecode
// --from-dump reads it (SMBIOS 3.2).
Bytes WithEntryPoint3(const Bytes& table);

Bytes ReadBinary(const std::string& path);
bool WriteBinary(const std::string& path, const Bytes& bytes);

} // namespace bench
