// The trace records of the query paths, read back from the test executable's
// trace file at level 6.
#include "ComTestSupport.h"

namespace {

const std::string kPassed = "Verbose|Internal|Initialize had been called - we can safely continue.|";

std::string Enter(const std::string& method, const std::string& details = "") {
    return "Info|Enter|Method " + method + " has been entered.|" + details;
}
std::string Leave(const std::string& method, const std::string& details, const char* level = "Info") {
    return std::string(level) + "|Leave|Method " + method + " has been left.|" + details;
}

class QueryTrace : public ::testing::Test {
protected:
    ComApartment apartment;
    ComPtr<ISmBiosImpl> object =
        WithTable(Table({Bios(0x0000, "Q"), Processor(0x0400), NoDecoder(0x0D00), Alerting(0x8100, 9),
                         BiosIdentification(0xBC00, 8, kOemSignature), EndOfTable(0x7F00)}));
};

} // namespace

TEST_F(QueryTrace, GuardFailureRecords) {
    ComPtr<ISmBiosImpl> fresh = NewObject();
    TraceCapture trace;
    const struct {
        Q q;
        ULONG arg;
        const char* method;
        const char* details;
        const char* left;
    } rows[] = {
        {Q::All, 4, "GetAllInstancesOfType", "bType: 4", "hRes = E_FAIL, RetVal = 1"},
        {Q::First, 7, "GetFirstInstanceOfType", "bType: 7", "hRes = E_FAIL, RetVal: 1"},
        {Q::Index, 3, "EnumAllInstances", "uiIndex: 3", "hRes = E_FAIL, RetVal: 1"},
        {Q::Handle, 0x0400, "FindInstanceByHandle", "usHandle: 1024", "hRes = E_FAIL, RetVal: 1"},
        {Q::Start, 2, "StartTypeInstanceEnum", "bType: 2", "hRes = E_FAIL, RetVal: 1"},
        {Q::Next, 0, "GetNextTypeInstance", "", "hRes = E_FAIL, RetVal: 1"},
    };
    for (const auto& row : rows)
        Ask(fresh.Get(), row.q, row.arg);
    const auto records = trace.Records();
    for (const auto& row : rows)
        EXPECT_EQ(
            LinesOf(records, std::string("CSmBiosImpl::") + row.method),
            (Lines{Enter(row.method, row.details),
                   "Error|Internal|FAIL: Initialize was not called - you have to call initialize first. "
                   "Aborting.|",
                   Leave(row.method, row.left, "Verbose")}));
    EXPECT_TRUE(LinesOf(records, "CSmBiosImpl::Dispatch").empty()) << "the guard stops before any decoder";
}

TEST_F(QueryTrace, SingleInstanceRecordsThroughTheFactory) {
    TraceCapture trace;
    ASSERT_EQ(Ask(object.Get(), Q::First, 4).hr, S_OK);
    ASSERT_EQ(Ask(object.Get(), Q::First, 188).hr, S_OK);
    EXPECT_EQ(Ask(object.Get(), Q::Handle, 0x0D00).hr, E_FAIL);
    const auto records = trace.Records();
    EXPECT_EQ(LinesOf(records, "CSmBiosImpl::GetFirstInstanceOfType"),
              (Lines{Enter("GetFirstInstanceOfType", "bType: 4"), kPassed,
                     Leave("GetFirstInstanceOfType", "RetVal: 0, hRes: 0x0"),
                     Enter("GetFirstInstanceOfType", "bType: 188"), kPassed,
                     Leave("GetFirstInstanceOfType", "RetVal: 0, hRes: 0x0")}));
    // The factory's scope has an empty method name in its texts.
    EXPECT_EQ(
        LinesOf(records, "CSmBiosImpl::Dispatch"),
        (Lines{Enter("", "Type: 0x4"), "Verbose|Internal|Trying to find Processor instances.|", Leave("", ""),
               Enter("", "Type: 0xBC"), "Verbose|Internal|Trying to find Bios identificaiton instances.|",
               Leave("", ""), Enter("", "Type: 0xD"), Leave("", "Structure not supported. Ptr = NULL")}));
    const Lines single = LinesOf(records, "CSmBiosImpl::DispatchSingleInstance");
    ASSERT_GE(single.size(), 4u);
    EXPECT_EQ(Lines(single.begin(), single.begin() + 4),
              (Lines{Enter("DispatchSingleInstance", "bType: 4"), "Verbose|Internal|First instance found.|",
                     "Info|Internal|Internal|Done handling single instance.",
                     Leave("DispatchSingleInstance", "RetVal: 0, hRes: 0x0")}));
    EXPECT_EQ(LinesOf(records, "CSmBiosImpl::FindInstanceByHandle"),
              (Lines{Enter("FindInstanceByHandle", "usHandle: 3328"), kPassed,
                     "Error|Internal|FAIL: SmBios Type not supported.|",
                     Leave("FindInstanceByHandle", "hRes: E_FAIL, RetVal: 4")}));
}

