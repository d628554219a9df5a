// Initialize acquiring the raw table through a driver-access component whose
// answers each test scripts: the session and requests the accessor sees, the
// trace records, every failure path with its HRESULT (the object stays
// uninitialised, keeps the references it got, and the next call starts
// over), and several threads initialising one object.
#include <memory>
#include <stdexcept>

#include "ComTestSupport.h"
#include "ComponentInstall.h"
#include "DriverAccess.h"
#include "FakeAccessor.h"

namespace {

constexpr HRESULT kNotReady = static_cast<HRESULT>(0x80070015); // HRESULT_FROM_WIN32(ERROR_NOT_READY)
constexpr HRESULT kGenFailure = static_cast<HRESULT>(0x8007001F);
const std::string kEnter = "Info|Enter|Method Initialize has been entered.|";
const std::string kLeft = "|Leave|Method Initialize has been left.|";
const std::string kCreated = "Verbose|Internal|CoCreateInstance succeeded. IDriverAccessRaw loaded.|";
const std::string kServices = "Verbose|Internal|QueryInterface succeeded. (IDriverServices)|";
const std::string kOpened = "Verbose|Internal|Open Driver succeeded|";
const std::string kSized = "Verbose|Internal|Getting SMBios size succeeded|";
const std::string kNoAccessor =
    "Error|Internal|FAIL: CoCreateInstance failed. Could not get IDriverAccessRaw.|";
const std::string kNoServices = "Error|Internal|FAIL: QueryInterface failed. (IDriverServices)|";
const std::string kNoInterfaces = "Error|Internal|FAIL: Could not get required interfaces.|";
const std::string kSizeZero = "Error|Internal|FAIL: Block Size of SmBios Data is 0. Return E_FAIL.|";
const std::string kFailed = "Info" + kLeft + "E_FAIL";

Bytes DefaultTable() {
    return Table({Bios(0x0000, "Quarnex"), Processor(0x0400), EndOfTable(0x7F00)});
}
const LONG kSize = static_cast<LONG>(DefaultTable().size());

// fake_torvel_access.dll (beside the executable) registered in
// HKLM\Software\Classes under a fresh CLSID and ProgID.
class FakeRegistration {
public:
    FakeRegistration() {
        GUID guid{};
        CoCreateGuid(&guid);
        wchar_t text[40];
        StringFromGUID2(guid, text, 40);
        clsid_ = text;
        progId_ = L"KorvixAcqTest.C" + clsid_.substr(1, 8) + L".1";
        const std::wstring server = L"Software\\Classes\\CLSID\\" + clsid_ + L"\\InprocServer32";
        Set(server, nullptr, ComponentInstall::BinaryFolder() + L"\\fake_torvel_access.dll");
        Set(server, L"ThreadingModel", L"Both");
        Set(L"Software\\Classes\\" + progId_ + L"\\CLSID", nullptr, clsid_);
    }
    ~FakeRegistration() {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, (L"Software\\Classes\\CLSID\\" + clsid_).c_str());
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, (L"Software\\Classes\\" + progId_).c_str());
    }
    std::string ProgId() const { return std::string(progId_.begin(), progId_.end()); }

private:
    static void Set(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
        EXPECT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, REG_SZ, value.c_str(),
                                  static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }
    std::wstring clsid_, progId_;
};

class Acquisition : public ::testing::Test {
protected:
    Acquisition() {
        library_.Reset(
            LoadLibraryW((ComponentInstall::BinaryFolder() + L"\\fake_torvel_access.dll").c_str()));
        auto control = reinterpret_cast<FakeAccessorControlFn>(
            reinterpret_cast<void*>(GetProcAddress(library_.Get(), "FakeAccessorControl")));
        if (control == nullptr) throw std::runtime_error("fake_torvel_access.dll is missing");
        fake_ = control();
        Reset();
        Install(true);
    }
    // A dependency table that lets this executable create the fake as
    // "AcTorvel.TorvelAccess" (or, without `mapAccessor`, nothing of the
    // sort), and a new object.
    void Install(bool mapAccessor) {
        install_.reset();
        const std::string progId = mapAccessor ? registration_.ProgId() : "Unrelated.Thing.1";
        install_ = std::make_unique<ComponentInstall>(
            "<feature name=\"Korvix\" version=\"1.05\"><context name=\"Client\"><assemblyIdentity "
            "name=\"test_acquisition.exe\" version=\"*\"><dependencies><assemblyIdentity "
            "name=\"fake_torvel_access.dll\" "
            "version=\"1.0.0.0\" progID=\"" +
            progId + "\" versionIndependentProgID=\"" +
            (mapAccessor ? "AcTorvel.TorvelAccess" : "Unrelated.Thing") +
            "\"/></dependencies></assemblyIdentity></context></feature>");
        ASSERT_EQ(install_->Error(), "");
        object_ = NewObject();
    }
    // Default answers delivering `table`; an empty log.
    void Reset(const Bytes& table = DefaultTable()) {
        fake_->script = FakeAccessorScript{};
        std::copy(table.begin(), table.end(), fake_->script.table);
        fake_->script.tableSize = static_cast<ULONG>(table.size());
        fake_->log = FakeAccessorLog{};
    }
    VARIANT_BOOL ComponentInitialize(const wchar_t* feature = ComponentInstall::kFeatureW) {
        Bstr f(feature), v(ComponentInstall::kVersionW), c(ComponentInstall::kContextW);
        VARIANT_BOOL result = 99;
        EXPECT_EQ(object_->ComponentInitialize(f.Get(), v.Get(), c.Get(), &result), S_OK);
        return result;
    }
    bool Uninitialised() {
        return Ask(object_.Get(), Q::First, 0).retVal == 1 && Ask(object_.Get(), Q::Index, 0).retVal == 1;
    }
    std::wstring Vendor() { return Ask(object_.Get(), Q::First, 0).Rec().Text(L"Vendor"); }
    std::string Calls() const { return fake_->log.calls; }
    FakeAccessorScript& script() { return fake_->script; }
    FakeAccessorLog& log() { return fake_->log; }

