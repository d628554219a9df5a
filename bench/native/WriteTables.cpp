// korvix_bench_tables DIR: writes the generated benchmark tables into DIR,
// each as a raw table (generated-N.bin) and behind an "_SM3_" entry point
// (generated-N.dump, the form `dmidecode --from-dump` reads), and the same
// dump form of every corpus table (NAME.dump).
#include <cstdio>
#include <string>

#include "BenchTables.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    bool ok = true;
    for (uint32_t n : {100u, 1000u, 10000u, 65535u}) {
        const bench::Bytes table = bench::GeneratedTable(n);
        const std::string base = dir + "/generated-" + std::to_string(n);
        ok = bench::WriteBinary(base + ".bin", table) && ok;
        ok = bench::WriteBinary(base + ".dump", bench::WithEntryPoint3(table)) && ok;
    }
    for (const bench::NamedTable& t : bench::CorpusTables())
        ok = bench::WriteBinary(dir + "/" + t.name + ".dump", bench::WithEntryPoint3(t.bytes)) && ok;
    if (!ok) std::fprintf(stderr, "could not write every table into %s\n", dir.c_str());
    return ok ? 0 : 1;
}
