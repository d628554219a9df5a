// Initialize through a stand-in driver-access component whose answers each
// test scripts (its class object registered in this process), and the
// installed component with TorvelAccess.dll as clients use them.
#include <atomic>
#include <mutex>

#include "ComTest.h"
#include "ComponentInstall.h"
#include "DriverAccess.h"
#include "StaticClassFactory.h"
#include "Registry.h"
#include "TraceFile.h"

namespace {

const HRESULT kNotReady = HRESULT_FROM_WIN32(ERROR_NOT_READY),
              kFailure = HRESULT_FROM_WIN32(ERROR_GEN_FAILURE);
const Bytes kTable = Table({Structure(0, 0, Cat({{1}, Bytes(0x13, 0)}), {"Quarnex"}), Structure(127, 1, {})});
const LONG kSize = static_cast<LONG>(kTable.size());
Bytes g_table = kTable; // what the stand-in serves

// What the stand-in answers; -1 where it answers as an accessor should.
struct Reply {
    HRESULT hr = S_OK;
    ULONG status = DA_STATUS_OK;
    LONG returned = -1, elements = -1; // bytes returned, elements of the answer array
    LONG bad = -1;                     // an element holding 300, which is no byte
    LONG lower = 0;                    // the lower bound of the answer array
    bool asI4 = false;                 // elements as VT_I4 instead of VT_UI1
};
struct Script {
    bool refuseInit = false, noServices = false;
    HRESULT startHr = S_OK, openHr = S_OK;
    ULONG startStatus = DA_STATUS_OK, openStatus = DA_STATUS_OK;
    LONG sizeValue = -1; // the table size it reports
    Reply size, data;
    DWORD delayMs = 0; // per request
} g_script;
std::mutex g_lock;
// A letter a call (Initialize, Start, Open, RawRequest, Close, sTop); those with wrong arguments.
std::string g_calls, g_wrong;
std::atomic<LONG> g_created{0}, g_alive{0}, g_inRequest{0}, g_overlapping{0}, g_dataRequests{0};

HRESULT Note(char call, HRESULT hr, ULONG* status, ULONG value, bool wrongArguments = false) {
    std::lock_guard<std::mutex> hold(g_lock);
    g_calls += call;
    g_wrong += wrongArguments ? std::string(1, call) : "";
    *status = value;
    return hr;
}

class Fake : public IDriverAccessRaw, public IDriverServices, public IComponentInit {
public:
    Fake() { ++g_created, ++g_alive; }
    virtual ~Fake() { --g_alive; }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** p) override {
        *p = iid == IID_IUnknown || iid == IID_IDriverAccessRaw ? static_cast<IDriverAccessRaw*>(this)
                                                                : nullptr;
        if (iid == IID_IDriverServices && !g_script.noServices) *p = static_cast<IDriverServices*>(this);
        if (iid == IID_IComponentInit) *p = static_cast<IComponentInit*>(this);
        return *p ? (AddRef(), S_OK) : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    // The creator's feature context; Open(0, 0).
    HRESULT STDMETHODCALLTYPE Initialize(BSTR feature, BSTR version, BSTR context,
                                         VARIANT_BOOL* result) override {
        ULONG none;
        *result = g_script.refuseInit ? VARIANT_FALSE : VARIANT_TRUE;
        const bool right =
            !wcscmp(feature, L"Korvix") && !wcscmp(version, L"1.05") && !wcscmp(context, L"Client");
        return Note('I', S_OK, &none, 0, !right);
    }
    HRESULT STDMETHODCALLTYPE Open(ULONG device, ULONG flags, ULONG* status) override {
        return Note('O', g_script.openHr, status, g_script.openStatus, device || flags);
    }
    HRESULT STDMETHODCALLTYPE Close(ULONG* status) override { return Note('C', S_OK, status, 0); }
    HRESULT STDMETHODCALLTYPE Start(ULONG* status) override {
        return Note('S', g_script.startHr, status, g_script.startStatus);
    }
    HRESULT STDMETHODCALLTYPE Stop(ULONG* status) override { return Note('T', S_OK, status, 0); }
    HRESULT STDMETHODCALLTYPE RawRequest(ULONG code, VARIANT* in, ULONG inSize, VARIANT* out, ULONG outSize,
                                         VARIANT* returned, ULONG* status) override {
        if (++g_inRequest > 1) ++g_overlapping;
        Sleep(g_script.delayMs);
        const bool size = code == DA_IOCTL_GET_SMBIOS_SIZE;
        // An empty input; for the size a VT_UI4 0 output of size 4, for the
        // table an array of table-size zero bytes.
        LONG zeros = 0, elements = Length(*out);
        for (LONG i = 0; i < elements; ++i) {
            Variant e;
            SafeArrayGetElement(out->parray, &i, e.Get());
            zeros += e->vt == VT_UI1 && e->bVal == 0;
        }
        const bool right =
            in->vt == VT_EMPTY && inSize == 0 &&
            (size ? out->vt == VT_UI4 && out->ulVal == 0 && outSize == 4
                  : zeros == elements && outSize == ULONG(elements) && outSize == g_table.size());
        const Reply& r = size ? g_script.size : g_script.data;
        const Bytes answer =
            size ? U32(g_script.sizeValue < 0 ? g_table.size() : g_script.sizeValue) : g_table;
        VariantClear(out);
        out->vt = VT_ARRAY | VT_VARIANT;
        SAFEARRAYBOUND bound{ULONG(r.elements < 0 ? answer.size() : r.elements), r.lower};
        out->parray = SafeArrayCreate(VT_VARIANT, 1, &bound);
        for (LONG i = 0, at = r.lower; i < LONG(bound.cElements); ++i, ++at) {
            VARIANT e{};
            e.vt = r.asI4 || i == r.bad ? VT_I4 : VT_UI1;
            e.lVal = i == r.bad ? 300 : i < LONG(answer.size()) ? answer[i] : 0;
            SafeArrayPutElement(out->parray, &at, &e);
        }
        VariantClear(returned);
        returned->vt = VT_UI4;
        returned->ulVal = r.returned < 0 ? answer.size() : r.returned;
        g_dataRequests += !size;
        --g_inRequest;
        return Note('R', r.hr, status, r.status, !right);
    }

private:
    std::atomic<ULONG> refs_{1};
};

StaticClassFactory<Fake> g_factory;

// This executable creates the stand-in as "AcTorvel.TorvelAccess",
// Korvix.dll creates TorvelAccess.dll.
const std::string kDependencies =
    R"(<feature name="Korvix" version="1.05"><context name="Client">
<assemblyIdentity name="test_smbiosimpl.exe" version="*"><dependencies><assemblyIdentity name="fake.dll"
 version="1.0.0.0" progID="KorvixTest.Fake.1" versionIndependentProgID="AcTorvel.TorvelAccess"/></dependencies>
</assemblyIdentity><assemblyIdentity name="Korvix.dll" version="*"><dependencies><assemblyIdentity
 name="TorvelAccess.dll" version="1.0.0.1" progID="AcTorvel.TorvelAccess.1"
 versionIndependentProgID="AcTorvel.TorvelAccess"/></dependencies></assemblyIdentity></context></feature>)";

