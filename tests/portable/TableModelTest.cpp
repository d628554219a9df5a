// The table model beyond what the fuzz harness compares with its own walk:
// the enumeration cursor around lookups, failures and detaching, and
// structure copies that keep their own bounds.
#include <gtest/gtest.h>

#include "RecordingSink.h"

namespace {
// Emit fails on call `failAt`; `log` shows the Prepare calls and the handles.
struct Outputs : IDispatchOutputs {
    int failAt = 1;
    std::string log;
    void Prepare() override { log += "P"; }
    int32_t Emit(const CCVSmBiosItem& d) override {
        log += " " + std::to_string(d.Handle());
        return failAt-- == 0 ? CCVSmBiosItem::kRefused : 0;
    }
};
} // namespace

TEST(SmBiosTable, CursorAroundLookupsFailuresAndDetaching) {
    CSmBiosTable table;
    AttachCopy(table, Table({Structure(17, 1, Bytes(0x11, 0)), Structure(0, 0, Bytes(14, 0)),
                             Structure(17, 2, Bytes(0x11, 0)), Structure(17, 3, Bytes(0x11, 0))}));
    CCSmBiosItem item;
    EXPECT_FALSE(table.NextOfType(item)) << "no enumeration before StartTypeEnum";
    table.StartTypeEnum(17);
    ASSERT_TRUE(table.GetFirstOfType(0, item) && table.GetByIndex(3, item) && table.GetByHandle(3, item));
    ASSERT_TRUE(table.NextOfType(item) && item.Handle() == 1) << "lookups do not move the cursor";
    CTypeDispatcher dispatcher(table);
    Outputs out; // the second structure fails
    EXPECT_EQ(dispatcher.DispatchMultiInstance(17, out).retVal, RetVal::NotFound);
    EXPECT_EQ(dispatcher.DispatchNextInstance(17, out).retVal, RetVal::Success);
    EXPECT_EQ(out.log, "P 1 2PP 3") << "the cursor stays behind the failure";

    uint8_t* back = nullptr;
    uint32_t size = 0;
    ASSERT_TRUE(table.Detach(&back, &size));
    EXPECT_FALSE(table.GetByIndex(0, item) || table.NextOfType(item) || table.Detach(&back, &size));
    AttachCopy(table, Bytes(back, back + size));
    delete[] back; // the caller owns it now; the sanitizer sees a double free
    table.Reset();
    table.StartTypeEnum(17);
    EXPECT_FALSE(table.NextOfType(item) || table.GetByHandle(1, item) || table.Count() != 0);
}

TEST(SmBiosItem, CopiesKeepTheirOwnBoundsAndStrings) {
    const Bytes s = Structure(1, 0x1234, {0xAA, 0xBB}, {"A", "BC"});
    const Bytes small = {11, 5, 0x01, 0x0B, 1, 'x', 'y', 'z'}; // its last string has no terminator
    CCSmBiosItem item, moved;
    uint64_t v = 0;
    item.Load(s.data(), static_cast<uint32_t>(s.size()));
    EXPECT_TRUE(item.Read(4, 2, v) && v == 0xBBAA && item.Read(static_cast<uint32_t>(s.size()) - 1, 1, v));
    EXPECT_FALSE(item.Read(static_cast<uint32_t>(s.size()) - 1, 2, v) || item.StringNumber(0) ||
                 item.StringNumber(3));
    moved.Load(s.data(), static_cast<uint32_t>(s.size()));
    moved.Load(small.data(), static_cast<uint32_t>(small.size())); // into the larger copy
    EXPECT_FALSE(moved.Read(static_cast<uint32_t>(small.size()), 1, v));
    EXPECT_TRUE(moved.Strings().size() == 1 && moved.StringNumber(1) == std::string("xyz"));
    moved.MoveFrom(item);
    moved.MoveFrom(moved);
    EXPECT_TRUE(item.Empty() && item.Strings().empty() && item.Type() + item.Handle() == 0);
    EXPECT_TRUE(moved.Handle() == 0x1234 && moved.StringNumber(2) == std::string("BC") &&
                !moved.StringNumber(3));
}