    ComApartment apartment_;
    FakeRegistration registration_;
    LibraryHandle library_;
    FakeAccessorState* fake_ = nullptr;
    std::unique_ptr<ComponentInstall> install_;
    ComPtr<ISmBiosImpl> object_;
};

// Initialize on `object` from eight threads at once.
std::vector<HRESULT> InitializeFromThreads(ISmBiosImpl* object) {
    std::vector<HRESULT> results(8, E_UNEXPECTED);
    RunThreads(8, [&](int t) { results[t] = object->Initialize(); });
    return results;
}

} // namespace

TEST_F(Acquisition, ComponentInitializeAnswers1Or0AndAcquiresNothing) {
    TraceCapture trace;
    EXPECT_EQ(ComponentInitialize(L"NoSuchFeature"), 0) << "no dependency table for that feature";
    EXPECT_EQ(ComponentInitialize(), 1) << "1, not VARIANT_TRUE";
    EXPECT_TRUE(Uninitialised());
    EXPECT_EQ(log().created, 0);
    EXPECT_EQ(trace.Of("CSmBiosImpl::ComponentInitialize")[0],
              "Info|Enter|Method ComponentInitialize has been entered.|sFeatureName: NoSuchFeature, "
              "sFeatureVersion: 1.05, sContextName: Client")
        << "the arguments reach the trace as ANSI strings";
}

TEST_F(Acquisition, OneSessionAcquiresTheTableAndASecondCallTouchesNothing) {
    TraceCapture trace;
    ASSERT_EQ(ComponentInitialize(), 1);
    ASSERT_EQ(object_->Initialize(), S_OK);
    EXPECT_EQ(Calls(), "SORRCT") << "start, open, size, table, close, stop (this call started it)";
    EXPECT_EQ(Vendor(), L"Quarnex");
    EXPECT_EQ(log().created, 1);
    // The feature context through the component model, Open(0, 0), the
    // size request (empty input, VT_UI4 0 output of size 4) and the table
    // request (output: table-size VT_UI1 zeros in a VT_ARRAY | VT_VARIANT).
    const std::string size = std::to_string(kSize);
    EXPECT_EQ(std::string(log().session), "init Korvix,1.05,Client; open 0,0; size in vt0/0 out vt19=0/4; "
                                          "table in vt0/0 out vt8204 " +
                                              size + " bytes (" + size + " zero)/" + size + "; ");

    Reset(Table({EndOfTable(0)})); // a changed answer no longer matters
    EXPECT_EQ(object_->Initialize(), S_OK);
    EXPECT_EQ(Calls() + std::to_string(log().created), "0");
    EXPECT_EQ(Vendor(), L"Quarnex");
    EXPECT_EQ(
        trace.Of("CSmBiosImpl::Initialize"),
        (Lines{kEnter, kCreated, kServices, kOpened, kSized, "Verbose|Internal|SMBios size|" + size,
               "Verbose|Internal|Getting SMBios data succeeded|",
               "Verbose|Internal|Attached successfully to SMBios data block|", "Info" + kLeft + "hRes: 0x0",
               kEnter, "Info" + kLeft + "We have already SmBios Data - return S_OK."}));
}

