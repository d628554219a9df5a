// Structure copies and the table-file reader beyond what the fuzz harness
// checks: copies keep their own bounds (reads past them stay inside the
// allocation), and where a table ends (the harness takes that from the reader).
#include <gtest/gtest.h>

#include "TableBuilder.h"
#include "core/SmBiosItem.h"
#include "TableFile.h"

TEST(SmBiosItem, CopiesKeepTheirOwnBoundsAndStrings) {
    const Bytes s = Structure(1, 0x1234, {0xAA, 0xBB}, {"A", "BC"});
    const Bytes small = {11, 5, 0x01, 0x0B, 1, 'x', 'y', 'z'}; // its last string has no terminator
    const auto size = static_cast<uint32_t>(s.size());
    CCSmBiosItem item, moved;
    uint64_t v = 0;
    item.Load(s.data(), size);
    EXPECT_TRUE(item.Read(4, 2, v) && v == 0xBBAA && item.Read(size - 1, 1, v));
    EXPECT_FALSE(item.Read(size - 1, 2, v) || item.StringNumber(0) || item.StringNumber(3));
    moved.Load(s.data(), size);
    moved.Load(small.data(), static_cast<uint32_t>(small.size())); // into the larger copy
    EXPECT_FALSE(moved.Read(static_cast<uint32_t>(small.size()), 1, v) || moved.Strings().size() != 1);
    EXPECT_STREQ(moved.StringNumber(1), "xyz");
    moved.MoveFrom(item);
    EXPECT_TRUE(item.Empty() && item.Strings().empty() && moved.Handle() == 0x1234);
    EXPECT_STREQ(moved.StringNumber(2), "BC");
}

TEST(TableFile, WhereTheTableOfADumpEnds) {
    const auto parse = [](const Bytes& b) { return ParseTableFile(b.data(), b.size()).table; };
    const auto dump3 = [](const Bytes& table, uint32_t size) { // a 3.x entry point, the table at 0x20
        return Cat({{'_', 'S', 'M', '3', '_'}, Bytes(7, 0), U32(size), {0x20}, Bytes(15, 0), table});
    };
    const Bytes first = Structure(0, 0x0000, {1, 2, 3}, {"Vendor", "1.0"});
    const Bytes table = Table({first, Structure(1, 1, {4, 5}), Structure(127, 0x7F00, {})});
    const Bytes noEnd = Table({first, Structure(1, 1, {3, 4}, {"B"})});
    EXPECT_EQ(parse(dump3(Cat({table, Structure(2, 2, {9, 9})}), 999)), table);
    EXPECT_EQ(parse(dump3(noEnd, static_cast<uint32_t>(noEnd.size() - 1))), first);
    Bytes dump2 = Cat({{'_', 'S', 'M', '_'},
                       Bytes(12, 0),
                       {'_', 'D', 'M', 'I', '_', 0},
                       U16(static_cast<uint16_t>(table.size())),
                       U32(0x20),
                       Bytes(4, 0),
                       table});
    EXPECT_EQ(parse(dump2), table);
    dump2[0x10] = 'X';
    EXPECT_TRUE(parse(dump2).empty()) << "no _DMI_ anchor";
    for (const Bytes& tail : {Bytes{1, 3, 0, 0, 0, 0}, Bytes{1, 40, 0, 0, 0, 0}, Bytes{1, 4}}) {
        const Bytes b = Cat({first, tail}); // Length below 4, past the end, a header cut short
        EXPECT_EQ(WholeStructuresEnd(b.data(), b.size()), first.size());
    }
}
