// The trace records of the query paths, read back from the test
// executable's trace file at level 6.
#include "QueryFixture.h"

namespace {

using Expected = std::vector<std::string>;

class QueryTrace : public ::testing::Test {
protected:
    ComApartment apartment;
    Outputs out;
    ULONG retVal = 99;
};

Bytes TraceTable() {
    return Table({Bios(0x0000, "Q"), Processor(0x0400), Structure(13, 0x0D00, Bytes(0x12, 0)),
                  Alerting(0x8100, 9), BiosIdentification(0xBC00, 8, kOemSignature), EndOfTable(0x7F00)});
}

} // namespace

TEST_F(QueryTrace, GuardFailureRecords) {
    ComPtr<ISmBiosImpl> object = NewObject();
    TraceFile trace;
    object->GetAllInstancesOfType(4, out.Names(), out.Values(), &retVal);
    object->GetFirstInstanceOfType(7, out.Names(), out.Values(), &retVal);
    object->EnumAllInstances(3, out.Names(), out.Values(), &retVal);
    object->FindInstanceByHandle(0x0400, out.Names(), out.Values(), &retVal);
    object->StartTypeInstanceEnum(2, &retVal);
    object->GetNextTypeInstance(out.Names(), out.Values(), &retVal);

    const std::string guard =
        "Error|Internal|FAIL: Initialize was not called - you have to call initialize first. Aborting.|";
    EXPECT_EQ(
        Lines(trace.OfScope("CSmBiosImpl::GetAllInstancesOfType")),
        (Expected{"Info|Enter|Method GetAllInstancesOfType has been entered.|bType: 4", guard,
                  "Verbose|Leave|Method GetAllInstancesOfType has been left.|hRes = E_FAIL, RetVal = 1"}));
    EXPECT_EQ(
        Lines(trace.OfScope("CSmBiosImpl::GetFirstInstanceOfType")),
        (Expected{"Info|Enter|Method GetFirstInstanceOfType has been entered.|bType: 7", guard,
                  "Verbose|Leave|Method GetFirstInstanceOfType has been left.|hRes = E_FAIL, RetVal: 1"}));
    EXPECT_EQ(Lines(trace.OfScope("CSmBiosImpl::EnumAllInstances")),
              (Expected{"Info|Enter|Method EnumAllInstances has been entered.|uiIndex: 3", guard,
                        "Verbose|Leave|Method EnumAllInstances has been left.|hRes = E_FAIL, RetVal: 1"}));
    EXPECT_EQ(
        Lines(trace.OfScope("CSmBiosImpl::FindInstanceByHandle")),
        (Expected{"Info|Enter|Method FindInstanceByHandle has been entered.|usHandle: 1024", guard,
                  "Verbose|Leave|Method FindInstanceByHandle has been left.|hRes = E_FAIL, RetVal: 1"}));
    EXPECT_EQ(
        Lines(trace.OfScope("CSmBiosImpl::StartTypeInstanceEnum")),
        (Expected{"Info|Enter|Method StartTypeInstanceEnum has been entered.|bType: 2", guard,
                  "Verbose|Leave|Method StartTypeInstanceEnum has been left.|hRes = E_FAIL, RetVal: 1"}));
    EXPECT_EQ(Lines(trace.OfScope("CSmBiosImpl::GetNextTypeInstance")),
              (Expected{"Info|Enter|Method GetNextTypeInstance has been entered.|", guard,
                        "Verbose|Leave|Method GetNextTypeInstance has been left.|hRes = E_FAIL, RetVal: 1"}));
    EXPECT_TRUE(trace.OfScope("CSmBiosImpl::Dispatch").empty()) << "the guard stops before any decoder";
}

TEST_F(QueryTrace, FirstInstanceThroughTheFactory) {
    ComPtr<ISmBiosImpl> object = NewObjectWithTable(TraceTable());
    TraceFile trace;
    ASSERT_EQ(object->GetFirstInstanceOfType(4, out.Names(), out.Values(), &retVal), S_OK);

    EXPECT_EQ(Lines(trace.OfScope("CSmBiosImpl::GetFirstInstanceOfType")),
              (Expected{"Info|Enter|Method GetFirstInstanceOfType has been entered.|bType: 4",
                        "Verbose|Internal|Initialize had been called - we can safely continue.|",
                        "Info|Leave|Method GetFirstInstanceOfType has been left.|RetVal: 0, hRes: 0x0"}));
    EXPECT_EQ(Lines(trace.OfScope("CSmBiosImpl::Dispatch")),
              (Expected{"Info|Enter|Method  has been entered.|Type: 0x4",
                        "Verbose|Internal|Trying to find Processor instances.|",
                        "Info|Leave|Method  has been left.|"}));
    EXPECT_EQ(Lines(trace.OfScope("CSmBiosImpl::DispatchSingleInstance")),
              (Expected{"Info|Enter|Method DispatchSingleInstance has been entered.|bType: 4",
                        "Verbose|Internal|First instance found.|",
                        "Info|Internal|Internal|Done handling single instance.",
                        "Info|Leave|Method DispatchSingleInstance has been left.|RetVal: 0, hRes: 0x0"}));
}

