// Initialize acquiring the raw table through a driver-access component whose
// answers each test scripts: the session and requests the accessor sees, the
// trace records, every failure path with its HRESULT (the object stays
// uninitialised, keeps the references it got, and the next call starts
// over), and several threads initialising one object.
#include <memory>
#include <thread>

#include "ComponentInstall.h"
#include "DriverAccess.h"
#include "FakeAccessor.h"
#include "InProcessObject.h"

namespace {

constexpr HRESULT kNotReady = static_cast<HRESULT>(0x80070015); // HRESULT_FROM_WIN32(ERROR_NOT_READY)
constexpr HRESULT kGenFailure = static_cast<HRESULT>(0x8007001F);
const std::string kEnter = "Info|Enter|Method Initialize has been entered.|";
const std::string kCreated = "Verbose|Internal|CoCreateInstance succeeded. IDriverAccessRaw loaded.|";
const std::string kServices = "Verbose|Internal|QueryInterface succeeded. (IDriverServices)|";
const std::string kOpened = "Verbose|Internal|Open Driver succeeded|";
const std::string kSized = "Verbose|Internal|Getting SMBios size succeeded|";
const std::string kNoAccessor =
    "Error|Internal|FAIL: CoCreateInstance failed. Could not get IDriverAccessRaw.|";
const std::string kNoServices = "Error|Internal|FAIL: QueryInterface failed. (IDriverServices)|";
const std::string kNoInterfaces = "Error|Internal|FAIL: Could not get required interfaces.|";
const std::string kLeftFail = "Info|Leave|Method Initialize has been left.|E_FAIL";

Bytes DefaultTable() {
    return Table({Bios(0x0000, "Quarnex"), Processor(0x0400), EndOfTable(0x7F00)});
}
const LONG kSize = static_cast<LONG>(DefaultTable().size());

// fake_torvel_access.dll (beside the executable) registered in
// HKLM\Software\Classes under a fresh CLSID and ProgID.
class FakeRegistration {
public:
    FakeRegistration() {
        GUID clsid{};
        CoCreateGuid(&clsid);
        wchar_t text[40];
        StringFromGUID2(clsid, text, 40);
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
    // The feature's dependency table lets this executable create the fake
    // accessor as "AcTorvel.TorvelAccess" (or, without `mapAccessor`, nothing
    // of the sort); a new object.
    void Install(bool mapAccessor) {
        install_.reset();
        const std::string dependency =
            mapAccessor
                ? "<assemblyIdentity name=\"fake_torvel_access.dll\" version=\"1.0.0.0\" progID=\"" +
                      registration_.ProgId() + "\" versionIndependentProgID=\"AcTorvel.TorvelAccess\"/>"
                : "<assemblyIdentity name=\"Unrelated.dll\" version=\"1.0.0.0\" progID=\"Unrelated.Thing.1\" "
                  "versionIndependentProgID=\"Unrelated.Thing\"/>";
        install_ = std::make_unique<ComponentInstall>(
            "<feature name=\"Korvix\" version=\"1.05\"><context name=\"Client\">"
            "<assemblyIdentity name=\"test_acquisition.exe\" version=\"*\"><dependencies>" +
            dependency + "</dependencies></assemblyIdentity></context></feature>");
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
    // True when the queries still answer RetVal 1.
    bool Uninitialised() {
        return Ask(object_.Get(), Q::First, 0).retVal == 1 && Ask(object_.Get(), Q::Index, 0).retVal == 1;
    }
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

// Calls Initialize on `object` from `count` threads at once.
std::vector<HRESULT> InitializeFromThreads(ISmBiosImpl* object, int count = 8) {
    std::vector<HRESULT> results(count, E_UNEXPECTED);
    UniqueHandle go(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i)
        threads.emplace_back([&, i] {
            ComApartment apartment;
            WaitForSingleObject(go.Get(), INFINITE);
            results[i] = object->Initialize();
        });
    Sleep(50);
    SetEvent(go.Get());
    for (auto& t : threads)
        t.join();
    return results;
}

} // namespace

TEST_F(Acquisition, ComponentInitializeAnswers1Or0AndAcquiresNothing) {
    TraceCapture trace;
    EXPECT_EQ(ComponentInitialize(L"NoSuchFeature"), 0) << "no dependency table for that feature";
    EXPECT_EQ(ComponentInitialize(), 1) << "1, not VARIANT_TRUE";
    EXPECT_TRUE(Uninitialised());
    EXPECT_EQ(log().created, 0);
    const Lines lines = trace.Lines("CSmBiosImpl::ComponentInitialize");
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "Info|Enter|Method ComponentInitialize has been entered.|sFeatureName: Korvix, "
                        "sFeatureVersion: 1.05, sContextName: Client"),
              lines.end())
        << "the arguments reach the trace as ANSI strings";
}

TEST_F(Acquisition, OneSessionAcquiresTheTableAndASecondCallTouchesNothing) {
    TraceCapture trace;
    ASSERT_EQ(ComponentInitialize(), 1);
    ASSERT_EQ(object_->Initialize(), S_OK);
    EXPECT_EQ(Calls(), "SORRCT") << "start, open, size, table, close, stop (this call started it)";
    EXPECT_EQ(Ask(object_.Get(), Q::First, 0).Rec().Text(L"Vendor"), L"Quarnex");
    // Created through the component model with this object's feature context.
    EXPECT_EQ(log().created, 1);
    EXPECT_EQ(log().componentInits, 1);
    EXPECT_EQ(std::string(log().feature) + "," + log().version + "," + log().context, "Korvix,1.05,Client");
    EXPECT_EQ(log().openDevice, 0u);
    EXPECT_EQ(log().openFlags, 0u);
    // The requests as they arrived: the table request's output is a byte
    // array of table-size zero bytes.
    EXPECT_EQ(log().sizeInputVt, VT_EMPTY);
    EXPECT_EQ(log().sizeInputSize, 0u);
    EXPECT_EQ(log().sizeOutputVt, VT_UI4);
    EXPECT_EQ(log().sizeOutputValue, 0u);
    EXPECT_EQ(log().sizeOutputSize, 4u);
    EXPECT_EQ(log().dataInputVt, VT_EMPTY);
    EXPECT_EQ(log().dataInputSize, 0u);
    EXPECT_EQ(log().dataOutputVt, VT_ARRAY | VT_VARIANT);
    EXPECT_EQ(log().dataOutputElements, kSize);
    EXPECT_EQ(log().dataOutputZeroBytes, kSize);
    EXPECT_EQ(log().dataOutputSize, static_cast<ULONG>(kSize));
    EXPECT_EQ(log().unknownRequests, 0);

    Reset(Table({EndOfTable(0)})); // a changed answer no longer matters
    EXPECT_EQ(object_->Initialize(), S_OK);
    EXPECT_EQ(Calls(), "");
    EXPECT_EQ(log().created, 0);
    EXPECT_EQ(Ask(object_.Get(), Q::First, 0).Rec().Text(L"Vendor"), L"Quarnex");
    EXPECT_EQ(
        trace.Lines("CSmBiosImpl::Initialize"),
        (Lines{kEnter, kCreated, kServices, kOpened, kSized,
               "Verbose|Internal|SMBios size|" + std::to_string(kSize),
               "Verbose|Internal|Getting SMBios data succeeded|",
               "Verbose|Internal|Attached successfully to SMBios data block|",
               "Info|Leave|Method Initialize has been left.|hRes: 0x0", kEnter,
               "Info|Leave|Method Initialize has been left.|We have already SmBios Data - return S_OK."}));
}

TEST_F(Acquisition, AcceptedVariantsOfTheAccessorsAnswers) {
    const struct {
        const char* name;
        void (*setup)(FakeAccessorScript&);
        const char* calls;
    } rows[] = {
        {"already running: closed, not stopped",
         [](FakeAccessorScript& s) { s.startStatus = DA_STATUS_ALREADY_RUNNING; }, "SORRC"},
        {"VT_I4 elements convert to bytes", [](FakeAccessorScript& s) { s.dataElementsAsI4 = 1; }, "SORRCT"},
        // The component model reports the refusal but hands the reference out.
        {"feature context refused", [](FakeAccessorScript& s) { s.refuseComponentInit = 1; }, "SORRCT"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        object_ = NewObject();
        Reset();
        row.setup(script());
        TraceCapture trace;
        ASSERT_EQ(ComponentInitialize(), 1);
        EXPECT_EQ(object_->Initialize(), S_OK);
        EXPECT_EQ(Calls(), row.calls);
        EXPECT_EQ(Ask(object_.Get(), Q::First, 0).Rec().Text(L"Vendor"), L"Quarnex");
        if (script().refuseComponentInit) {
            const Lines lines = trace.Lines("CSmBiosImpl::Initialize");
            ASSERT_GE(lines.size(), 3u);
            EXPECT_EQ(lines[1], kNoAccessor);
            EXPECT_EQ(lines[2], kServices);
        }
    }
    // A real table travels whole.
    object_ = NewObject();
    Reset(ReadFile(TestDataPath("real/dell-poweredge-r640-3.0.bin")));
    ASSERT_EQ(ComponentInitialize(), 1);
    ASSERT_EQ(object_->Initialize(), S_OK);
    std::string error;
    EXPECT_EQ(Ask(object_.Get(), Q::All, 17).Nested(error).size(), 24u) << "one record per memory device";
    EXPECT_EQ(Ask(object_.Get(), Q::First, 0).Rec().Text(L"Vendor"), L"Dell Inc.");
}

TEST_F(Acquisition, WithoutAnAccessorInTheFeatureContextNothingIsCreated) {
    const Lines records = {kEnter, kNoAccessor, kNoServices, kNoInterfaces, kLeftFail};
    {
        TraceCapture trace;
        EXPECT_EQ(object_->Initialize(), E_FAIL) << "no ComponentInitialize";
        EXPECT_EQ(trace.Lines("CSmBiosImpl::Initialize"), records);
    }
    EXPECT_TRUE(Uninitialised());
    ASSERT_EQ(ComponentInitialize(), 1);
    EXPECT_EQ(object_->Initialize(), S_OK) << "the next call gets the accessor";
    EXPECT_EQ(log().created, 1);

    Install(false); // the dependency table lists no accessor
    Reset();
    ASSERT_EQ(ComponentInitialize(), 1);
    TraceCapture trace;
    EXPECT_EQ(object_->Initialize(), E_FAIL);
    EXPECT_EQ(log().created, 0);
    EXPECT_TRUE(Uninitialised());
    EXPECT_EQ(trace.Lines("CSmBiosImpl::Initialize"), records);
}

TEST_F(Acquisition, EveryFailingStepEndsWithItsHResultAndTheNextCallStartsOver) {
    const std::string leftHr = "Method Initialize has been left.|hRes";
    const struct {
        const char* name;
        void (*setup)(FakeAccessorScript&);
        HRESULT hr;
        const char* calls;
        Lines last; // the last records of Initialize
    } rows[] = {
        {"no IDriverServices",
         [](FakeAccessorScript& s) { s.withoutServices = 1; },
         E_FAIL,
         "",
         {kEnter, kCreated, kNoServices, kNoInterfaces, kLeftFail}},
        {"Start fails",
         [](FakeAccessorScript& s) { s.startHr = kNotReady; },
         kNotReady,
         "S",
         {kEnter, kCreated, kServices, "Error|Internal|FAIL: Start of accessor/driver failed.|",
          "Info|Leave|" + leftHr + ": 0x80070015"}},
        {"Open fails",
         [](FakeAccessorScript& s) { s.openHr = kGenFailure; },
         kGenFailure,
         "SO",
         {kEnter, kCreated, kServices, "Error|Internal|FAIL: Open of accessor/driver failed.|",
          "Info|Leave||hRes: 0x8007001F"}},
        {"Open status",
         [](FakeAccessorScript& s) { s.openStatus = DA_STATUS_NOT_RUNNING; },
         E_FAIL,
         "SO",
         {kEnter, kCreated, kServices, "Error|Internal|FAIL: Open of accessor/driver failed.|",
          "Verbose|Leave|" + leftHr + " = E_FAIL"}},
        {"size: 2 bytes returned",
         [](FakeAccessorScript& s) { s.sizeBytesReturned = 2; },
         E_FAIL,
         "SOR",
         {kEnter, kCreated, kServices, kOpened, "Error|Internal|FAIL: Getting SMBios size failed.|",
          "Verbose|Leave|" + leftHr + ": E_FAIL"}},
        {"size request fails", [](FakeAccessorScript& s) { s.sizeHr = kGenFailure; }, kGenFailure, "SOR", {}},
        {"size: success code, bad status",
         [](FakeAccessorScript& s) {
             s.sizeHr = S_FALSE;
             s.sizeStatus = DA_STATUS_BAD_OUTPUT_SIZE;
         },
         E_FAIL,
         "SOR",
         {}},
        {"size 0",
         [](FakeAccessorScript& s) { s.sizeValue = 0; },
         E_FAIL,
         "SOR",
         {kEnter, kCreated, kServices, kOpened, kSized, "Verbose|Internal|SMBios size|0",
          "Error|Internal|FAIL: Block Size of SmBios Data is 0. Return E_FAIL.|", kLeftFail}},
        {"size answer of 2 elements",
         [](FakeAccessorScript& s) { s.sizeAnswerBytes = 2; },
         E_FAIL,
         "SOR",
         {"Error|Internal|FAIL: Block Size of SmBios Data is 0. Return E_FAIL.|", kLeftFail}},
        {"size element not a byte",
         [](FakeAccessorScript& s) { s.sizeBadElement = 1; },
         DISP_E_OVERFLOW,
         "SOR",
         {}},
        {"table request fails",
         [](FakeAccessorScript& s) { s.dataHr = kNotReady; },
         kNotReady,
         "SORR",
         {"Error|Internal|FAIL: Getting SMBios data failed.|", "Verbose|Leave|" + leftHr + ": 0x80070015"}},
        {"table: bytes returned differ",
         [](FakeAccessorScript& s) { s.dataBytesReturned = kSize - 1; },
         E_FAIL,
         "SORR",
         {}},
        {"table status",
         [](FakeAccessorScript& s) { s.dataStatus = DA_STATUS_TABLE_UNAVAILABLE; },
         E_FAIL,
         "SORR",
         {}},
        {"table array short",
         [](FakeAccessorScript& s) { s.dataElements = kSize - 1; },
         E_FAIL,
         "SORR",
         {"Verbose|Internal|Getting SMBios data succeeded|",
          "Error|Internal|FAIL: Invalid Buffer. Returning E_FAIL.|", kLeftFail}},
        {"table array long", [](FakeAccessorScript& s) { s.dataElements = kSize + 3; }, E_FAIL, "SORR", {}},
        {"table element not a byte",
         [](FakeAccessorScript& s) { s.dataBadElement = 5; },
         DISP_E_OVERFLOW,
         "SORR",
         {"Info|Leave|" + leftHr + ": 0x8002000A"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        object_ = NewObject();
        Reset();
        row.setup(script());
        ASSERT_EQ(ComponentInitialize(), 1);
        {
            TraceCapture trace;
            EXPECT_EQ(object_->Initialize(), row.hr);
            const Lines lines = trace.Lines("CSmBiosImpl::Initialize");
            ASSERT_GE(lines.size(), row.last.size());
            EXPECT_EQ(Lines(lines.end() - row.last.size(), lines.end()), row.last);
        }
        EXPECT_EQ(Calls(), row.calls) << "the failure paths leave the accessor as it is";
        EXPECT_EQ(log().alive, 1) << "the references obtained stay in the object";
        EXPECT_TRUE(Uninitialised());
        // The next call runs a whole session with the references kept.
        Reset();
        EXPECT_EQ(object_->Initialize(), S_OK);
        EXPECT_EQ(Calls(), "SORRCT");
        EXPECT_EQ(log().created, 0);
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

    Install(true);
    ASSERT_EQ(ComponentInitialize(), 1);
    script().startHr = S_OK;
    ASSERT_EQ(object_->Initialize(), S_OK);
    EXPECT_EQ(log().alive, 1) << "kept for the object's life";
    object_.Reset();
    EXPECT_EQ(log().alive, 0);
}

TEST_F(Acquisition, ConcurrentInitializeRunsOneSessionAtATime) {
    // Success: one acquisition serves every thread.
    script().requestDelayMs = 20;
    ASSERT_EQ(ComponentInitialize(), 1);
    EXPECT_EQ(InitializeFromThreads(object_.Get()), std::vector<HRESULT>(8, S_OK));
    EXPECT_EQ(log().created, 1);
    EXPECT_EQ(log().starts, 1);
    EXPECT_EQ(log().rawRequests, 2);
    EXPECT_EQ(log().overlapping, 0);

    // Failures in the table request: each thread runs its own session, never
    // two at once.
    object_ = NewObject();
    Reset();
    script().requestDelayMs = 5;
    script().dataElements = 3;
    ASSERT_EQ(ComponentInitialize(), 1);
    EXPECT_EQ(InitializeFromThreads(object_.Get()), std::vector<HRESULT>(8, E_FAIL));
    EXPECT_EQ(log().dataRequests, 8);
    EXPECT_EQ(log().overlapping, 0);
    EXPECT_TRUE(Uninitialised());

    // A conversion failure never lets another thread report success for a
    // table that was never attached.
    script().dataElements = -1;
    script().dataBadElement = 0;
    for (int round = 0; round < 5; ++round)
        EXPECT_EQ(InitializeFromThreads(object_.Get()), std::vector<HRESULT>(8, DISP_E_OVERFLOW)) << round;
    EXPECT_EQ(log().overlapping, 0);
    EXPECT_TRUE(Uninitialised());
}
