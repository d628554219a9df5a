// ComponentInitialize and a successful Initialize: the requests the accessor
// receives, its session (start, open, requests, close, stop), the records,
// and that the acquired table answers queries.
#include "AcquisitionFixture.h"

namespace {

using Expected = std::vector<std::string>;

std::wstring VendorOf(ISmBiosImpl* object) {
    Variant names, values;
    ULONG retVal = 99;
    if (object->GetFirstInstanceOfType(0, names.Get(), values.Get(), &retVal) != S_OK) return L"<failed>";
    LONG upper = -1;
    SafeArrayGetUBound(names->parray, 1, &upper);
    for (LONG i = 0; i <= upper; ++i) {
        Variant n, v;
        SafeArrayGetElement(names->parray, &i, n.Get());
        if (n->vt == VT_BSTR && std::wstring(n->bstrVal) == L"Vendor") {
            SafeArrayGetElement(values->parray, &i, v.Get());
            return v->vt == VT_BSTR ? v->bstrVal : L"<not text>";
        }
    }
    return L"<missing>";
}

} // namespace

class InitializeSuccess : public AcquisitionTest {};

TEST_F(InitializeSuccess, ComponentInitializeReportsOneOrZero) {
    EXPECT_EQ(ComponentInitialize("NoSuchFeature"), 0) << "no dependency table for that feature";
    EXPECT_EQ(ComponentInitialize(), 1) << "1, not VARIANT_TRUE";
    EXPECT_TRUE(Uninitialised()) << "ComponentInitialize acquires nothing";
    EXPECT_EQ(log().created, 0);

    // The arguments reach the trace as ANSI strings.
    bool found = false;
    for (const auto& r : m_trace.Records())
        if (r.className == "CSmBiosImpl" && r.method == "ComponentInitialize" && r.category == "Enter" &&
            r.details == "sFeatureName: KorvixAcq, sFeatureVersion: 1.0, sContextName: Client")
            found = true;
    EXPECT_TRUE(found);
}

TEST_F(InitializeSuccess, AcquiresTheTableInOneSession) {
    ASSERT_EQ(ComponentInitialize(), 1);
    ASSERT_EQ(object_->Initialize(), S_OK);
    EXPECT_EQ(Calls(), "SORRCT") << "start, open, size, table, close, stop (this call started it)";
    EXPECT_EQ(VendorOf(object_.Get()), L"Quarnex");
    EXPECT_FALSE(Uninitialised());

    // The accessor was created through the component model with this
    // object's feature context.
    EXPECT_EQ(log().created, 1);
    EXPECT_EQ(log().componentInits, 1);
    EXPECT_STREQ(log().feature, kFeature);
    EXPECT_STREQ(log().version, kVersion);
    EXPECT_STREQ(log().context, kContext);
    EXPECT_EQ(log().openDevice, 0u);
    EXPECT_EQ(log().openFlags, 0u);

    // The two requests as they arrived.
    EXPECT_EQ(log().sizeRequests, 1);
    EXPECT_EQ(log().sizeInputVt, VT_EMPTY);
    EXPECT_EQ(log().sizeInputSize, 0u);
    EXPECT_EQ(log().sizeOutputVt, VT_UI4);
    EXPECT_EQ(log().sizeOutputValue, 0u);
    EXPECT_EQ(log().sizeOutputSize, 4u);
    const LONG size = static_cast<LONG>(DefaultTable().size());
    EXPECT_EQ(log().dataRequests, 1);
    EXPECT_EQ(log().dataInputVt, VT_EMPTY);
    EXPECT_EQ(log().dataInputSize, 0u);
    EXPECT_EQ(log().dataOutputVt, VT_ARRAY | VT_VARIANT);
    EXPECT_EQ(log().dataOutputElements, size);
    EXPECT_EQ(log().dataOutputZeroBytes, size) << "a byte array of table-size zero bytes";
    EXPECT_EQ(log().dataOutputSize, static_cast<ULONG>(size));
    EXPECT_EQ(log().unknownRequests, 0);
}

