// The table model: walking, the two indexes, lookups, the cursor and the
// structure copies, on hand-made, real and malformed tables.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <regex>
#include <string>

#include "TableBuilder.h"
#include "core/SmBiosTable.h"

namespace {

uint8_t* NewBuffer(const Bytes& bytes) {
    auto* buffer = new uint8_t[bytes.size() ? bytes.size() : 1];
    if (!bytes.empty()) std::memcpy(buffer, bytes.data(), bytes.size());
    return buffer;
}

// A table attached from a copy of `bytes`.
struct Attached {
    explicit Attached(const Bytes& bytes) {
        table.Attach(NewBuffer(bytes), static_cast<uint32_t>(bytes.size()));
    }
    CSmBiosTable table;
};

uint16_t HandleOf(const CCSmBiosItem& item) {
    return item.Handle();
}

const Bytes kProc1 = Structure(4, 0x0400, {1, 2}, {"CPU1"});
const Bytes kBios = Structure(0, 0x0000, {1, 2, 3}, {"Vendor"});
const Bytes kProc2 = Structure(4, 0x0401, {3, 4}, {"CPU2"});
const Bytes kEnd = Structure(127, 0x7F00, {});

} // namespace

TEST(StructureLength, CountsFormattedAreaStringsAndTerminator) {
    const Bytes none = Structure(1, 1, {0, 0, 0, 0});
    EXPECT_EQ(StructureLength(none.data(), none.data() + none.size()), 8u + 2u);
    const Bytes two = Structure(1, 1, {0, 0, 0, 0}, {"A", "BC"});
    EXPECT_EQ(StructureLength(two.data(), two.data() + two.size()), 8u + 6u);
}

TEST(StructureLength, NeverScansPastTheEnd) {
    const Bytes two = Structure(1, 1, {0, 0}, {"A", "BC"});
    // Every proper prefix lacks the closing double NUL.
    for (size_t n = 0; n < two.size(); ++n) {
        Bytes prefix(two.begin(), two.begin() + n);
        EXPECT_EQ(StructureLength(prefix.data(), prefix.data() + prefix.size()), 0u) << n;
    }
}

TEST(SmBiosTable, ByIndexFollowsTypeOrderThenTableOrder) {
    Attached t(Table({kProc1, kBios, kProc2, kEnd}));
    CCSmBiosItem item;
    ASSERT_EQ(t.table.Count(), 3u);
    ASSERT_TRUE(t.table.GetByIndex(0, item));
    EXPECT_EQ(item.Type(), 0);
    ASSERT_TRUE(t.table.GetByIndex(1, item));
    EXPECT_EQ(HandleOf(item), 0x0400);
    ASSERT_TRUE(t.table.GetByIndex(2, item));
    EXPECT_EQ(HandleOf(item), 0x0401);
    EXPECT_FALSE(t.table.GetByIndex(3, item));
    EXPECT_FALSE(t.table.GetByIndex(0xFFFFFFFFu, item));
    EXPECT_EQ(HandleOf(item), 0x0401) << "a failed lookup leaves the instance untouched";
}

TEST(SmBiosTable, EndOfTableMarkersAreSkippedAndTheWalkGoesOn) {
    const Bytes behind = Structure(2, 0x0200, {1}, {"Board"});
    Attached t(Table({kBios, kEnd, behind}));
    CCSmBiosItem item;
    EXPECT_EQ(t.table.Count(), 2u);
    EXPECT_FALSE(t.table.GetByHandle(0x7F00, item));
    EXPECT_FALSE(t.table.GetFirstOfType(127, item));
    ASSERT_TRUE(t.table.GetByHandle(0x0200, item));
    EXPECT_EQ(item.Type(), 2);
    ASSERT_TRUE(t.table.GetByIndex(1, item));
    EXPECT_EQ(item.Type(), 2);
}

TEST(SmBiosTable, FirstStructureOfAHandleWins) {
    const Bytes a = Structure(8, 0x0800, {1}, {"first"});
    const Bytes b = Structure(9, 0x0800, {1}, {"second"});
    Attached t(Table({a, b}));
    CCSmBiosItem item;
    ASSERT_TRUE(t.table.GetByHandle(0x0800, item));
    EXPECT_EQ(item.Type(), 8);
    EXPECT_STREQ(item.StringNumber(1), "first");
    EXPECT_EQ(t.table.Count(), 2u) << "both stay in the type index";
}

TEST(SmBiosTable, FirstOfTypeIsTheFirstInTableOrderAndLeavesTheCursor) {
    Attached t(Table({kProc1, kBios, kProc2}));
    CCSmBiosItem item;
    t.table.StartTypeEnum(4);
    ASSERT_TRUE(t.table.GetFirstOfType(4, item));
    EXPECT_EQ(HandleOf(item), 0x0400);
    EXPECT_FALSE(t.table.GetFirstOfType(1, item));
    ASSERT_TRUE(t.table.NextOfType(item));
    EXPECT_EQ(HandleOf(item), 0x0400) << "lookups do not move the cursor";
}

