// The table model (walk, the two indexes, lookups, the cursor, structure
// copies) and the type dispatcher (decoders by type, the OEM extension
// marker, the three drivers' RetVals, outputs and cursor).
#include <gtest/gtest.h>

#include <map>

#include "RecordChecks.h"

namespace {

using namespace record_checks;

// Structure k carries k in its body, so that a lookup shows which one it found.
uint16_t NumberOf(const CCSmBiosItem& item) {
    uint64_t v = 0;
    return item.Read(4, 2, v) ? static_cast<uint16_t>(v) : 0xFFFF;
}

constexpr int32_t kFail = static_cast<int32_t>(0x80004005u);

// Records what a driver does with its outputs; Emit fails on call `failAt`.
class Outputs : public IDispatchOutputs {
public:
    explicit Outputs(int failAt = -1) : failAt_(failAt) {}
    void Prepare() override { prepares.push_back(handles.size()); }
    int32_t Emit(const CCVSmBiosItem& decoder) override {
        handles.push_back(decoder.Handle());
        RecordingSink sink;
        const int32_t r = decoder.Decode(sink);
        return static_cast<int>(handles.size()) - 1 == failAt_ ? kFail : r;
    }
    std::vector<size_t> prepares; // number of emits before each Prepare
    std::vector<uint16_t> handles;

private:
    int failAt_;
};

struct Dispatching {
    explicit Dispatching(const Bytes& bytes) { AttachCopy(table, bytes); }
    CSmBiosTable table;
    CTypeDispatcher dispatcher{table};
};

Bytes Device(uint16_t handle) {
    return Structure(17, handle, Bytes(0x11, 0));
}
Bytes Marker(uint8_t length, const Bytes& signature) {
    Bytes body = signature;
    body.resize(length - 4, 0);
    return Structure(188, 0xBC00, body);
}

} // namespace

// 5,000 structures with types all over 0..255 (127 included, which is not
// indexed) and handles scattered over 0..0xFFFF with repeats: both indexes
// over every byte of their keys.
TEST(SmBiosTable, IndexesKeepTypeThenTableOrderAndTheFirstOfAHandle) {
    constexpr uint16_t kCount = 5000;
    Bytes bytes;
    std::vector<uint8_t> types(kCount);
    std::vector<uint16_t> handles(kCount);
    for (uint16_t k = 0; k < kCount; ++k) {
        types[k] = static_cast<uint8_t>((k * 37u + k / 300u) % 256u);
        handles[k] = static_cast<uint16_t>((k * 7919u) % 60000u + (k % 7 == 0 ? 0u : 5000u));
        const Bytes s = Structure(types[k], handles[k], U16(k));
        bytes.insert(bytes.end(), s.begin(), s.end());
    }
    CSmBiosTable t;
    AttachCopy(t, bytes);

    std::vector<uint16_t> order;
    std::map<unsigned, uint16_t> firstOfType;
    std::map<uint16_t, uint16_t> firstOfHandle;
    for (unsigned type = 0; type < 256; ++type)
        for (uint16_t k = 0; k < kCount; ++k)
            if (types[k] == type && type != 127) {
                order.push_back(k);
                firstOfType.emplace(type, k);
            }
    for (uint16_t k = 0; k < kCount; ++k)
        if (types[k] != 127) firstOfHandle.emplace(handles[k], k);

    CCSmBiosItem item;
    ASSERT_EQ(t.Count(), order.size());
    for (uint32_t i = 0; i < t.Count(); ++i) {
        ASSERT_TRUE(t.GetByIndex(i, item));
        ASSERT_EQ(NumberOf(item), order[i]) << "position " << i;
    }
    EXPECT_FALSE(t.GetByIndex(t.Count(), item));
    for (unsigned type = 0; type < 256; ++type) {
        ASSERT_EQ(t.GetFirstOfType(static_cast<uint8_t>(type), item), firstOfType.count(type) == 1) << type;
        if (firstOfType.count(type)) EXPECT_EQ(NumberOf(item), firstOfType[type]) << type;
    }
    for (uint32_t h = 0; h <= 0xFFFF; ++h) {
        const bool found = t.GetByHandle(static_cast<uint16_t>(h), item);
        ASSERT_EQ(found, firstOfHandle.count(static_cast<uint16_t>(h)) == 1) << h;
        if (found) ASSERT_EQ(NumberOf(item), firstOfHandle[static_cast<uint16_t>(h)]) << h;
    }
}

