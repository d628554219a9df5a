// The orders of the two indexes on tables large enough to use every byte of
// the keys: ascending type with table order kept within a type, handles in
// ascending order with the first structure of a handle winning.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <vector>

#include "TableBuilder.h"
#include "core/SmBiosTable.h"

namespace {

// Structure k carries k in its body, so that a lookup shows which one it found.
Bytes Numbered(uint8_t type, uint16_t handle, uint16_t k) {
    return Structure(type, handle, U16(k));
}

uint16_t NumberOf(const CCSmBiosItem& item) {
    uint64_t v = 0;
    return item.Read(4, 2, v) ? static_cast<uint16_t>(v) : 0xFFFF;
}

} // namespace

TEST(TableIndexOrder, ScatteredTypesAndHandlesOverTheirWholeRange) {
    // 5,000 structures: types all over 0..255 (127 included, which is not
    // indexed), handles scattered over 0..0xFFFF with repeats.
    constexpr uint16_t kCount = 5000;
    Bytes table;
    std::vector<uint8_t> types(kCount);
    std::vector<uint16_t> handles(kCount);
    for (uint16_t k = 0; k < kCount; ++k) {
        types[k] = static_cast<uint8_t>((k * 37u + k / 300u) % 256u);
        handles[k] = static_cast<uint16_t>((k * 7919u) % 60000u + (k % 7 == 0 ? 0u : 5000u));
        const Bytes s = Numbered(types[k], handles[k], k);
        table.insert(table.end(), s.begin(), s.end());
    }
    auto* buffer = new uint8_t[table.size()];
    std::memcpy(buffer, table.data(), table.size());
    CSmBiosTable t;
    t.Attach(buffer, static_cast<uint32_t>(table.size()));

    // Type index: by type, then table order; type 127 left out.
    std::vector<uint16_t> expectedOrder;
    for (unsigned type = 0; type < 256; ++type)
        for (uint16_t k = 0; k < kCount; ++k)
            if (types[k] == type && type != 127) expectedOrder.push_back(k);
    ASSERT_EQ(t.Count(), expectedOrder.size());
    CCSmBiosItem item;
    for (uint32_t i = 0; i < t.Count(); ++i) {
        ASSERT_TRUE(t.GetByIndex(i, item));
        ASSERT_EQ(NumberOf(item), expectedOrder[i]) << "position " << i;
    }
    for (unsigned type = 0; type < 256; ++type) {
        uint16_t first = 0xFFFF;
        for (uint16_t k = 0; k < kCount && first == 0xFFFF; ++k)
            if (types[k] == type && type != 127) first = k;
        if (first == 0xFFFF) {
            EXPECT_FALSE(t.GetFirstOfType(static_cast<uint8_t>(type), item)) << type;
        } else {
            ASSERT_TRUE(t.GetFirstOfType(static_cast<uint8_t>(type), item)) << type;
            EXPECT_EQ(NumberOf(item), first) << type;
        }
    }

    // Handle index: the first structure of each handle in table order.
    std::map<uint16_t, uint16_t> firstOfHandle;
    for (uint16_t k = 0; k < kCount; ++k)
        if (types[k] != 127) firstOfHandle.emplace(handles[k], k);
    for (const auto& [handle, k] : firstOfHandle) {
        ASSERT_TRUE(t.GetByHandle(handle, item)) << handle;
        EXPECT_EQ(NumberOf(item), k) << handle;
    }
    for (uint32_t h = 0; h <= 0xFFFF; h += 1)
        if (firstOfHandle.count(static_cast<uint16_t>(h)) == 0)
            ASSERT_FALSE(t.GetByHandle(static_cast<uint16_t>(h), item)) << h;
}