TEST_F(Acquisition, AcceptedVariantsOfTheAccessorsAnswers) {
    const struct {
        void (*setup)(FakeAccessorScript&);
        const char* calls;
    } rows[] = {
        {[](FakeAccessorScript& s) { s.startStatus = DA_STATUS_ALREADY_RUNNING; },
         "SORRC"},                                                         // closed, not stopped
        {[](FakeAccessorScript& s) { s.dataElementsAsI4 = 1; }, "SORRCT"}, // VT_I4 elements convert to bytes
        // The component model reports the refusal but hands the reference out.
        {[](FakeAccessorScript& s) { s.refuseComponentInit = 1; }, "SORRCT"},
    };
    for (const auto& row : rows) {
        object_ = NewObject();
        Reset();
        row.setup(script());
        TraceCapture trace;
        ASSERT_EQ(ComponentInitialize(), 1);
        EXPECT_EQ(object_->Initialize(), S_OK);
        EXPECT_EQ(Calls(), row.calls);
        EXPECT_EQ(Vendor(), L"Quarnex");
        if (script().refuseComponentInit)
            EXPECT_EQ(trace.Of("CSmBiosImpl::Initialize").at(1) + trace.Of("CSmBiosImpl::Initialize").at(2),
                      kNoAccessor + kServices);
    }
    // A real table travels whole.
    object_ = NewObject();
    Reset(ReadFile(TestDataPath("real/dell-poweredge-r640-3.0.bin")));
    ASSERT_EQ(ComponentInitialize(), 1);
    ASSERT_EQ(object_->Initialize(), S_OK);
    std::string error;
    EXPECT_EQ(Ask(object_.Get(), Q::All, 17).Nested(error).size(), 24u) << "one record per memory device";
    EXPECT_EQ(Vendor(), L"Dell Inc.");
}

TEST_F(Acquisition, WithoutAnAccessorInTheFeatureContextNothingIsCreated) {
    const Lines records = {kEnter, kNoAccessor, kNoServices, kNoInterfaces, kFailed};
    {
        TraceCapture trace;
        EXPECT_EQ(object_->Initialize(), E_FAIL) << "no ComponentInitialize";
        EXPECT_EQ(trace.Of("CSmBiosImpl::Initialize"), records);
    }
    EXPECT_TRUE(Uninitialised());
    ASSERT_EQ(ComponentInitialize(), 1);
    EXPECT_EQ(object_->Initialize(), S_OK) << "the next call gets the accessor";

    Install(false); // the dependency table lists no accessor
    Reset();
    ASSERT_EQ(ComponentInitialize(), 1);
    TraceCapture trace;
    EXPECT_EQ(object_->Initialize(), E_FAIL);
    EXPECT_EQ(log().created, 0);
    EXPECT_TRUE(Uninitialised());
    EXPECT_EQ(trace.Of("CSmBiosImpl::Initialize"), records);
}