class Acquisition : public ::testing::Test {
protected:
    void SetUp() override {
        const wchar_t clsidText[] = L"{3C5E0A7D-19B2-4F0E-9A61-2D7C440B8E15}";
        CLSID clsid{};
        ASSERT_TRUE(install.Error().empty() && SUCCEEDED(CLSIDFromString(clsidText, &clsid)));
        ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\KorvixTest.Fake.1\\CLSID", nullptr,
                                  REG_SZ, clsidText, sizeof clsidText),
                  ERROR_SUCCESS);
        ASSERT_EQ(
            CoRegisterClassObject(clsid, &g_factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie_),
            S_OK);
        Reset();
    }
    void TearDown() override {
        CoRevokeClassObject(cookie_);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\KorvixTest.Fake.1");
    }
    void Reset() {
        g_script = Script{};
        g_table = kTable;
        g_calls.clear();
        g_wrong.clear();
        g_dataRequests = g_overlapping = 0;
    }
    VARIANT_BOOL ComponentInitialize(const wchar_t* feature = L"Korvix") {
        Bstr f(feature), v(L"1.05"), c(L"Client");
        VARIANT_BOOL result = 99;
        EXPECT_EQ(object->ComponentInitialize(f.Get(), v.Get(), c.Get(), &result), S_OK);
        return result;
    }
    bool Uninitialised() { return Ask(object.Get(), Q::Index, 0).retVal == 1; }
    std::wstring Vendor() { return Ask(object.Get(), Q::First, 0).Rec().Get(L"Vendor").text; }

    ComApartment apartment;
    ComponentInstall install{kDependencies};
    ComPtr<ISmBiosImpl> object = WithTable(nullptr);
    DWORD cookie_ = 0;
};

} // namespace

