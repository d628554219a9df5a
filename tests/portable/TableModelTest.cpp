// The table model (the cursor, attaching and detaching, structure copies) and
// the type dispatcher (decoders by type, the OEM extension marker, the three
// drivers' RetVals, outputs and cursor). The walk and the lookups are compared
// with a walk of their own by the fuzz harness, whose replay runs every seed
// and real table in the native tests.
#include <gtest/gtest.h>

#include "RecordChecks.h"

namespace {

using namespace record_checks;

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

} // namespace

TEST(SmBiosTable, CursorAttachDetachAndReset) {
    CSmBiosTable table;
    uint8_t* out = nullptr;
    uint32_t size = 0;
    EXPECT_FALSE(table.Detach(&out, &size)) << "nothing attached";
    AttachCopy(table, Table({Structure(0, 0, {1}), Structure(4, 0x0400, {1})}));
    const Bytes second =
        Table({Structure(4, 0x0401, {1}), Structure(2, 0x0200, {1}), Structure(4, 0x0402, {3})});
    AttachCopy(table, second); // frees the first
    CCSmBiosItem item;
    EXPECT_FALSE(table.NextOfType(item)) << "no enumeration before StartTypeEnum";
    EXPECT_FALSE(table.GetFirstOfType(0, item));
    table.StartTypeEnum(4);
    ASSERT_TRUE(table.GetFirstOfType(2, item));
    ASSERT_TRUE(table.NextOfType(item));
    EXPECT_EQ(item.Handle(), 0x0401) << "lookups do not move the cursor";

    const uint8_t* attached = table.Buffer();
    ASSERT_TRUE(table.Detach(&out, &size));
    EXPECT_EQ(out, attached);
    EXPECT_EQ(size, second.size());
    EXPECT_FALSE(table.GetByIndex(0, item)) << "no lookups into a detached buffer";
    EXPECT_FALSE(table.NextOfType(item));
    EXPECT_FALSE(table.Detach(nullptr, nullptr));
    delete[] out; // the caller owns it now; the sanitizer catches a double free

    AttachCopy(table, second);
    table.Reset();
    const uint8_t* data = nullptr;
    EXPECT_FALSE(table.PeekFirstOfType(4, data, size));
    table.StartTypeEnum(4);
    EXPECT_FALSE(table.NextOfType(item));
    EXPECT_EQ(table.Count(), 0u);
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
    EXPECT_EQ(item.StringNumber(0), nullptr);
    EXPECT_STREQ(item.StringNumber(2), "BC");
    EXPECT_EQ(item.StringNumber(3), nullptr);

    // A smaller structure loaded into the larger copy keeps its own bounds:
    // its string ends at the copy's end, not in the old bytes.
    const Bytes small = {11, 5, 0x01, 0x0B, 1, 'x', 'y', 'z'};
    CCSmBiosItem reused;
    reused.Load(s.data(), static_cast<uint32_t>(s.size()));
    reused.Load(small.data(), static_cast<uint32_t>(small.size()));
    ASSERT_EQ(reused.Strings().size(), 1u);
    EXPECT_STREQ(reused.StringNumber(1), "xyz");
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

// The decoder of every type (types 176 and 186 when the first type-188
// structure is of Length 8 with "881$" at offset 4) and Dispatch's records.
TEST(TypeDispatcher, DecoderOfEveryTypeAndTheOemMarker) {
    std::string scopes;
    for (int type = 0; type < 256; ++type)
        if (const auto decoder = DecoderFor(static_cast<uint8_t>(type))) // with the marker
            scopes += std::to_string(type) + ":" + decoder->Scope() + " ";
    for (size_t at; (at = scopes.find("::GetTypeInstanceData ")) != std::string::npos;)
        scopes.replace(at, 22, " ");
    EXPECT_EQ(scopes,
              "0:CBiosItem 1:CSystemItem 2:CBaseboardItem 3:CEnclosureItem 4:CProcessorItem "
              "5:CMemCtrlOldItem 6:CMemModOldItem 7:CCacheItem 8:CPortItem 9:CSystemSlotItem "
              "10:COnBoardItem 11:COEMStringItem 12:CConfigurationStringItem 16:CPhysicalMemoryArrayItem "
              "17:CPhysicalMemoryDeviceItem 39:CPowerSupplyItem 128:CASFItem 129:CASFItem 130:CAMTItem "
              "176:COMFBoardIDItem 186:CDDCItem 188:CBiosIdentificationItem ");

    // Which tables carry the marker is checked by the fuzz harness; here a
    // Length of 9 gates 176 out, with these trace records.
    // Trace records of a supported type, a gated one and one without decoder.
    Dispatching t(Structure(188, 0xBC00, {'8', '8', '1', '$', 0}));
    TraceRecorder::Clear();
    for (uint8_t type : {188, 176, 13})
        t.dispatcher.Dispatch(type);
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

// RetVal, HRESULT, the handles emitted and the Prepare calls of each driver.
TEST(TypeDispatcher, Drivers) {
    Dispatching t(Table({Device(0x1100), Structure(0, 0, Bytes(14, 0)), Device(0x1101), Device(0x1102)}));
    const auto multi = &CTypeDispatcher::DispatchMultiInstance,
               single = &CTypeDispatcher::DispatchSingleInstance,
               next = &CTypeDispatcher::DispatchNextInstance;
    const auto drive = [&t](decltype(multi) driver, uint8_t type, int failAt = -1) {
        Outputs out(failAt);
        const DispatchResult r = (t.dispatcher.*driver)(type, out);
        std::string s = std::to_string(r.retVal) + (r.hr == 0       ? " S_OK |"
                                                    : r.hr == kFail ? " E_FAIL |"
                                                                    : " ? |");
        for (uint16_t h : out.handles)
            s += " " + std::to_string(h);
        s += " | Prepare after";
        for (size_t n : out.prepares)
            s += " " + std::to_string(n);
        return s;
    };
    // Results and emitted handles are checked against the table by the fuzz
    // harness; these are the Prepare calls and the cursor after a failure.
    EXPECT_EQ(drive(multi, 17), "0 S_OK | 4352 4353 4354 | Prepare after 0");
    EXPECT_EQ(drive(multi, 17, 1), "3 E_FAIL | 4352 4353 | Prepare after 0 2") << "no partial outputs";
    EXPECT_EQ(drive(next, 17), "0 S_OK | 4354 | Prepare after 0") << "the cursor stays behind the failure";
    EXPECT_EQ(drive(next, 17), "3 S_OK | | Prepare after 0");
    EXPECT_EQ(drive(next, 13), "4 E_FAIL | | Prepare after");
    EXPECT_EQ(drive(single, 17), "0 S_OK | 4352 | Prepare after 0");
    EXPECT_EQ(drive(single, 13), "4 E_FAIL | | Prepare after") << "outputs untouched without decoder";
    EXPECT_EQ(drive(single, 1), "3 E_FAIL | | Prepare after 0");
    EXPECT_EQ(drive(multi, 13), "4 E_FAIL | | Prepare after 0");
}