TEST_F(QueryTrace, FactoryRecordsForBiosIdentificationAndUnsupportedTypes) {
    ComPtr<ISmBiosImpl> object = NewObjectWithTable(TraceTable());
    TraceFile trace;
    ASSERT_EQ(object->GetFirstInstanceOfType(188, out.Names(), out.Values(), &retVal), S_OK);
    EXPECT_EQ(object->FindInstanceByHandle(0x0D00, out.Names(), out.Values(), &retVal), E_FAIL);

    EXPECT_EQ(
        Lines(trace.OfScope("CSmBiosImpl::Dispatch")),
        (Expected{"Info|Enter|Method  has been entered.|Type: 0xBC",
                  "Verbose|Internal|Trying to find Bios identificaiton instances.|",
                  "Info|Leave|Method  has been left.|", "Info|Enter|Method  has been entered.|Type: 0xD",
                  "Info|Leave|Method  has been left.|Structure not supported. Ptr = NULL"}));
    EXPECT_EQ(Lines(trace.OfScope("CSmBiosImpl::FindInstanceByHandle")),
              (Expected{"Info|Enter|Method FindInstanceByHandle has been entered.|usHandle: 3328",
                        "Verbose|Internal|Initialize had been called - we can safely continue.|",
                        "Error|Internal|FAIL: SmBios Type not supported.|",
                        "Info|Leave|Method FindInstanceByHandle has been left.|hRes: E_FAIL, RetVal: 4"}));
}

TEST_F(QueryTrace, OemTypeWithoutMarkerEndsAfterItsSelectionRecord) {
    ComPtr<ISmBiosImpl> object = NewObjectWithTable(Table({Bios(0x0000, "Q"), EndOfTable(0x7F00)}));
    TraceFile trace;
    EXPECT_EQ(object->GetAllInstancesOfType(186, out.Names(), out.Values(), &retVal), E_FAIL);
    EXPECT_EQ(retVal, 4u);
    EXPECT_EQ(Lines(trace.OfScope("CSmBiosImpl::Dispatch")),
              (Expected{"Info|Enter|Method  has been entered.|Type: 0xBA",
                        "Verbose|Internal|Trying to find DDC instances.|"}));
    EXPECT_EQ(
        Lines(trace.OfScope("CSmBiosImpl::GetAllInstancesOfType")),
        (Expected{"Info|Enter|Method GetAllInstancesOfType has been entered.|bType: 186",
                  "Verbose|Internal|Initialize had been called - we can safely continue.|",
                  "Error|Internal|FAIL: Call to DispatchMultiInstance failed.|",
                  "Info|Leave|Method GetAllInstancesOfType has been left.|hRes: 0x80004005, RetVal: 4"}));
}

TEST_F(QueryTrace, MultiInstanceRecordsOnSuccessAndOnARefusedStructure) {
    ComPtr<ISmBiosImpl> object = NewObjectWithTable(TraceTable());
    TraceFile trace;
    ASSERT_EQ(object->GetAllInstancesOfType(4, out.Names(), out.Values(), &retVal), S_OK);
    EXPECT_EQ(Lines(trace.OfScope("CSmBiosImpl::DispatchMultiInstance")),
              (Expected{"Info|Enter|Method DispatchMultiInstance has been entered.|bType: 4",
                        "Verbose|Internal|Instance found.|",
                        "Info|Internal|Internal|Done adding single instance to SafeArray.",
                        "Info|Internal|Internal|Done adding all instances to SafeArray.",
                        "Info|Leave|Method DispatchMultiInstance has been left.|RetVal: 0, hRes: 0x0"}));
    EXPECT_EQ(Line(trace.OfScope("CSmBiosImpl::GetAllInstancesOfType").back()),
              "Info|Leave|Method GetAllInstancesOfType has been left.|hRes: 0x0, RetVal: 0");

    TraceFile refused;
    EXPECT_EQ(object->GetAllInstancesOfType(129, out.Names(), out.Values(), &retVal), E_FAIL);
    EXPECT_EQ(Lines(refused.OfScope("CSmBiosImpl::DispatchMultiInstance")),
              (Expected{"Info|Enter|Method DispatchMultiInstance has been entered.|bType: 129",
                        "Verbose|Internal|Instance found.|",
                        "Error|Internal|FAIL: No valid SmBios instance found for this type.|",
                        "Info|Leave|Method DispatchMultiInstance has been left.|"}));
    EXPECT_EQ(Line(refused.OfScope("CSmBiosImpl::GetAllInstancesOfType").back()),
              "Info|Leave|Method GetAllInstancesOfType has been left.|hRes: 0x80004005, RetVal: 3");
}

