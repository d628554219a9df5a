// Structure instances that are loaded again, handed on, or filled from the
// per-type index: the shortcuts the queries take must give the same records
// as a fresh copy every time.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>

#include "RecordingSink.h"
#include "core/SmBiosTable.h"
#include "core/TypeDispatcher.h"

namespace {

struct Attached {
    explicit Attached(const Bytes& bytes) {
        auto* buffer = new uint8_t[bytes.size() + 1];
        std::memcpy(buffer, bytes.data(), bytes.size());
        table.Attach(buffer, static_cast<uint32_t>(bytes.size()));
    }
    CSmBiosTable table;
    CTypeDispatcher dispatcher{table};
};

// A record as one comparable text.
std::string Record(const CCVSmBiosItem& decoder) {
    RecordingSink sink;
    const AppendResult r = decoder.Decode(sink);
    std::ostringstream out;
    out << "result " << r << "\n";
    for (const auto& a : sink.attributes) {
        out << a.name << "=" << static_cast<int>(a.type) << ":" << a.number << ":" << a.text << ":"
            << a.nullText << ":";
        for (uint8_t b : a.bytes)
            out << static_cast<int>(b) << ",";
        out << "\n";
    }
    return out.str();
}

} // namespace

TEST(ItemReuse, ASmallerStructureLoadedIntoALargerCopyKeepsItsOwnBounds) {
    const Bytes big = Structure(11, 0x0B00, {3}, {"AAAAAAAA", "BBBBBBBB", "CCCCCCCC"});
    // Cut inside its only string: no terminator inside the structure.
    const Bytes small = {11, 5, 0x01, 0x0B, 1, 'x', 'y'};
    CCSmBiosItem item;
    item.Load(big.data(), static_cast<uint32_t>(big.size()));
    ASSERT_EQ(item.Strings().size(), 3u);

    item.Load(small.data(), static_cast<uint32_t>(small.size()));
    EXPECT_EQ(item.Size(), small.size());
    ASSERT_EQ(item.Strings().size(), 1u);
    EXPECT_STREQ(item.StringNumber(1), "xy") << "the string ends at the copy's end, not in old bytes";
    EXPECT_EQ(item.StringNumber(2), nullptr);
    uint64_t v = 0;
    EXPECT_FALSE(item.Read(static_cast<uint32_t>(small.size()), 1, v)) << "bytes of the larger copy are out";
    EXPECT_EQ(item.Bytes(0, static_cast<uint32_t>(small.size()) + 1), nullptr);

    item.Load(big.data(), static_cast<uint32_t>(big.size()));
    ASSERT_EQ(item.Strings().size(), 3u);
    EXPECT_STREQ(item.StringNumber(3), "CCCCCCCC");
    item.Load(nullptr, 0);
    EXPECT_TRUE(item.Empty());
    EXPECT_TRUE(item.Strings().empty());
}

TEST(ItemReuse, MoveFromHandsTheCopyAndItsStringsOver) {
    const Bytes s = Structure(1, 0x0100, {1, 2, 0, 0}, {"A", "BC"});
    CCSmBiosItem to;
    {
        CCSmBiosItem from;
        from.Load(s.data(), static_cast<uint32_t>(s.size()));
        to.Load(Structure(2, 0x0200, {1}, {"old"}).data(), 10);
        to.MoveFrom(from);
        EXPECT_TRUE(from.Empty());
        EXPECT_TRUE(from.Strings().empty());
        EXPECT_EQ(from.Data(), nullptr);
        from.Load(s.data(), static_cast<uint32_t>(s.size())); // still usable
        EXPECT_STREQ(from.StringNumber(2), "BC");
    }
    EXPECT_EQ(to.Size(), s.size());
    EXPECT_EQ(to.Handle(), 0x0100);
    ASSERT_EQ(to.Strings().size(), 2u);
    const auto* begin = reinterpret_cast<const char*>(to.Data());
    EXPECT_TRUE(to.Strings()[1] > begin && to.Strings()[1] < begin + to.Size());
    EXPECT_STREQ(to.StringNumber(2), "BC");
    to.MoveFrom(to);
    EXPECT_STREQ(to.StringNumber(1), "A") << "moving onto itself changes nothing";
}