TEST(SmBiosTable, EnumerationVisitsEachStructureOfTheTypeOnce) {
    Attached t(Table({kProc1, kBios, kProc2, kEnd}));
    CCSmBiosItem item;
    EXPECT_FALSE(t.table.NextOfType(item)) << "no enumeration before StartTypeEnum";
    t.table.StartTypeEnum(4);
    ASSERT_TRUE(t.table.NextOfType(item));
    EXPECT_EQ(HandleOf(item), 0x0400);
    ASSERT_TRUE(t.table.NextOfType(item));
    EXPECT_EQ(HandleOf(item), 0x0401);
    EXPECT_FALSE(t.table.NextOfType(item));
    EXPECT_FALSE(t.table.NextOfType(item));
    EXPECT_EQ(HandleOf(item), 0x0401);
    t.table.StartTypeEnum(4);
    ASSERT_TRUE(t.table.NextOfType(item));
    EXPECT_EQ(HandleOf(item), 0x0400) << "restart";
    t.table.StartTypeEnum(0);
    ASSERT_TRUE(t.table.NextOfType(item));
    EXPECT_EQ(item.Type(), 0);
    EXPECT_FALSE(t.table.NextOfType(item)) << "does not run on into the next type";
    t.table.StartTypeEnum(17);
    EXPECT_FALSE(t.table.NextOfType(item));
}

TEST(SmBiosTable, DetachHandsTheBufferBackAndResetFreesIt) {
    CSmBiosTable table;
    uint8_t* out = nullptr;
    uint32_t size = 0;
    EXPECT_FALSE(table.Detach(&out, &size)) << "nothing attached";

    const Bytes bytes = Table({kBios, kProc1});
    uint8_t* buffer = NewBuffer(bytes);
    table.Attach(buffer, static_cast<uint32_t>(bytes.size()));
    ASSERT_TRUE(table.Detach(&out, &size));
    EXPECT_EQ(out, buffer);
    EXPECT_EQ(size, bytes.size());
    EXPECT_EQ(table.Buffer(), nullptr);
    CCSmBiosItem item;
    EXPECT_FALSE(table.GetByIndex(0, item)) << "no lookups into a detached buffer";
    EXPECT_FALSE(table.Detach(nullptr, nullptr));
    delete[] out; // the caller owns it now; the sanitizer catches a double free
}

TEST(SmBiosTable, AttachReplacesAnEarlierTable) {
    CSmBiosTable table;
    const Bytes first = Table({kBios});
    const Bytes second = Table({kProc1, kProc2});
    table.Attach(NewBuffer(first), static_cast<uint32_t>(first.size()));
    table.Attach(NewBuffer(second), static_cast<uint32_t>(second.size()));
    CCSmBiosItem item;
    EXPECT_EQ(table.Count(), 2u);
    EXPECT_FALSE(table.GetFirstOfType(0, item));
}

TEST(SmBiosItem, StringListPointsIntoItsOwnCopy) {
    const Bytes s = Structure(1, 0x0100, {1, 2, 0, 0}, {"A", "BC"});
    Attached t(Table({s}));
    CCSmBiosItem item;
    ASSERT_TRUE(t.table.GetByIndex(0, item));
    EXPECT_EQ(item.Size(), 8u + 6u);
    ASSERT_EQ(item.Strings().size(), 2u);
    EXPECT_STREQ(item.Strings()[0], "A");
    EXPECT_STREQ(item.Strings()[1], "BC");
    EXPECT_EQ(item.StringNumber(0), nullptr);
    EXPECT_EQ(item.StringNumber(3), nullptr);

    CCSmBiosItem copy;
    copy.CopyFrom(item);
    item.Clear();
    ASSERT_EQ(copy.Strings().size(), 2u);
    EXPECT_STREQ(copy.Strings()[1], "BC");
    const auto* begin = reinterpret_cast<const char*>(copy.Data());
    EXPECT_TRUE(copy.Strings()[0] >= begin && copy.Strings()[0] < begin + copy.Size());

    // The copy is private: the table can go away.
    t.table.Reset();
    EXPECT_STREQ(copy.StringNumber(1), "A");
}

TEST(SmBiosItem, EmptyStringSet) {
    const Bytes s = Structure(1, 0x0100, {1, 2, 3, 4});
    Attached t(Table({s}));
    CCSmBiosItem item;
    ASSERT_TRUE(t.table.GetByIndex(0, item));
    EXPECT_EQ(item.Size(), 10u);
    EXPECT_TRUE(item.Strings().empty());
}