TEST_F(Acquisition, OneSessionAcquiresTheTableAndASecondCallTouchesNothing) {
    const LONG created = g_created;
    EXPECT_EQ(object->Initialize(), E_FAIL) << "before ComponentInitialize";
    EXPECT_EQ(ComponentInitialize(L"NoSuchFeature"), 0) << "no dependency table for that feature";
    ASSERT_EQ(ComponentInitialize(), 1) << "1, not VARIANT_TRUE";
    EXPECT_EQ(g_created - created, 0) << "no accessor yet";
    Reset();
    ASSERT_EQ(object->Initialize(), S_OK);
    EXPECT_EQ(Vendor(), L"Quarnex");
    EXPECT_EQ(g_calls, "ISORRCT") << "this call started the accessor, so it stops it";
    EXPECT_EQ(g_wrong, "") << "calls with other arguments";
    Reset();
    EXPECT_EQ(object->Initialize(), S_OK);
    EXPECT_EQ(g_calls, "");
    object.Reset();
    EXPECT_EQ(g_created - created, 1);
    EXPECT_EQ(g_alive.load(), 0) << "the accessor lives as long as the object";
}

TEST_F(Acquisition, EveryWayASessionEndsAndWhatTheNextCallDoes) {
    using S = Script&;
    const struct {
        void (*setup)(Script&);
        HRESULT hr;
        const char* calls;
    } rows[] = {
        {[](S s) { s.startStatus = DA_STATUS_ALREADY_RUNNING; }, S_OK, "SORRC"}, // closed, not stopped
        {[](S s) { s.data.asI4 = true; }, S_OK, "SORRCT"},  // elements that convert to bytes
        {[](S s) { s.data.lower = 5; }, S_OK, "SORRCT"},    // any lower bound
        {[](S s) { s.refuseInit = true; }, S_OK, "SORRCT"}, // reported, but the accessor is handed out
        {[](S s) { s.noServices = true; }, E_FAIL, ""},
        {[](S s) { s.startHr = kNotReady; }, kNotReady, "S"},
        {[](S s) { s.openHr = kFailure; }, kFailure, "SO"},
        {[](S s) { s.openStatus = DA_STATUS_NOT_RUNNING; }, E_FAIL, "SO"},
        {[](S s) { s.size.returned = 2; }, E_FAIL, "SOR"},
        {[](S s) { s.size.hr = kFailure; }, kFailure, "SOR"},
        {[](S s) { s.size.hr = S_FALSE, s.size.status = DA_STATUS_BAD_OUTPUT_SIZE; }, E_FAIL, "SOR"},
        {[](S s) { s.sizeValue = 0; }, E_FAIL, "SOR"},
        {[](S s) { s.size.elements = 2; }, E_FAIL, "SOR"}, // fewer than four bytes of size
        {[](S s) { s.size.bad = 1; }, DISP_E_OVERFLOW, "SOR"},
        {[](S s) { s.data.hr = kNotReady; }, kNotReady, "SORR"},
        {[](S s) { s.data.returned = kSize - 1; }, E_FAIL, "SORR"},
        {[](S s) { s.data.status = DA_STATUS_TABLE_UNAVAILABLE; }, E_FAIL, "SORR"},
        {[](S s) { s.data.elements = kSize - 1; }, E_FAIL, "SORR"},
        {[](S s) { s.data.elements = kSize + 3; }, E_FAIL, "SORR"},
        {[](S s) { s.data.bad = 5; }, DISP_E_OVERFLOW, "SORR"},
    };
    for (size_t k = 0; k < std::size(rows); ++k) {
        SCOPED_TRACE("row " + std::to_string(k));
        object = WithTable(nullptr);
        ASSERT_EQ(ComponentInitialize(), 1);
        Reset();
        rows[k].setup(g_script);
        const LONG created = g_created;
        EXPECT_EQ(object->Initialize(), rows[k].hr);
        EXPECT_EQ(g_calls, "I" + std::string(rows[k].calls)) << "failures leave the accessor as it is";
        EXPECT_EQ(g_wrong, "");
        EXPECT_EQ(g_alive.load(), 1) << "the references obtained stay with the object";
        if (SUCCEEDED(rows[k].hr)) {
            EXPECT_EQ(Vendor(), L"Quarnex");
            continue;
        }
        EXPECT_TRUE(Uninitialised());
        Reset(); // the next call runs a whole session with the kept references
        EXPECT_EQ(object->Initialize(), S_OK);
        EXPECT_EQ(g_calls + std::to_string(g_created - created), "SORRCT1");
    }
}