TEST_F(QueryTrace, MultiInstanceRecordsOnSuccessRefusalAndMissingMarker) {
    TraceCapture trace;
    ASSERT_EQ(Ask(object.Get(), Q::All, 4).hr, S_OK);
    EXPECT_EQ(Ask(object.Get(), Q::All, 129).retVal, 3u);
    ComPtr<ISmBiosImpl> plain = WithTable(Table({Bios(0x0000, "Q"), EndOfTable(0x7F00)}));
    EXPECT_EQ(Ask(plain.Get(), Q::All, 186).retVal, 4u);
    const auto records = trace.Records();
    const Lines multi = LinesOf(records, "CSmBiosImpl::DispatchMultiInstance");
    ASSERT_GE(multi.size(), 9u);
    EXPECT_EQ(Lines(multi.begin(), multi.begin() + 9),
              (Lines{Enter("DispatchMultiInstance", "bType: 4"), "Verbose|Internal|Instance found.|",
                     "Info|Internal|Internal|Done adding single instance to SafeArray.",
                     "Info|Internal|Internal|Done adding all instances to SafeArray.",
                     Leave("DispatchMultiInstance", "RetVal: 0, hRes: 0x0"),
                     Enter("DispatchMultiInstance", "bType: 129"), "Verbose|Internal|Instance found.|",
                     "Error|Internal|FAIL: No valid SmBios instance found for this type.|",
                     Leave("DispatchMultiInstance", "")}));
    const Lines all = LinesOf(records, "CSmBiosImpl::GetAllInstancesOfType");
    ASSERT_EQ(all.size(), 11u);
    EXPECT_EQ(all[2], Leave("GetAllInstancesOfType", "hRes: 0x0, RetVal: 0"));
    EXPECT_EQ(all[6], Leave("GetAllInstancesOfType", "hRes: 0x80004005, RetVal: 3"));
    // Without the marker the OEM type ends after the factory's selection record.
    EXPECT_EQ(Lines(all.end() - 4, all.end()),
              (Lines{Enter("GetAllInstancesOfType", "bType: 186"), kPassed,
                     "Error|Internal|FAIL: Call to DispatchMultiInstance failed.|",
                     Leave("GetAllInstancesOfType", "hRes: 0x80004005, RetVal: 4")}));
    const Lines dispatch = LinesOf(records, "CSmBiosImpl::Dispatch");
    EXPECT_EQ(Lines(dispatch.end() - 2, dispatch.end()),
              (Lines{Enter("", "Type: 0xBA"), "Verbose|Internal|Trying to find DDC instances.|"}));
}

TEST_F(QueryTrace, EnumerationRecords) {
    TraceCapture trace;
    EXPECT_EQ(Ask(object.Get(), Q::Next).retVal, 2u);
    ASSERT_EQ(Ask(object.Get(), Q::Start, 4).hr, S_OK);
    ASSERT_EQ(Ask(object.Get(), Q::Next).retVal, 0u);
    ASSERT_EQ(Ask(object.Get(), Q::Next).retVal, 3u);
    const auto records = trace.Records();
    const std::string enter = Enter("GetNextTypeInstance"),
                      done = Leave("GetNextTypeInstance", "RetVal: 0, hRes: 0x0");
    EXPECT_EQ(LinesOf(records, "CSmBiosImpl::GetNextTypeInstance"),
              (Lines{enter, kPassed,
                     "Error|Internal|FAIL: GetNextTypeInstance was not called - you have to call "
                     "GetNextTypeInstance first. Aborting.|",
                     Leave("GetNextTypeInstance", "hRes = E_FAIL, RetVal: 2", "Verbose"), enter, kPassed,
                     done, enter, kPassed, done}));
    EXPECT_EQ(LinesOf(records, "CSmBiosImpl::StartTypeInstanceEnum"),
              (Lines{Enter("StartTypeInstanceEnum", "bType: 4"), kPassed,
                     Leave("StartTypeInstanceEnum", "RetVal: 0, hRes: 0x0")}));
    EXPECT_EQ(LinesOf(records, "CSmBiosImpl::DispatchNextInstance"),
              (Lines{Enter("DispatchNextInstance"), "Verbose|Internal|next instance found.|",
                     "Info|Internal|Internal|Done handling single instance.",
                     Leave("DispatchNextInstance", "RetVal: 0, hRes: 0x0"), Enter("DispatchNextInstance"),
                     "Info|Internal|Internal|End of instances - no more instances to return.",
                     Leave("DispatchNextInstance", "RetVal: 3, hRes: 0x0")}));
}

TEST_F(QueryTrace, IndexAndHandleLookupRecords) {
    TraceCapture trace;
    ASSERT_EQ(Ask(object.Get(), Q::Index, 0).hr, S_OK);
    EXPECT_EQ(Ask(object.Get(), Q::Index, 50).hr, E_FAIL);
    ASSERT_EQ(Ask(object.Get(), Q::Handle, 0x0400).hr, S_OK);
    EXPECT_EQ(Ask(object.Get(), Q::Handle, 0x7F00).hr, E_FAIL);
    const auto records = trace.Records();
    const std::string notFound = "Error|Internal|FAIL: No instance with that index found.|";
    EXPECT_EQ(
        LinesOf(records, "CSmBiosImpl::EnumAllInstances"),
        (Lines{Enter("EnumAllInstances", "uiIndex: 0"), kPassed,
               Leave("EnumAllInstances", "RetVal: 0, hRes: 0x0"), Enter("EnumAllInstances", "uiIndex: 50"),
               kPassed, notFound, Leave("EnumAllInstances", "hRes: E_FAIL, RetVal: 3")}));
    EXPECT_EQ(LinesOf(records, "CSmBiosImpl::FindInstanceByHandle"),
              (Lines{Enter("FindInstanceByHandle", "usHandle: 1024"), kPassed,
                     Leave("FindInstanceByHandle", "RetVal: 0, hRes: 0x0"),
                     Enter("FindInstanceByHandle", "usHandle: 32512"), kPassed, notFound,
                     Leave("FindInstanceByHandle", "hRes: E_FAIL, RetVal: 3")}));
}