TEST(SmBiosTable, EnumerationCursorAndFailedLookups) {
    const Bytes proc1 = Structure(4, 0x0400, {1, 2}, {"CPU1"});
    Dispatching d(
        Table({proc1, Structure(0, 0, {1, 2, 3}, {"Vendor"}), Structure(4, 0x0401, {3, 4}, {"CPU2"})}));
    CSmBiosTable& t = d.table;
    CCSmBiosItem item;
    EXPECT_FALSE(t.NextOfType(item)) << "no enumeration before StartTypeEnum";
    t.StartTypeEnum(4);
    ASSERT_TRUE(t.GetFirstOfType(0, item));
    ASSERT_TRUE(t.NextOfType(item));
    EXPECT_EQ(item.Handle(), 0x0400) << "lookups do not move the cursor";
    ASSERT_TRUE(t.NextOfType(item));
    EXPECT_EQ(item.Handle(), 0x0401);
    EXPECT_FALSE(t.NextOfType(item));
    EXPECT_FALSE(t.NextOfType(item));
    EXPECT_FALSE(t.GetByIndex(0xFFFFFFFFu, item));
    EXPECT_FALSE(t.GetByHandle(0x0402, item));
    EXPECT_EQ(item.Handle(), 0x0401) << "a failed lookup leaves the instance untouched";
    t.StartTypeEnum(0);
    ASSERT_TRUE(t.NextOfType(item));
    EXPECT_FALSE(t.NextOfType(item)) << "does not run on into the next type";

    const uint8_t* data = nullptr;
    uint32_t size = 0;
    ASSERT_TRUE(t.PeekFirstOfType(4, data, size));
    EXPECT_EQ(Bytes(data, data + size), proc1);
    EXPECT_FALSE(t.PeekFirstOfType(2, data, size));
}

TEST(SmBiosTable, AttachDetachAndReset) {
    CSmBiosTable table;
    uint8_t* out = nullptr;
    uint32_t size = 0;
    EXPECT_FALSE(table.Detach(&out, &size)) << "nothing attached";
    AttachCopy(table, Table({Structure(0, 0, {1}), Structure(4, 0x0400, {1})}));
    const Bytes second = Table({Structure(2, 0x0200, {1}), Structure(4, 0x0402, {3})});
    AttachCopy(table, second); // frees the first
    CCSmBiosItem item;
    EXPECT_FALSE(table.GetFirstOfType(0, item));
    ASSERT_TRUE(table.GetFirstOfType(4, item));
    EXPECT_EQ(item.Handle(), 0x0402);

    const uint8_t* attached = table.Buffer();
    ASSERT_TRUE(table.Detach(&out, &size));
    EXPECT_EQ(out, attached);
    EXPECT_EQ(size, second.size());
    EXPECT_FALSE(table.GetByIndex(0, item)) << "no lookups into a detached buffer";
    EXPECT_FALSE(table.GetFirstOfType(2, item));
    EXPECT_FALSE(table.Detach(nullptr, nullptr));
    delete[] out; // the caller owns it now; the sanitizer catches a double free

    AttachCopy(table, second);
    table.Reset();
    EXPECT_EQ(table.Count(), 0u);
    const uint8_t* data = nullptr;
    EXPECT_FALSE(table.PeekFirstOfType(4, data, size));
    table.StartTypeEnum(4);
    EXPECT_FALSE(table.NextOfType(item));
}