TEST(SmBiosItem, ReadsAreBoundedByTheCopy) {
    const Bytes s = Structure(1, 0x1234, {0xAA, 0xBB});
    CCSmBiosItem item;
    item.Load(s.data(), static_cast<uint32_t>(s.size()));
    uint64_t v = 0;
    ASSERT_TRUE(item.Read(2, 2, v));
    EXPECT_EQ(v, 0x1234u);
    ASSERT_TRUE(item.Read(4, 2, v));
    EXPECT_EQ(v, 0xBBAAu);
    EXPECT_TRUE(item.Read(7, 1, v)) << "the last byte of the copy";
    EXPECT_FALSE(item.Read(7, 2, v));
    EXPECT_FALSE(item.Read(8, 1, v));
    EXPECT_FALSE(item.Read(0xFFFFFFFFu, 4, v));
    EXPECT_EQ(item.Bytes(6, 3), nullptr);
    EXPECT_NE(item.Bytes(6, 2), nullptr);

    CCSmBiosItem empty;
    EXPECT_FALSE(empty.Read(0, 1, v));
    EXPECT_EQ(empty.Type(), 0);
    EXPECT_EQ(empty.Handle(), 0);
}

// A string set whose first byte is NUL but whose second is not: the item has
// no strings, while the structure runs on to the next double NUL.
TEST(SmBiosItem, MalformedStringSetRunsOnToTheNextDoubleNul) {
    Bytes odd = {1, 4, 0x01, 0x01, 0, 'X', 'Y', 0, 0};
    const Bytes next = Structure(2, 0x0202, {1}, {"B"});
    Bytes table = odd;
    table.insert(table.end(), next.begin(), next.end());
    EXPECT_EQ(StructureLength(table.data(), table.data() + table.size()), odd.size());
    Attached t(table);
    CCSmBiosItem item;
    ASSERT_TRUE(t.table.GetByHandle(0x0101, item));
    EXPECT_TRUE(item.Strings().empty());
    ASSERT_TRUE(t.table.GetByHandle(0x0202, item));
    EXPECT_STREQ(item.StringNumber(1), "B");
}

TEST(SmBiosTable, TruncatedAndMalformedTablesStayInBounds) {
    const Bytes good = Table({kBios, Structure(2, 0x0200, {1}, {"Board"}), kProc1});
    // Every prefix of a good table: only whole structures are indexed.
    for (size_t n = 0; n <= good.size(); ++n) {
        Attached t(Bytes(good.begin(), good.begin() + n));
        CCSmBiosItem item;
        for (uint32_t i = 0; i < t.table.Count(); ++i) {
            ASSERT_TRUE(t.table.GetByIndex(i, item));
            EXPECT_LE(item.Size(), n);
        }
        EXPECT_LE(t.table.Count(), 3u);
        if (n == good.size()) {
            EXPECT_EQ(t.table.Count(), 3u);
        }
        if (n < kBios.size()) {
            EXPECT_EQ(t.table.Count(), 0u);
        }
    }

    // Length bytes 0 to 3 and Length pointing past the buffer.
    for (uint8_t length = 0; length < 8; ++length) {
        Bytes bad = {3, length, 0x03, 0x00, 0, 0, 0, 0};
        bad.insert(bad.end(), kBios.begin(), kBios.end());
        Attached t(bad);
        CCSmBiosItem item;
        for (uint32_t i = 0; i < t.table.Count(); ++i)
            ASSERT_TRUE(t.table.GetByIndex(i, item));
    }
    Bytes past = {3, 200, 0x03, 0x00, 0, 0};
    Attached t(past);
    EXPECT_EQ(t.table.Count(), 0u);

    // A table of nothing but zero bytes and one without the closing NUL.
    Attached zeros(Bytes(64, 0));
    EXPECT_GT(zeros.table.Count(), 0u);
    Attached unterminated(Bytes{0, 4, 0, 0, 'a', 'b', 'c'});
    EXPECT_EQ(unterminated.table.Count(), 0u);
    Attached nothing(Bytes{});
    EXPECT_EQ(nothing.table.Count(), 0u);
}

// Every real table is walked to its end: the number of indexed structures
// plus the end-of-table markers equals dmidecode's count of handles.
TEST(SmBiosTable, RealTablesMatchDmidecodeStructureCounts) {
    const auto names = RealTableNames();
    ASSERT_GE(names.size(), 30u);
    for (const auto& name : names) {
        const Bytes bytes = ReadFile(TestDataPath("real/" + name));
        ASSERT_FALSE(bytes.empty()) << name;
        Attached t(bytes);

        std::ifstream text(TestDataPath("real/" + name.substr(0, name.size() - 4) + ".dmidecode.txt"));
        std::string line;
        size_t handles = 0, ends = 0;
        std::regex handleLine("^Handle 0x([0-9A-F]{4}), DMI type ([0-9]+),");
        std::smatch m;
        while (std::getline(text, line)) {
            if (std::regex_search(line, m, handleLine)) {
                ++handles;
                const int type = std::stoi(m[2]);
                if (type == 127) {
                    ++ends;
                    continue;
                }
                CCSmBiosItem item;
                const uint16_t handle = static_cast<uint16_t>(std::stoul(m[1], nullptr, 16));
                ASSERT_TRUE(t.table.GetByHandle(handle, item)) << name << " " << m[1];
            }
        }
        EXPECT_GT(handles, 0u) << name;
        EXPECT_EQ(t.table.Count() + ends, handles) << name;
    }
}