// The enumeration reloads one decoder for every structure of a type and the
// by-index query hands its item on: both must decode exactly as a fresh
// decoder with a fresh copy does, on every real table.
TEST(ItemReuse, ReusedAndHandedOnStructuresDecodeLikeFreshCopies) {
    for (const std::string& name : RealTableNames()) {
        SCOPED_TRACE(name);
        Attached t(ReadFile(TestDataPath("real/" + name)));
        ASSERT_GT(t.table.Count(), 0u);
        std::string fresh, handedOn;
        for (uint32_t i = 0; i < t.table.Count(); ++i) {
            CCSmBiosItem item;
            ASSERT_TRUE(t.table.GetByIndex(i, item));
            std::unique_ptr<CCVSmBiosItem> a = t.dispatcher.Dispatch(item.Type());
            std::unique_ptr<CCVSmBiosItem> b = t.dispatcher.Dispatch(item.Type());
            if (!a) continue;
            a->CopyFrom(item);
            fresh += Record(*a);
            b->MoveFrom(item);
            handedOn += Record(*b);
        }
        EXPECT_EQ(handedOn, fresh);

        std::string reused;
        for (unsigned type = 0; type < 256; ++type) {
            std::unique_ptr<CCVSmBiosItem> decoder = t.dispatcher.Dispatch(static_cast<uint8_t>(type));
            if (!decoder) continue;
            t.table.StartTypeEnum(static_cast<uint8_t>(type));
            while (t.table.NextOfType(*decoder))
                reused += Record(*decoder);
        }
        EXPECT_EQ(reused, fresh) << "by type, the order of the type index is the order by index";
    }
}

TEST(ItemReuse, FirstOfTypeFollowsAttachResetAndDetach) {
    const Bytes a = Table({Structure(4, 0x0400, {1}), Structure(0, 0x0000, {1}), Structure(4, 0x0401, {2})});
    const Bytes b = Table({Structure(2, 0x0200, {1}), Structure(4, 0x0402, {3})});
    CSmBiosTable table;
    auto attach = [&table](const Bytes& bytes) {
        auto* buffer = new uint8_t[bytes.size()];
        std::memcpy(buffer, bytes.data(), bytes.size());
        table.Attach(buffer, static_cast<uint32_t>(bytes.size()));
    };
    CCSmBiosItem item;
    const uint8_t* data = nullptr;
    uint32_t size = 0;

    attach(a);
    ASSERT_TRUE(table.GetFirstOfType(4, item));
    EXPECT_EQ(item.Handle(), 0x0400);
    ASSERT_TRUE(table.PeekFirstOfType(4, data, size));
    EXPECT_EQ(size, item.Size());
    EXPECT_EQ(std::memcmp(data, item.Data(), size), 0) << "the peek shows the structure the copy was made of";
    EXPECT_FALSE(table.PeekFirstOfType(2, data, size));

    attach(b);
    EXPECT_FALSE(table.GetFirstOfType(0, item));
    ASSERT_TRUE(table.GetFirstOfType(2, item));
    EXPECT_EQ(item.Handle(), 0x0200);
    ASSERT_TRUE(table.GetFirstOfType(4, item));
    EXPECT_EQ(item.Handle(), 0x0402);
    table.StartTypeEnum(4);
    ASSERT_TRUE(table.NextOfType(item));
    EXPECT_EQ(item.Handle(), 0x0402);
    EXPECT_FALSE(table.NextOfType(item));

    uint8_t* detached = nullptr;
    ASSERT_TRUE(table.Detach(&detached, nullptr));
    EXPECT_FALSE(table.GetFirstOfType(2, item)) << "no buffer, no structure";
    EXPECT_FALSE(table.PeekFirstOfType(2, data, size));
    delete[] detached;

    table.Reset();
    for (unsigned type = 0; type < 256; ++type)
        EXPECT_FALSE(table.PeekFirstOfType(static_cast<uint8_t>(type), data, size)) << type;
    table.StartTypeEnum(4);
    EXPECT_FALSE(table.NextOfType(item));
}
