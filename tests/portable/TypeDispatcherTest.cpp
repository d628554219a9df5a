// The type dispatcher: which types have decoders, the OEM extension marker,
// and the three drivers' RetVals, outputs and cursor movement.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "RecordingSink.h"
#include "TraceRecorder.h"
#include "core/TypeDispatcher.h"

namespace {

constexpr int32_t kFail = static_cast<int32_t>(0x80004005u);

struct Attached {
    explicit Attached(const Bytes& bytes) {
        auto* buffer = new uint8_t[bytes.size() + 1];
        std::memcpy(buffer, bytes.data(), bytes.size());
        table.Attach(buffer, static_cast<uint32_t>(bytes.size()));
    }
    CSmBiosTable table;
    CTypeDispatcher dispatcher{table};
};

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

Bytes MemoryDevice(uint16_t handle) {
    return Structure(17, handle, Bytes(0x11, 0));
}
Bytes Marker(uint8_t length, const Bytes& signature) {
    Bytes body = signature;
    body.resize(length - 4, 0);
    return Structure(188, 0xBC00, body);
}
const Bytes kSignature = {'8', '8', '1', '$'};

std::string ScopeOf(const std::unique_ptr<CCVSmBiosItem>& d) {
    return d ? d->Scope() : "null";
}

} // namespace

TEST(TypeDispatcher, TypesWithAndWithoutDecoders) {
    Attached t(Table({Structure(0, 0, Bytes(14, 0))}));
    for (int type : {13, 14, 15, 18, 38, 40, 127, 131, 175, 177, 185, 187, 189, 255})
        EXPECT_EQ(t.dispatcher.Dispatch(static_cast<uint8_t>(type)), nullptr) << type;
    const std::pair<int, const char*> expected[] = {
        {0, "CBiosItem"},
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
        {188, "CBiosIdentificationItem"},
    };
    for (const auto& [type, name] : expected)
        EXPECT_EQ(ScopeOf(t.dispatcher.Dispatch(static_cast<uint8_t>(type))),
                  std::string(name) + "::GetTypeInstanceData")
            << type;
}

TEST(TypeDispatcher, OemExtensionMarkerGatesTypes176And186) {
    Attached with(Table({Marker(8, kSignature), Marker(9, {'x'})}));
    EXPECT_EQ(ScopeOf(with.dispatcher.Dispatch(176)), "COMFBoardIDItem::GetTypeInstanceData");
    EXPECT_EQ(ScopeOf(with.dispatcher.Dispatch(186)), "CDDCItem::GetTypeInstanceData");

    Attached longer(Table({Marker(9, kSignature)}));
    Attached other(Table({Marker(8, {'8', '8', '1', '#'})}));
    Attached second(Table({Marker(8, {'n', 'o', 'n', 'e'}), Marker(8, kSignature)}));
    Attached none(Table({Structure(0, 0, Bytes(14, 0))}));
    for (Attached* t : {&longer, &other, &second, &none}) {
        EXPECT_EQ(t->dispatcher.Dispatch(176), nullptr);
        EXPECT_EQ(t->dispatcher.Dispatch(186), nullptr);
        EXPECT_NE(t->dispatcher.Dispatch(188), nullptr) << "188 decodes with or without the marker";
        Outputs out;
        EXPECT_EQ(t->dispatcher.DispatchMultiInstance(176, out).retVal, RetVal::NotSupported);
    }
}

TEST(TypeDispatcher, DispatchTraceRecords) {
    Attached t(Table({Marker(9, kSignature)}));
    TraceRecorder::Clear();
    t.dispatcher.Dispatch(188);
    t.dispatcher.Dispatch(176);
    t.dispatcher.Dispatch(13);
    std::vector<std::string> seen;
    for (const auto& r : TraceRecorder::Records())
        seen.push_back(r.category + "|" + r.text + "|" + r.details);
    EXPECT_EQ(seen, (std::vector<std::string>{
                        "Enter|Method  has been entered.|Type: 0xBC",
                        "Internal|Trying to find Bios identificaiton instances.|",
                        "Leave|Method  has been left.|",
                        "Enter|Method  has been entered.|Type: 0xB0",
                        "Internal|Trying to find OMF Board ID instances.|", // then null, no Leave record
                        "Enter|Method  has been entered.|Type: 0xD",
                        "Leave|Method  has been left.|Structure not supported. Ptr = NULL",
                    }));
}