TEST_F(QueryTrace, EnumerationRecords) {
    ComPtr<ISmBiosImpl> object = NewObjectWithTable(TraceTable());
    TraceFile trace;
    EXPECT_EQ(object->GetNextTypeInstance(out.Names(), out.Values(), &retVal), E_FAIL);
    ASSERT_EQ(object->StartTypeInstanceEnum(4, &retVal), S_OK);
    ASSERT_EQ(object->GetNextTypeInstance(out.Names(), out.Values(), &retVal), S_OK);
    ASSERT_EQ(object->GetNextTypeInstance(out.Names(), out.Values(), &retVal), S_OK);
    ASSERT_EQ(retVal, 3u);

    const std::string enter = "Info|Enter|Method GetNextTypeInstance has been entered.|";
    const std::string passed = "Verbose|Internal|Initialize had been called - we can safely continue.|";
    const std::string done = "Info|Leave|Method GetNextTypeInstance has been left.|RetVal: 0, hRes: 0x0";
    EXPECT_EQ(Lines(trace.OfScope("CSmBiosImpl::GetNextTypeInstance")),
              (Expected{enter, passed,
                        "Error|Internal|FAIL: GetNextTypeInstance was not called - you have to call "
                        "GetNextTypeInstance first. Aborting.|",
                        "Verbose|Leave|Method GetNextTypeInstance has been left.|hRes = E_FAIL, RetVal: 2",
                        enter, passed, done, enter, passed, done}));
    EXPECT_EQ(Lines(trace.OfScope("CSmBiosImpl::StartTypeInstanceEnum")),
              (Expected{"Info|Enter|Method StartTypeInstanceEnum has been entered.|bType: 4", passed,
                        "Info|Leave|Method StartTypeInstanceEnum has been left.|RetVal: 0, hRes: 0x0"}));
    EXPECT_EQ(Lines(trace.OfScope("CSmBiosImpl::DispatchNextInstance")),
              (Expected{"Info|Enter|Method DispatchNextInstance has been entered.|",
                        "Verbose|Internal|next instance found.|",
                        "Info|Internal|Internal|Done handling single instance.",
                        "Info|Leave|Method DispatchNextInstance has been left.|RetVal: 0, hRes: 0x0",
                        "Info|Enter|Method DispatchNextInstance has been entered.|",
                        "Info|Internal|Internal|End of instances - no more instances to return.",
                        "Info|Leave|Method DispatchNextInstance has been left.|RetVal: 3, hRes: 0x0"}));
}

TEST_F(QueryTrace, IndexAndHandleLookupRecords) {
    ComPtr<ISmBiosImpl> object = NewObjectWithTable(TraceTable());
    TraceFile trace;
    ASSERT_EQ(object->EnumAllInstances(0, out.Names(), out.Values(), &retVal), S_OK);
    EXPECT_EQ(object->EnumAllInstances(50, out.Names(), out.Values(), &retVal), E_FAIL);
    ASSERT_EQ(object->FindInstanceByHandle(0x0400, out.Names(), out.Values(), &retVal), S_OK);
    EXPECT_EQ(object->FindInstanceByHandle(0x7F00, out.Names(), out.Values(), &retVal), E_FAIL);

    const std::string passed = "Verbose|Internal|Initialize had been called - we can safely continue.|";
    const std::string notFound = "Error|Internal|FAIL: No instance with that index found.|";
    EXPECT_EQ(Lines(trace.OfScope("CSmBiosImpl::EnumAllInstances")),
              (Expected{"Info|Enter|Method EnumAllInstances has been entered.|uiIndex: 0", passed,
                        "Info|Leave|Method EnumAllInstances has been left.|RetVal: 0, hRes: 0x0",
                        "Info|Enter|Method EnumAllInstances has been entered.|uiIndex: 50", passed, notFound,
                        "Info|Leave|Method EnumAllInstances has been left.|hRes: E_FAIL, RetVal: 3"}));
    EXPECT_EQ(Lines(trace.OfScope("CSmBiosImpl::FindInstanceByHandle")),
              (Expected{"Info|Enter|Method FindInstanceByHandle has been entered.|usHandle: 1024", passed,
                        "Info|Leave|Method FindInstanceByHandle has been left.|RetVal: 0, hRes: 0x0",
                        "Info|Enter|Method FindInstanceByHandle has been entered.|usHandle: 32512", passed,
                        notFound,
                        "Info|Leave|Method FindInstanceByHandle has been left.|hRes: E_FAIL, RetVal: 3"}));
}
