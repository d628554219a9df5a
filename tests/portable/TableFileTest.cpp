// The table-file reader: where a 3.x table ends, and headers that announce
// no table. The fuzz harness checks that every table accepted is the slice
// its header names, with the end found by WholeStructuresEnd.
#include <gtest/gtest.h>

#include <cstring>

#include "TableBuilder.h"
#include "TableFile.h"

namespace {
Bytes Put(Bytes b, size_t at, uint64_t v, size_t width = 4) {
    for (size_t i = 0; i < width; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
    return b;
}
// A dump with a 2.x or a 3.x entry point, the table at 0x20.
Bytes Dump(const char* anchor, const Bytes& table, uint32_t size) {
    Bytes b(0x20, 0);
    std::memcpy(&b[0], anchor, std::strlen(anchor));
    if (anchor[3] == '3') return Cat({Put(Put(b, 0x0C, size), 0x10, 0x20, 8), table});
    return Cat({Put(Put(Put(b, 0x10, 0x5F494D445F, 5), 0x16, size, 2), 0x18, 0x20), table});
}
TableFileResult Parse(const Bytes& b) {
    return ParseTableFile(b.data(), b.size());
}

const Bytes kFirst = Structure(0, 0x0000, {1, 2, 3}, {"Vendor", "1.0"});
const Bytes kSmall = Table({kFirst, Structure(1, 0x0001, {4, 5}), Structure(127, 0x7F00, {})});
} // namespace

TEST(TableFile, ThreeXTableEndsAfterTheEndMarkerOrItsLastWholeStructure) {
    const Bytes noEnd = Table({kFirst, Structure(1, 1, {3, 4}, {"B"})});
    EXPECT_EQ(Parse(Dump("_SM3_", Cat({kSmall, Structure(2, 2, {9, 9})}), 999)).table, kSmall);
    EXPECT_EQ(Parse(Dump("_SM3_", noEnd, static_cast<uint32_t>(noEnd.size() - 1))).table, kFirst);
    for (const Bytes& tail : {Bytes{1, 3, 0, 0, 0, 0}, Bytes{1, 40, 0, 0, 0, 0}, Bytes{1, 4}}) {
        const Bytes b = Cat({kFirst, tail}); // Length below 4, past the end, a header cut short
        EXPECT_EQ(WholeStructuresEnd(b.data(), b.size()), kFirst.size());
    }
}

TEST(TableFile, HeadersThatAnnounceNoTableAreRefused) {
    const Bytes dump2 = Dump("_SM_", kSmall, static_cast<uint32_t>(kSmall.size()));
    const Bytes cases[] = {{},
                           Bytes(dump2.begin(), dump2.begin() + 0x1B),
                           Put(dump2, 0x10, 'X', 1), // no "_DMI_" anchor
                           Put(dump2, 0x16, 0, 2),
                           Put(dump2, 0x18, 0xFFFFFFF0u),
                           Dump("_SM3_", kSmall, 0),
                           Cat({{0, 3, 1, 0, 0xFF, 0, 0, 0}, kSmall}),
                           {'n', 'o', ' ', 't', 'a', 'b', 'l', 'e'}};
    for (const Bytes& file : cases) {
        const TableFileResult r = Parse(file);
        EXPECT_FALSE(r.ok || !r.table.empty() || r.error.empty()) << "case " << &file - cases;
    }
}