TEST_F(Acquisition, ConcurrentCallsRunOneSessionAtATime) {
    g_table.clear(); // some 1.3 MB of structures, their strings holding every byte value
    for (uint32_t k = 0; k < 20000; ++k) {
        const Bytes s = Structure(k % 2 ? 11 : 17, uint16_t(k), Bytes(k % 2 ? 1 : 0x11, 1),
                                  {"S" + std::to_string(k) + char(1 + k % 255)});
        g_table.insert(g_table.end(), s.begin(), s.end());
    }
    g_script.delayMs = 20;
    ASSERT_EQ(ComponentInitialize(), 1);
    std::vector<HRESULT> results(8, E_UNEXPECTED);
    RunThreads(8, [&](int t) { results[t] = object->Initialize(); });
    EXPECT_EQ(results, std::vector<HRESULT>(8, S_OK));
    EXPECT_EQ(g_calls, "ISORRCT") << "one session served every thread";
    for (BYTE type : {11, 17}) // whole
        EXPECT_TRUE(Ask(object.Get(), Q::All, type).All() ==
                    Ask(WithTable(&g_table).Get(), Q::All, type).All());
    // A failing conversion (thrown while the lock is held) fails every
    // thread's own session, one after the other, and none reports success.
    object = WithTable(nullptr);
    ASSERT_EQ(ComponentInitialize(), 1);
    Reset();
    g_script.delayMs = 5;
    g_script.data.bad = 0;
    RunThreads(8, [&](int t) { results[t] = object->Initialize(); });
    EXPECT_EQ(results, std::vector<HRESULT>(8, DISP_E_OVERFLOW));
    EXPECT_EQ(g_dataRequests.load(), 8);
    EXPECT_EQ(g_overlapping.load(), 0);
    EXPECT_TRUE(Uninitialised());
}

// In threads of their own, clients create "Korvix.SmBiosImpl" by ProgID under
// a server lock and read a table file through TorvelAccess.dll, while
// Korvix.dll traces through its key into files that a size limit switches.
TEST(Installed, ClientsInThreadsGetWholeAnswersWholeTraceRecordsAndLetTheServerUnload) {
    ComApartment apartment;
    ComponentInstall install{kDependencies};
    ASSERT_EQ(install.Error(), "");
    TempFolder folder;
    HklmKey key("Software\\Quarnex\\Common\\Tracing\\Korvix.dll\\1.05"); // read when Korvix.dll loads
    for (auto [name, value] :
         {std::pair{"Trace", 1}, {"TraceLevel", 6}, {"TraceLimitSize", 1 << 18}, {"TraceKeepHistory", 1}})
        key.SetDword(name, value);
    key.SetString("TraceFile", (folder.Path() / "korvix-%PID%.trc").string());
    const std::string real = TestDataPath("real/dell-poweredge-r640-3.0.bin");
    ScopedEnv table(L"KORVIX_SMBIOS_TABLE", std::filesystem::path(real).wstring());
    const Bytes bytes = ReadFile(real);
    const std::vector<Record> memory = Ask(WithTable(&bytes).Get(), Q::All, 17).All(); // one thread an object
    LibraryHandle korvix(LoadLibraryW((ComponentInstall::BinaryFolder() + L"\\Korvix.dll").c_str()));
    const auto canUnloadNow = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(GetProcAddress(korvix.Get(), "DllCanUnloadNow")));
    ASSERT_TRUE(canUnloadNow);
    std::atomic<int> failures{0};
    RunThreads(4, [&](int) {
        for (int i = 0; i < 3; ++i) {
            CLSID clsid{};
            ComPtr<IClassFactory> factory;
            ComPtr<ISmBiosImpl> object;
            Bstr feature(L"Korvix"), version(L"1.05"), context(L"Client");
            VARIANT_BOOL ok = 0;
            failures +=
                FAILED(CLSIDFromProgID(L"Korvix.SmBiosImpl", &clsid)) ||
                FAILED(CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                        factory.PutVoid())) ||
                FAILED(factory->LockServer(TRUE)) ||
                FAILED(factory->CreateInstance(nullptr, IID_ISmBiosImpl, object.PutVoid())) ||
                FAILED(object->ComponentInitialize(feature.Get(), version.Get(), context.Get(), &ok)) ||
                ok != 1 || object->Initialize() != S_OK || canUnloadNow() != S_FALSE;
            failures += !object || !(Ask(object.Get(), Q::All, 17).All() == memory);
            object.Reset();
            failures += !factory || FAILED(factory->LockServer(FALSE));
        }
    });
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(canUnloadNow(), S_OK) << "every lock and every object of every thread is gone";
    // Every line one whole record, none lost: the object's Enter and Leave records pair up.
    int files = 0, balance = 0;
    for (const auto& file : std::filesystem::directory_iterator(folder.Path())) {
        const TraceFileContent c = ReadTraceFile(file.path(), false);
        for (const TraceFileRecord& r : c.records)
            balance += r.cls != "CSmBiosImpl" ? 0 : (r.category == "Enter") - (r.category == "Leave");
        EXPECT_TRUE(c.bad.empty()) << c.bad.front();
        ++files;
    }
    EXPECT_GE(files, 2) << "the size limit switched the file";
    EXPECT_EQ(balance, 0);
}