TEST_F(Acquisition, EveryFailingStepEndsWithItsHResultAndTheNextCallStartsOver) {
    using S = FakeAccessorScript&;
    const struct {
        void (*setup)(FakeAccessorScript&);
        HRESULT hr;
        const char* calls;
        Lines last; // the last records of Initialize
    } rows[] = {
        {[](S s) { s.withoutServices = 1; },
         E_FAIL,
         "",
         {kEnter, kCreated, kNoServices, kNoInterfaces, kFailed}},
        {[](S s) { s.startHr = kNotReady; },
         kNotReady,
         "S",
         {kServices, "Error|Internal|FAIL: Start of accessor/driver failed.|",
          "Info" + kLeft + "hRes: 0x80070015"}},
        {[](S s) { s.openHr = kGenFailure; },
         kGenFailure,
         "SO",
         {kServices, "Error|Internal|FAIL: Open of accessor/driver failed.|",
          "Info|Leave||hRes: 0x8007001F"}},
        {[](S s) { s.openStatus = DA_STATUS_NOT_RUNNING; },
         E_FAIL,
         "SO",
         {"Error|Internal|FAIL: Open of accessor/driver failed.|", "Verbose" + kLeft + "hRes = E_FAIL"}},
        {[](S s) { s.sizeBytesReturned = 2; },
         E_FAIL,
         "SOR",
         {kOpened, "Error|Internal|FAIL: Getting SMBios size failed.|", "Verbose" + kLeft + "hRes: E_FAIL"}},
        {[](S s) { s.sizeHr = kGenFailure; }, kGenFailure, "SOR", {}},
        {[](S s) { s.sizeHr = S_FALSE, s.sizeStatus = DA_STATUS_BAD_OUTPUT_SIZE; }, E_FAIL, "SOR", {}},
        {[](S s) { s.sizeValue = 0; },
         E_FAIL,
         "SOR",
         {kSized, "Verbose|Internal|SMBios size|0", kSizeZero, kFailed}},
        {[](S s) { s.sizeAnswerBytes = 2; }, E_FAIL, "SOR", {kSizeZero, kFailed}}, // no four bytes of size
        {[](S s) { s.sizeBadElement = 1; }, DISP_E_OVERFLOW, "SOR", {}},
        {[](S s) { s.dataHr = kNotReady; },
         kNotReady,
         "SORR",
         {"Error|Internal|FAIL: Getting SMBios data failed.|", "Verbose" + kLeft + "hRes: 0x80070015"}},
        {[](S s) { s.dataBytesReturned = kSize - 1; }, E_FAIL, "SORR", {}},
        {[](S s) { s.dataStatus = DA_STATUS_TABLE_UNAVAILABLE; }, E_FAIL, "SORR", {}},
        {[](S s) { s.dataElements = kSize - 1; },
         E_FAIL,
         "SORR",
         {"Verbose|Internal|Getting SMBios data succeeded|",
          "Error|Internal|FAIL: Invalid Buffer. Returning E_FAIL.|", kFailed}},
        {[](S s) { s.dataElements = kSize + 3; }, E_FAIL, "SORR", {}},
        {[](S s) { s.dataBadElement = 5; }, DISP_E_OVERFLOW, "SORR", {"Info" + kLeft + "hRes: 0x8002000A"}},
    };
    for (size_t k = 0; k < std::size(rows); ++k) {
        SCOPED_TRACE("row " + std::to_string(k));
        object_ = NewObject();
        Reset();
        rows[k].setup(script());
        ASSERT_EQ(ComponentInitialize(), 1);
        {
            TraceCapture trace;
            EXPECT_EQ(object_->Initialize(), rows[k].hr);
            const Lines lines = trace.Of("CSmBiosImpl::Initialize");
            ASSERT_GE(lines.size(), rows[k].last.size());
            EXPECT_EQ(Lines(lines.end() - rows[k].last.size(), lines.end()), rows[k].last);
        }
        EXPECT_EQ(Calls(), rows[k].calls) << "the failure paths leave the accessor as it is";
        EXPECT_EQ(log().alive, 1) << "the references obtained stay in the object";
        EXPECT_TRUE(Uninitialised());
        Reset(); // the next call runs a whole session with the kept references
        EXPECT_EQ(object_->Initialize(), S_OK);
        EXPECT_EQ(Calls() + std::to_string(log().created), "SORRCT0");
        EXPECT_FALSE(Uninitialised());
    }
}

TEST_F(Acquisition, AccessorReferencesLiveAsLongAsTheObject) {
    script().startHr = kNotReady;
    ASSERT_EQ(ComponentInitialize(), 1);
    EXPECT_EQ(object_->Initialize(), kNotReady);
    EXPECT_EQ(object_->Initialize(), kNotReady);
    EXPECT_EQ(log().created, 1);
    EXPECT_EQ(log().starts, 2);
    EXPECT_EQ(log().alive, 1);
    object_.Reset();
    EXPECT_EQ(log().alive, 0);

    object_ = NewObject();
    ASSERT_EQ(ComponentInitialize(), 1);
    script().startHr = S_OK;
    ASSERT_EQ(object_->Initialize(), S_OK);
    EXPECT_EQ(log().alive, 1) << "kept for the object's life";
    object_.Reset();
    EXPECT_EQ(log().alive, 0);
}

TEST_F(Acquisition, ConcurrentInitializeRunsOneSessionAtATime) {
    script().requestDelayMs = 20; // one acquisition serves every thread
    ASSERT_EQ(ComponentInitialize(), 1);
    EXPECT_EQ(InitializeFromThreads(object_.Get()), std::vector<HRESULT>(8, S_OK));
    EXPECT_EQ(log().created, 1);
    EXPECT_EQ(log().starts, 1);
    EXPECT_EQ(log().rawRequests, 2);
    EXPECT_EQ(log().overlapping, 0);

    // Failing table requests: every thread runs its own session, never two at once.
    object_ = NewObject();
    Reset();
    script().requestDelayMs = 5;
    script().dataElements = 3;
    ASSERT_EQ(ComponentInitialize(), 1);
    EXPECT_EQ(InitializeFromThreads(object_.Get()), std::vector<HRESULT>(8, E_FAIL));
    EXPECT_EQ(log().dataRequests, 8);
    // A conversion failure never lets another thread report success for a
    // table that was never attached.
    script().dataElements = -1;
    script().dataBadElement = 0;
    for (int round = 0; round < 5; ++round)
        EXPECT_EQ(InitializeFromThreads(object_.Get()), std::vector<HRESULT>(8, DISP_E_OVERFLOW)) << round;
    EXPECT_EQ(log().overlapping, 0);
    EXPECT_TRUE(Uninitialised());
}
