// The table-file reader: inconsistent headers are refused, a 3.x table ends
// with its last whole structure, the firmware's length is bounded by its
// answer. The fuzz harness checks that every table accepted is the slice its
// header names.
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
Bytes Cut(const Bytes& b, size_t n) {
    return Bytes(b.begin(), b.begin() + n);
}
// A RawSMBIOSData block; dumps with a 2.x or a 3.x entry point, the table at 0x20.
Bytes Raw(const Bytes& table, uint32_t length) {
    return Cat({Put({0, 3, 1, 0, 0, 0, 0, 0}, 4, length), table});
}
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
const uint32_t kSize = static_cast<uint32_t>(kSmall.size());
} // namespace

TEST(TableFile, ThreeXTableEndsWithItsLastWholeStructure) {
    const Bytes noEnd = Table({kFirst, Structure(1, 1, {3, 4}, {"B"})});
    EXPECT_EQ(Parse(Dump("_SM3_", Cat({kSmall, Structure(2, 2, {9, 9})}), 999)).table, kSmall);
    EXPECT_EQ(Parse(Dump("_SM3_", noEnd, static_cast<uint32_t>(noEnd.size() - 1))).table, kFirst);
    for (const Bytes& tail : {Bytes{1, 3, 0, 0, 0, 0}, Bytes{1, 40, 0, 0, 0, 0}, Bytes{1, 4}}) {
        const Bytes b = Cat({kFirst, tail}); // Length below 4, past the end, a header cut short
        EXPECT_EQ(WholeStructuresEnd(b.data(), b.size()), kFirst.size());
    }
}

TEST(TableFile, InconsistentHeadersAreRefused) {
    const Bytes dump2 = Dump("_SM_", kSmall, kSize), dump3 = Dump("_SM3_", kSmall, kSize);
    const Bytes cases[] = {{},
                           Cut(dump2, 0x1B),
                           Cut(dump3, 0x17),
                           {0, 3, 0, 0, 0x10},
                           Put(dump2, 0x16, kSize + 1, 2),
                           Put(dump2, 0x18, dump2.size()),
                           Put(dump2, 0x18, 0xFFFFFFF0u),
                           Put(dump2, 0x16, 0, 2),
                           Put(dump2, 0x10, 'X', 1),
                           Put(dump3, 0x10, 0x100000020ull, 8),
                           Put(dump3, 0x0C, 0),
                           Dump("_SM3_", Bytes(64, 0), 64),
                           Raw(kSmall, kSize + 1),
                           Raw(kSmall, 0xFFFFFFFFu),
                           Raw(kSmall, 0),
                           Raw(Bytes(16, 0xFF), 16),
                           {'n', 'o', 't', ' ', 'a', ' ', 't', 'a', 'b', 'l', 'e'},
                           Cut(kSmall, 12)};
    for (const Bytes& file : cases) {
        const TableFileResult r = Parse(file);
        EXPECT_FALSE(r.ok || !r.table.empty() || r.error.empty())
            << "case " << &file - cases << ": " << r.error;
    }
}

TEST(FirmwareTable, LengthIsBoundedByWhatWasReturned) {
    const auto parse = [](const Bytes& b) { return ParseFirmwareTable(b.data(), b.size()).table; };
    EXPECT_EQ(parse(Raw(kSmall, kSize + 100)), kSmall);
    EXPECT_EQ(parse(Raw(kSmall, static_cast<uint32_t>(kFirst.size()))), kFirst) << "a shorter length wins";
    EXPECT_TRUE(parse(Cut(Raw(kSmall, kSize), 7)).empty() && parse(Raw({}, 0)).empty());
}
