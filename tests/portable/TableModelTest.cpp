// The table model beyond what the fuzz harness compares with its own walk:
// the enumeration cursor, detaching, structure copies that own their strings,
// and the Prepare calls of the dispatcher's drivers.
#include <gtest/gtest.h>

#include "RecordingSink.h"

TEST(SmBiosTable, CursorAttachDetachAndReset) {
    CSmBiosTable table;
    EXPECT_FALSE(table.Detach(nullptr, nullptr)) << "nothing attached";
    const Bytes bytes =
        Table({Structure(4, 0x0401, {1}), Structure(2, 0x0200, {1}), Structure(4, 0x0402, {3})});
    AttachCopy(table, Table({Structure(0, 0, {1})}));
    AttachCopy(table, bytes); // frees the first
    CCSmBiosItem item;
    EXPECT_FALSE(table.NextOfType(item)) << "no enumeration before StartTypeEnum";
    table.StartTypeEnum(4);
    ASSERT_TRUE(table.GetFirstOfType(2, item) && table.GetByIndex(2, item) &&
                table.GetByHandle(0x0402, item));
    ASSERT_TRUE(table.NextOfType(item));
    EXPECT_EQ(item.Handle(), 0x0401) << "lookups do not move the cursor";

    const uint8_t* attached = table.Buffer();
    uint8_t* out = nullptr;
    uint32_t size = 0;
    ASSERT_TRUE(table.Detach(&out, &size));
    EXPECT_TRUE(out == attached && size == bytes.size());
    EXPECT_FALSE(table.GetByIndex(0, item) || table.NextOfType(item)) << "no lookups into a detached buffer";
    delete[] out; // the caller owns it now; the sanitizer sees a double free

    AttachCopy(table, bytes);
    table.Reset();
    table.StartTypeEnum(4);
    EXPECT_FALSE(table.NextOfType(item) || table.GetByHandle(0x0401, item));
    EXPECT_EQ(table.Count(), 0u);
}

TEST(SmBiosItem, CopiesAreBoundedAndOwnTheirStrings) {
    const Bytes s = Structure(1, 0x1234, {0xAA, 0xBB}, {"A", "BC"});
    const Bytes small = {11, 5, 0x01, 0x0B, 1, 'x', 'y', 'z'}; // its last string has no terminator
    CCSmBiosItem item, reused, copy, moved;
    item.Load(s.data(), static_cast<uint32_t>(s.size()));
    uint64_t v = 0;
    EXPECT_TRUE(item.Read(4, 2, v) && v == 0xBBAA);
    EXPECT_TRUE(item.Read(static_cast<uint32_t>(s.size()) - 1, 1, v)) << "the last byte of the copy";
    EXPECT_FALSE(item.Read(static_cast<uint32_t>(s.size()) - 1, 2, v));
    EXPECT_TRUE(item.StringNumber(0) == nullptr && item.StringNumber(3) == nullptr);

    // A smaller structure loaded into a larger copy keeps its own bounds.
    reused.Load(s.data(), static_cast<uint32_t>(s.size()));
    reused.Load(small.data(), static_cast<uint32_t>(small.size()));
    ASSERT_EQ(reused.Strings().size(), 1u);
    EXPECT_STREQ(reused.StringNumber(1), "xyz");
    EXPECT_FALSE(reused.Read(static_cast<uint32_t>(small.size()), 1, v));

    copy.CopyFrom(item);
    moved.Load(small.data(), static_cast<uint32_t>(small.size()));
    moved.MoveFrom(item);
    moved.MoveFrom(moved);
    EXPECT_TRUE(item.Empty() && item.Strings().empty() && item.Type() + item.Handle() == 0);
    for (const CCSmBiosItem* c : {&copy, &moved}) {
        EXPECT_EQ(c->Handle(), 0x1234);
        const auto* begin = reinterpret_cast<const char*>(c->Data());
        ASSERT_EQ(c->Strings().size(), 2u);
        EXPECT_TRUE(c->Strings()[1] > begin && c->Strings()[1] < begin + c->Size()) << "into its own bytes";
        EXPECT_STREQ(c->StringNumber(2), "BC");
    }
}

namespace {
// Records what a driver does with its outputs; Emit fails on call `failAt`.
struct Outputs : IDispatchOutputs {
    explicit Outputs(int failAt = -1) : failAt(failAt) {}
    void Prepare() override { log += "P"; }
    int32_t Emit(const CCVSmBiosItem& decoder) override {
        log += " " + std::to_string(decoder.Handle());
        return failAt-- == 0 ? CCVSmBiosItem::kRefused : 0;
    }
    int failAt;
    std::string log;
};
} // namespace

// RetVal, result and the outputs of each driver; the handles are the ones the
// fuzz harness checks against the table, here the Prepare calls around them.
TEST(TypeDispatcher, DriversPrepareTheirOutputs) {
    CSmBiosTable table;
    AttachCopy(table, Table({Structure(17, 1, Bytes(0x11, 0)), Structure(0, 0, Bytes(14, 0)),
                             Structure(17, 2, Bytes(0x11, 0)), Structure(17, 3, Bytes(0x11, 0))}));
    CTypeDispatcher dispatcher(table);
    const auto drive = [&dispatcher](DispatchResult (CTypeDispatcher::*driver)(uint8_t, IDispatchOutputs&),
                                     uint8_t type, int failAt = -1) {
        Outputs out(failAt);
        const DispatchResult r = (dispatcher.*driver)(type, out);
        return std::to_string(r.retVal) + (r.hr == 0 ? " ok " : " fail ") + out.log;
    };
    const auto multi = &CTypeDispatcher::DispatchMultiInstance,
               single = &CTypeDispatcher::DispatchSingleInstance,
               next = &CTypeDispatcher::DispatchNextInstance;
    EXPECT_EQ(drive(multi, 17), "0 ok P 1 2 3");
    EXPECT_EQ(drive(multi, 17, 1), "3 fail P 1 2P") << "no partial outputs";
    EXPECT_EQ(drive(next, 17), "0 ok P 3") << "the cursor stays behind the failure";
    EXPECT_EQ(drive(next, 17), "3 ok P");
    EXPECT_EQ(drive(single, 17, 0), "0 ok P 1") << "a failing decoder does not matter here";
    EXPECT_EQ(drive(single, 1), "3 fail P");
    for (const auto driver : {multi, single, next})
        EXPECT_EQ(drive(driver, 13), "4 fail " + std::string(driver == multi ? "P" : "")) << "no decoder";
}