// Only whole structures are indexed; the walk goes on past end-of-table markers.
TEST(SmBiosTable, WalkOfMalformedTables) {
    const Bytes bios = Structure(0, 0, {1, 2, 3}, {"Vendor"});
    const Bytes board = Structure(2, 0x0200, {1}, {"Board"});
    const Bytes end = Structure(127, 0x7F00, {});
    const std::pair<Bytes, uint32_t> tables[] = {
        {Table({bios, end, board}), 2},
        {Cut(Table({bios, board}), bios.size() + board.size() - 1), 1}, // the last one cut short
        {Cat({bios, {3, 200, 3, 0, 0, 0}}), 1},                         // Length past the buffer
        {Bytes{1, 2, 0, 0, 0, 0, 5, 4, 0, 0, 0, 0}, 3},                 // Length 2 used as it stands
        {Bytes{0, 4, 0, 0, 'a', 'b', 'c'}, 0},                          // no closing NULs
        {Bytes{}, 0}};
    for (const auto& [bytes, count] : tables) {
        CSmBiosTable t;
        AttachCopy(t, bytes);
        EXPECT_EQ(t.Count(), count) << bytes.size();
    }
    // A string set that starts with NUL but goes on runs to the next double NUL.
    const Bytes odd = {1, 4, 0x01, 0x01, 0, 'X', 'Y', 0, 0};
    const Bytes both = Cat({odd, board});
    EXPECT_EQ(StructureLength(both.data(), both.data() + both.size()), odd.size());
    EXPECT_EQ(StructureLength(both.data(), both.data() + odd.size() - 1), 0u) << "never past the end";
    CSmBiosTable t;
    AttachCopy(t, both);
    CCSmBiosItem item;
    ASSERT_TRUE(t.GetByHandle(0x0101, item));
    EXPECT_TRUE(item.Strings().empty());
    ASSERT_TRUE(t.GetByHandle(0x0200, item));
    EXPECT_STREQ(item.StringNumber(1), "Board");
}

TEST(SmBiosItem, CopiesAreBoundedAndOwnTheirStrings) {
    const Bytes s = Structure(1, 0x1234, {0xAA, 0xBB}, {"A", "BC"});
    CCSmBiosItem item;
    item.Load(s.data(), static_cast<uint32_t>(s.size()));
    uint64_t v = 0;
    ASSERT_TRUE(item.Read(4, 2, v));
    EXPECT_EQ(v, 0xBBAAu);
    EXPECT_TRUE(item.Read(static_cast<uint32_t>(s.size()) - 1, 1, v)) << "the last byte of the copy";
    EXPECT_FALSE(item.Read(static_cast<uint32_t>(s.size()) - 1, 2, v));
    EXPECT_FALSE(item.Read(0xFFFFFFFFu, 4, v));
    EXPECT_EQ(item.Bytes(static_cast<uint32_t>(s.size()) - 1, 2), nullptr);
    EXPECT_EQ(item.StringNumber(0), nullptr);
    EXPECT_STREQ(item.StringNumber(2), "BC");
    EXPECT_EQ(item.StringNumber(3), nullptr);

    // A smaller structure loaded into the larger copy keeps its own bounds:
    // its string ends at the copy's end, not in the old bytes.
    const Bytes small = {11, 5, 0x01, 0x0B, 1, 'x', 'y'};
    CCSmBiosItem reused;
    reused.Load(s.data(), static_cast<uint32_t>(s.size()));
    reused.Load(small.data(), static_cast<uint32_t>(small.size()));
    ASSERT_EQ(reused.Strings().size(), 1u);
    EXPECT_STREQ(reused.StringNumber(1), "xy");
    EXPECT_FALSE(reused.Read(static_cast<uint32_t>(small.size()), 1, v));

    // Copies and moves keep strings pointing into their own bytes.
    CCSmBiosItem copy, moved;
    copy.CopyFrom(item);
    moved.Load(small.data(), static_cast<uint32_t>(small.size()));
    moved.MoveFrom(item);
    EXPECT_TRUE(item.Empty());
    EXPECT_TRUE(item.Strings().empty());
    for (const CCSmBiosItem* c : {&copy, &moved}) {
        EXPECT_EQ(c->Handle(), 0x1234);
        ASSERT_EQ(c->Strings().size(), 2u);
        const auto* begin = reinterpret_cast<const char*>(c->Data());
        EXPECT_TRUE(c->Strings()[1] > begin && c->Strings()[1] < begin + c->Size());
        EXPECT_STREQ(c->StringNumber(2), "BC");
    }
    moved.MoveFrom(moved);
    EXPECT_STREQ(moved.StringNumber(1), "A") << "moving onto itself changes nothing";
    item.Load(nullptr, 0);
    EXPECT_TRUE(item.Empty());
    EXPECT_EQ(item.Type() + item.Handle(), 0);
}