TEST(TypeDispatcher, MultiInstanceVisitsEveryStructureInTableOrder) {
    Attached t(Table({MemoryDevice(0x1100), Structure(0, 0, Bytes(14, 0)), MemoryDevice(0x1101),
                      MemoryDevice(0x1102), MemoryDevice(0x1103)}));
    Outputs out;
    const DispatchResult r = t.dispatcher.DispatchMultiInstance(17, out);
    EXPECT_EQ(r.retVal, RetVal::Success);
    EXPECT_EQ(r.hr, 0);
    EXPECT_EQ(out.handles, (std::vector<uint16_t>{0x1100, 0x1101, 0x1102, 0x1103}));
    EXPECT_EQ(out.prepares, (std::vector<size_t>{0}));

    Outputs none;
    const DispatchResult empty = t.dispatcher.DispatchMultiInstance(9, none);
    EXPECT_EQ(empty.retVal, RetVal::Success) << "no structure of a supported type is not an error";
    EXPECT_TRUE(none.handles.empty());
}

TEST(TypeDispatcher, FailingDecoderAbortsTheMultiInstanceRunAfterMovingTheCursor) {
    Attached t(Table({MemoryDevice(0x1100), MemoryDevice(0x1101), MemoryDevice(0x1102)}));
    Outputs out(/*failAt=*/1);
    const DispatchResult r = t.dispatcher.DispatchMultiInstance(17, out);
    EXPECT_EQ(r.retVal, RetVal::NotFound);
    EXPECT_EQ(r.hr, kFail);
    EXPECT_EQ(out.prepares.back(), 2u) << "outputs emptied after the failure: no partial answer";
    Outputs next;
    EXPECT_EQ(t.dispatcher.DispatchNextInstance(17, next).retVal, RetVal::Success);
    EXPECT_EQ(next.handles, (std::vector<uint16_t>{0x1102})) << "the cursor stands on the next structure";
}

TEST(TypeDispatcher, SingleInstanceOutcomes) {
    Attached t(Table({MemoryDevice(0x1100), MemoryDevice(0x1101)}));
    Outputs first;
    EXPECT_EQ(t.dispatcher.DispatchSingleInstance(17, first).retVal, RetVal::Success);
    EXPECT_EQ(first.handles, (std::vector<uint16_t>{0x1100}));

    Outputs unsupported;
    const DispatchResult r4 = t.dispatcher.DispatchSingleInstance(13, unsupported);
    EXPECT_EQ(r4.retVal, RetVal::NotSupported);
    EXPECT_EQ(r4.hr, kFail);
    EXPECT_TRUE(unsupported.prepares.empty()) << "outputs untouched for a type without decoder";

    Outputs missing;
    const DispatchResult r3 = t.dispatcher.DispatchSingleInstance(1, missing);
    EXPECT_EQ(r3.retVal, RetVal::NotFound);
    EXPECT_EQ(r3.hr, kFail);
    EXPECT_EQ(missing.prepares.size(), 1u) << "outputs emptied when nothing is found";
}

TEST(TypeDispatcher, NextInstanceEndsWithRetVal3AndSuccess) {
    Attached t(Table({MemoryDevice(0x1100), MemoryDevice(0x1101)}));
    t.table.StartTypeEnum(17);
    std::vector<uint32_t> retVals;
    for (int i = 0; i < 4; ++i) {
        Outputs out;
        const DispatchResult r = t.dispatcher.DispatchNextInstance(17, out);
        EXPECT_EQ(r.hr, 0);
        retVals.push_back(r.retVal);
    }
    EXPECT_EQ(retVals, (std::vector<uint32_t>{0, 0, 3, 3}));

    t.table.StartTypeEnum(13);
    Outputs out;
    const DispatchResult r = t.dispatcher.DispatchNextInstance(13, out);
    EXPECT_EQ(r.retVal, RetVal::NotSupported);
    EXPECT_EQ(r.hr, kFail);
}