TEST_F(InitializeSuccess, RecordsOfASuccessfulAcquisition) {
    ASSERT_EQ(ComponentInitialize(), 1);
    ASSERT_EQ(object_->Initialize(), S_OK);
    const std::string size = std::to_string(DefaultTable().size());
    EXPECT_EQ(
        InitializeRecords(),
        (Expected{"Info|Enter|Method Initialize has been entered.|",
                  "Verbose|Internal|CoCreateInstance succeeded. IDriverAccessRaw loaded.|",
                  "Verbose|Internal|QueryInterface succeeded. (IDriverServices)|",
                  "Verbose|Internal|Open Driver succeeded|",
                  "Verbose|Internal|Getting SMBios size succeeded|", "Verbose|Internal|SMBios size|" + size,
                  "Verbose|Internal|Getting SMBios data succeeded|",
                  "Verbose|Internal|Attached successfully to SMBios data block|",
                  "Info|Leave|Method Initialize has been left.|hRes: 0x0"}));
}

TEST_F(InitializeSuccess, ASecondInitializeCallsNothingOnTheAccessor) {
    ASSERT_EQ(ComponentInitialize(), 1);
    ASSERT_EQ(object_->Initialize(), S_OK);
    ResetLog();
    const size_t before = InitializeRecords().size();
    EXPECT_EQ(object_->Initialize(), S_OK);
    EXPECT_EQ(Calls(), "");
    EXPECT_EQ(log().created, 0);
    const Expected records = InitializeRecords();
    EXPECT_EQ(
        Expected(records.begin() + static_cast<long>(before), records.end()),
        (Expected{"Info|Enter|Method Initialize has been entered.|",
                  "Info|Leave|Method Initialize has been left.|We have already SmBios Data - return S_OK."}));

    // A changed accessor answer does not matter any more: the table is kept.
    Deliver(Table({Structure(127, 0, {})}));
    EXPECT_EQ(object_->Initialize(), S_OK);
    EXPECT_EQ(VendorOf(object_.Get()), L"Quarnex");
}

TEST_F(InitializeSuccess, AnAccessorThatWasAlreadyRunningIsClosedButNotStopped) {
    script().startStatus = DA_STATUS_ALREADY_RUNNING;
    ASSERT_EQ(ComponentInitialize(), 1);
    ASSERT_EQ(object_->Initialize(), S_OK);
    EXPECT_EQ(Calls(), "SORRC");
    EXPECT_EQ(log().stops, 0);
}

TEST_F(InitializeSuccess, AccessorThatRefusesItsFeatureContextIsUsedAllTheSame) {
    // The component model reports the refusal but hands out the reference it
    // obtained; acquisition goes on with it.
    script().refuseComponentInit = 1;
    ASSERT_EQ(ComponentInitialize(), 1);
    EXPECT_EQ(object_->Initialize(), S_OK);
    EXPECT_EQ(Calls(), "SORRCT");
    const Expected records = InitializeRecords();
    ASSERT_GE(records.size(), 3u);
    EXPECT_EQ(records[1], "Error|Internal|FAIL: CoCreateInstance failed. Could not get IDriverAccessRaw.|");
    EXPECT_EQ(records[2], "Verbose|Internal|QueryInterface succeeded. (IDriverServices)|");
    EXPECT_EQ(VendorOf(object_.Get()), L"Quarnex");
}

TEST_F(InitializeSuccess, AnswersWhoseElementsConvertToBytesAreAccepted) {
    script().dataElementsAsI4 = 1;
    ASSERT_EQ(ComponentInitialize(), 1);
    ASSERT_EQ(object_->Initialize(), S_OK);
    EXPECT_EQ(VendorOf(object_.Get()), L"Quarnex");
}

TEST_F(InitializeSuccess, ARealTableTravelsWhole) {
    const Bytes table = ReadFile(TestDataPath("real/dell-poweredge-r640-3.0.bin"));
    ASSERT_FALSE(table.empty());
    Deliver(table);
    ASSERT_EQ(ComponentInitialize(), 1);
    ASSERT_EQ(object_->Initialize(), S_OK);
    Variant names, values;
    ULONG retVal = 99;
    ASSERT_EQ(object_->GetAllInstancesOfType(17, names.Get(), values.Get(), &retVal), S_OK);
    EXPECT_EQ(names->parray->rgsabound[0].cElements, 24u) << "one record per memory device";
    EXPECT_EQ(VendorOf(object_.Get()), L"Dell Inc.");
}

TEST_F(InitializeSuccess, ReleasingTheObjectReleasesTheAccessor) {
    ASSERT_EQ(ComponentInitialize(), 1);
    ASSERT_EQ(object_->Initialize(), S_OK);
    EXPECT_EQ(log().alive, 1) << "both references are kept for the object's life";
    object_.Reset();
    EXPECT_EQ(log().alive, 0);
}