TEST(TypeDispatcher, DecoderOfEveryType) {
    std::map<int, std::string> expected = {{0, "CBiosItem"},
                                           {1, "CSystemItem"},
                                           {2, "CBaseboardItem"},
                                           {3, "CEnclosureItem"},
                                           {4, "CProcessorItem"},
                                           {5, "CMemCtrlOldItem"},
                                           {6, "CMemModOldItem"},
                                           {7, "CCacheItem"},
                                           {8, "CPortItem"},
                                           {9, "CSystemSlotItem"},
                                           {10, "COnBoardItem"},
                                           {11, "COEMStringItem"},
                                           {12, "CConfigurationStringItem"},
                                           {16, "CPhysicalMemoryArrayItem"},
                                           {17, "CPhysicalMemoryDeviceItem"},
                                           {39, "CPowerSupplyItem"},
                                           {128, "CASFItem"},
                                           {129, "CASFItem"},
                                           {130, "CAMTItem"},
                                           {176, "COMFBoardIDItem"},
                                           {186, "CDDCItem"},
                                           {188, "CBiosIdentificationItem"}};
    for (int type = 0; type < 256; ++type) {
        const auto decoder = DecoderFor(static_cast<uint8_t>(type)); // with the OEM marker
        EXPECT_EQ(decoder ? decoder->Scope() : "none",
                  expected.count(type) ? expected[type] + "::GetTypeInstanceData" : "none")
            << type;
    }
}

// Types 176 and 186 need the first type-188 structure to be of Length 8
// with "881$" at offset 4.
TEST(TypeDispatcher, OemExtensionMarkerGatesTypes176And186) {
    const Bytes signature = {'8', '8', '1', '$'};
    Dispatching with(Table({Marker(8, signature), Marker(9, {'x'})}));
    EXPECT_NE(with.dispatcher.Dispatch(176), nullptr);
    EXPECT_NE(with.dispatcher.Dispatch(186), nullptr);
    for (const Bytes& bytes : {Table({Marker(9, signature)}), Table({Marker(8, {'8', '8', '1', '#'})}),
                               Table({Marker(8, {'n', 'o', 'n', 'e'}), Marker(8, signature)}),
                               Table({Structure(0, 0, Bytes(14, 0))})}) {
        Dispatching t(bytes);
        EXPECT_EQ(t.dispatcher.Dispatch(176), nullptr);
        EXPECT_EQ(t.dispatcher.Dispatch(186), nullptr);
        EXPECT_NE(t.dispatcher.Dispatch(188), nullptr) << "188 decodes with or without the marker";
        Outputs out;
        EXPECT_EQ(t.dispatcher.DispatchMultiInstance(176, out).retVal, RetVal::NotSupported);
    }
    // Trace records of a supported type, a gated one and one without decoder.
    Dispatching t(Table({Marker(9, signature)}));
    TraceRecorder::Clear();
    t.dispatcher.Dispatch(188);
    t.dispatcher.Dispatch(176);
    t.dispatcher.Dispatch(13);
    std::string seen;
    for (const TraceRecord& r : TraceRecorder::Records())
        seen += r.category + "|" + r.text + "|" + r.details + "\n";
    EXPECT_EQ(seen, "Enter|Method  has been entered.|Type: 0xBC\n"
                    "Internal|Trying to find Bios identificaiton instances.|\n"
                    "Leave|Method  has been left.|\n"
                    "Enter|Method  has been entered.|Type: 0xB0\n"
                    "Internal|Trying to find OMF Board ID instances.|\n" // then null, no Leave record
                    "Enter|Method  has been entered.|Type: 0xD\n"
                    "Leave|Method  has been left.|Structure not supported. Ptr = NULL\n");
}

TEST(TypeDispatcher, MultiInstance) {
    Dispatching t(Table({Device(0x1100), Structure(0, 0, Bytes(14, 0)), Device(0x1101), Device(0x1102)}));
    Outputs all;
    const DispatchResult r = t.dispatcher.DispatchMultiInstance(17, all);
    EXPECT_EQ(r.retVal, RetVal::Success);
    EXPECT_EQ(r.hr, 0);
    EXPECT_EQ(all.handles, (std::vector<uint16_t>{0x1100, 0x1101, 0x1102}));
    EXPECT_EQ(all.prepares, (std::vector<size_t>{0}));

    Outputs none;
    EXPECT_EQ(t.dispatcher.DispatchMultiInstance(9, none).retVal, RetVal::Success) << "none is no error";
    EXPECT_TRUE(none.handles.empty());

    // A failing decoder aborts the run, empties the outputs and leaves the
    // cursor behind the structure it failed on.
    Outputs failing(/*failAt=*/1);
    const DispatchResult f = t.dispatcher.DispatchMultiInstance(17, failing);
    EXPECT_EQ(f.retVal, RetVal::NotFound);
    EXPECT_EQ(f.hr, kFail);
    EXPECT_EQ(failing.prepares, (std::vector<size_t>{0, 2}));
    Outputs next;
    EXPECT_EQ(t.dispatcher.DispatchNextInstance(17, next).retVal, RetVal::Success);
    EXPECT_EQ(next.handles, (std::vector<uint16_t>{0x1102}));
}

TEST(TypeDispatcher, SingleAndNextInstance) {
    Dispatching t(Table({Device(0x1100), Device(0x1101)}));
    Outputs first, unsupported, missing;
    EXPECT_EQ(t.dispatcher.DispatchSingleInstance(17, first).retVal, RetVal::Success);
    EXPECT_EQ(first.handles, (std::vector<uint16_t>{0x1100}));
    const DispatchResult r4 = t.dispatcher.DispatchSingleInstance(13, unsupported);
    EXPECT_EQ(r4.retVal, RetVal::NotSupported);
    EXPECT_EQ(r4.hr, kFail);
    EXPECT_TRUE(unsupported.prepares.empty()) << "outputs untouched for a type without decoder";
    const DispatchResult r3 = t.dispatcher.DispatchSingleInstance(1, missing);
    EXPECT_EQ(r3.retVal, RetVal::NotFound);
    EXPECT_EQ(r3.hr, kFail);
    EXPECT_EQ(missing.prepares.size(), 1u) << "outputs emptied when nothing is found";

    t.table.StartTypeEnum(17);
    std::vector<uint32_t> retVals;
    std::vector<uint16_t> handles;
    for (int i = 0; i < 4; ++i) {
        Outputs out;
        const DispatchResult r = t.dispatcher.DispatchNextInstance(17, out);
        EXPECT_EQ(r.hr, 0);
        EXPECT_EQ(out.prepares.size(), 1u);
        retVals.push_back(r.retVal);
        handles.insert(handles.end(), out.handles.begin(), out.handles.end());
    }
    EXPECT_EQ(retVals, (std::vector<uint32_t>{0, 0, 3, 3}));
    EXPECT_EQ(handles, (std::vector<uint16_t>{0x1100, 0x1101}));
    Outputs out;
    const DispatchResult r = t.dispatcher.DispatchNextInstance(13, out);
    EXPECT_EQ(r.retVal, RetVal::NotSupported);
    EXPECT_EQ(r.hr, kFail);
}
