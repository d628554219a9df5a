// Initialize acquiring the table through a stand-in driver-access component
// whose answers each test scripts (its class object registered in this
// process), and the installed component as clients use it: created by
// ProgID, reading table files through the registered TorvelAccess.dll.
#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "ComTest.h"
#include "ComponentInstall.h"
#include "DriverAccess.h"
#include "StaticClassFactory.h"
#include "TraceRecorder.h"

namespace {

const HRESULT kNotReady = HRESULT_FROM_WIN32(ERROR_NOT_READY),
              kGenFailure = HRESULT_FROM_WIN32(ERROR_GEN_FAILURE);
const Bytes kTable = Table({Bios(0x0000, "Quarnex"), Processor(0x0400), EndOfTable(0x7F00)});
const LONG kSize = static_cast<LONG>(kTable.size());

// What the stand-in answers to one request; -1 where it answers as it should.
struct Reply {
    HRESULT hr = S_OK;
    ULONG status = DA_STATUS_OK;
    LONG returned = -1, elements = -1; // bytes returned, elements of the answer array
    LONG bad = -1;                     // an element holding 300, which is no byte
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
std::string g_calls, g_session; // a letter a call (Start, Open, RawRequest, Close, sTop); the arguments
std::atomic<LONG> g_created{0}, g_alive{0}, g_inRequest{0}, g_overlapping{0}, g_dataRequests{0};

void Note(char call, const std::string& session = "") {
    std::lock_guard<std::mutex> hold(g_lock);
    g_calls += call;
    g_session += session;
}

// A byte-array answer of `count` elements, byte i being byteAt(i).
template <class ByteAt>
void Answer(VARIANT* out, VARIANT* returned, const Reply& r, LONG count, ByteAt byteAt) {
    VariantClear(out);
    out->vt = VT_ARRAY | VT_VARIANT;
    out->parray = SafeArrayCreateVector(VT_VARIANT, 0, r.elements < 0 ? count : r.elements);
    for (LONG i = 0; i < LONG(out->parray->rgsabound[0].cElements); ++i) {
        VARIANT e{};
        e.vt = r.asI4 || i == r.bad ? VT_I4 : VT_UI1;
        e.lVal = i == r.bad ? 300 : byteAt(i);
        SafeArrayPutElement(out->parray, &i, &e);
    }
    VariantClear(returned);
    returned->vt = VT_UI4;
    returned->ulVal = r.returned < 0 ? count : r.returned;
}

class Fake : public IDriverAccessRaw, public IDriverServices, public IComponentInit {
public:
    Fake() { ++g_created, ++g_alive; }
    virtual ~Fake() { --g_alive; }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** p) override {
        *p = iid == IID_IUnknown || iid == IID_IDriverAccessRaw ? static_cast<IDriverAccessRaw*>(this)
             : iid == IID_IDriverServices && !g_script.noServices
                 ? static_cast<void*>(static_cast<IDriverServices*>(this))
             : iid == IID_IComponentInit ? static_cast<IComponentInit*>(this)
                                         : nullptr;
        return *p ? (AddRef(), S_OK) : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE Initialize(BSTR feature, BSTR version, BSTR context,
                                         VARIANT_BOOL* result) override {
        Note('I', "init " + Narrow(feature) + "," + Narrow(version) + "," + Narrow(context) + "; ");
        *result = g_script.refuseInit ? VARIANT_FALSE : VARIANT_TRUE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Open(ULONG device, ULONG flags, ULONG* status) override {
        Note('O', "open " + std::to_string(device) + "," + std::to_string(flags) + "; ");
        return *status = g_script.openStatus, g_script.openHr;
    }
    HRESULT STDMETHODCALLTYPE Close(ULONG* status) override { return Note('C'), *status = 0, S_OK; }
    HRESULT STDMETHODCALLTYPE Start(ULONG* status) override {
        return Note('S'), *status = g_script.startStatus, g_script.startHr;
    }
    HRESULT STDMETHODCALLTYPE Stop(ULONG* status) override { return Note('T'), *status = 0, S_OK; }
    HRESULT STDMETHODCALLTYPE RawRequest(ULONG code, VARIANT* in, ULONG inSize, VARIANT* out, ULONG outSize,
                                         VARIANT* returned, ULONG* status) override {
        if (++g_inRequest > 1) ++g_overlapping;
        Sleep(g_script.delayMs);
        LONG elements = VectorLength(*out), zeros = 0; // the table request brings table-size zero bytes
        for (LONG i = 0; i < elements; ++i) {
            Variant e;
            SafeArrayGetElement(out->parray, &i, e.Get());
            zeros += e->vt == VT_UI1 && e->bVal == 0;
        }
        const bool size = code == DA_IOCTL_GET_SMBIOS_SIZE;
        Note('R', (size ? "size" : "table") + (" in vt" + std::to_string(in->vt)) + "/" +
                      std::to_string(inSize) + " out vt" + std::to_string(out->vt) +
                      (size ? "=" + std::to_string(out->ulVal)
                            : " " + std::to_string(zeros) + " zeros of " + std::to_string(elements)) +
                      "/" + std::to_string(outSize) + "; ");
        const Reply& r = size ? g_script.size : g_script.data;
        const ULONG value = g_script.sizeValue < 0 ? kSize : g_script.sizeValue;
        if (size)
            Answer(out, returned, r, 4, [&](LONG i) { return i < 4 ? BYTE(value >> (8 * i)) : BYTE(0); });
        else
            Answer(out, returned, r, kSize, [&](LONG i) { return i < kSize ? kTable[i] : BYTE(0); });
        g_dataRequests += !size;
        --g_inRequest;
        return *status = r.status, r.hr;
    }

private:
    static std::string Narrow(BSTR s) { return std::string(s, s + SysStringLen(s)); }
    std::atomic<ULONG> refs_{1};
};

const CLSID kFakeClass = {0x3c5e0a7d, 0x19b2, 0x4f0e, {0x9a, 0x61, 0x2d, 0x7c, 0x44, 0x0b, 0x8e, 0x15}};
StaticClassFactory<Fake> g_factory;

// This executable creates the stand-in as "AcTorvel.TorvelAccess" in the
// context "Client" and nothing of the sort in "Bare"; Korvix.dll creates
// TorvelAccess.dll.
const std::string kDependencies =
    R"(<feature name="Korvix" version="1.05"><context name="Client">
<assemblyIdentity name="test_smbiosimpl.exe" version="*"><dependencies><assemblyIdentity name="fake.dll"
 version="1.0.0.0" progID="KorvixTest.Fake.1" versionIndependentProgID="AcTorvel.TorvelAccess"/></dependencies>
</assemblyIdentity><assemblyIdentity name="Korvix.dll" version="*"><dependencies><assemblyIdentity
 name="TorvelAccess.dll" version="1.0.0.1" progID="AcTorvel.TorvelAccess.1"
 versionIndependentProgID="AcTorvel.TorvelAccess"/></dependencies></assemblyIdentity></context>
<context name="Bare"><assemblyIdentity name="test_smbiosimpl.exe" version="*"><dependencies><assemblyIdentity
 name="other.dll" version="1.0.0.0" progID="Other.Thing.1" versionIndependentProgID="Other.Thing"/>
</dependencies></assemblyIdentity></context></feature>)";

class Acquisition : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(install.Error(), "");
        wchar_t clsid[40];
        StringFromGUID2(kFakeClass, clsid, 40);
        ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\KorvixTest.Fake.1\\CLSID", nullptr,
                                  REG_SZ, clsid, 39 * sizeof(wchar_t)),
                  ERROR_SUCCESS);
        ASSERT_EQ(
            CoRegisterClassObject(kFakeClass, &g_factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie_),
            S_OK);
        Reset();
    }
    void TearDown() override {
        object.Reset();
        CoRevokeClassObject(cookie_);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\KorvixTest.Fake.1");
    }
    void Reset() {
        g_script = Script{};
        g_calls.clear();
        g_session.clear();
        g_dataRequests = g_overlapping = 0;
        TraceRecorder::Clear();
    }
    VARIANT_BOOL ComponentInitialize(const wchar_t* feature = L"Korvix", const wchar_t* context = L"Client") {
        Bstr f(feature), v(L"1.05"), c(context);
        VARIANT_BOOL result = 99;
        EXPECT_EQ(object->ComponentInitialize(f.Get(), v.Get(), c.Get(), &result), S_OK);
        return result;
    }
    bool Uninitialised() { return Ask(object.Get(), Q::Index, 0).retVal == 1; }
    std::wstring Vendor() { return Ask(object.Get(), Q::First, 0).Rec().Get(L"Vendor").text; }
    // Initialize's own records: the categories of the first and the last, and whether one is an Error.
    static std::string Shape() {
        std::string first, last, error;
        for (const ::TraceRecord& r : TraceRecorder::Records())
            if (r.scope == "CSmBiosImpl::Initialize") {
                (first.empty() ? first : last) = r.category;
                if (r.level == 1) error = ", Error";
            }
        return first + " ... " + last + error;
    }

    ComApartment apartment;
    ComponentInstall install{kDependencies};
    ComPtr<ISmBiosImpl> object = WithTable(nullptr);
    DWORD cookie_ = 0;
};

} // namespace

TEST_F(Acquisition, OneSessionAcquiresTheTableAndASecondCallTouchesNothing) {
    const LONG created = g_created;
    EXPECT_EQ(ComponentInitialize(L"NoSuchFeature"), 0) << "no dependency table for that feature";
    ASSERT_EQ(ComponentInitialize(), 1) << "1, not VARIANT_TRUE";
    EXPECT_EQ(g_created.load(), created) << "ComponentInitialize acquires nothing";
    ASSERT_EQ(object->Initialize(), S_OK);
    EXPECT_EQ(Vendor(), L"Quarnex");
    EXPECT_EQ(Shape(), "Enter ... Leave");
    // The feature context, Open(0, 0), the size request (empty input, VT_UI4 0
    // output of size 4) and the table request (table-size zero bytes).
    const std::string n = std::to_string(kSize);
    EXPECT_EQ(g_calls, "ISORRCT") << "this call started the accessor, so it stops it";
    EXPECT_EQ(g_session,
              "init Korvix,1.05,Client; open 0,0; size in vt0/0 out vt19=0/4; table in vt0/0 out vt" +
                  std::to_string(VT_ARRAY | VT_VARIANT) + " " + n + " zeros of " + n + "/" + n + "; ");
    Reset();
    EXPECT_EQ(object->Initialize(), S_OK);
    EXPECT_EQ(g_calls, "");
    EXPECT_EQ(g_created - created, 1);
    object.Reset();
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
        {[](S s) { s.refuseInit = true; }, S_OK, "SORRCT"}, // reported, but the accessor is handed out
        {[](S s) { s.noServices = true; }, E_FAIL, ""},
        {[](S s) { s.startHr = kNotReady; }, kNotReady, "S"},
        {[](S s) { s.openHr = kGenFailure; }, kGenFailure, "SO"},
        {[](S s) { s.openStatus = DA_STATUS_NOT_RUNNING; }, E_FAIL, "SO"},
        {[](S s) { s.size.returned = 2; }, E_FAIL, "SOR"},
        {[](S s) { s.size.hr = kGenFailure; }, kGenFailure, "SOR"},
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
        EXPECT_EQ(g_alive.load(), 1) << "the references obtained stay with the object";
        if (SUCCEEDED(rows[k].hr)) {
            EXPECT_EQ(Vendor(), L"Quarnex");
            if (!g_script.refuseInit) EXPECT_EQ(Shape(), "Enter ... Leave");
            continue;
        }
        EXPECT_EQ(Shape(), "Enter ... Leave, Error");
        EXPECT_TRUE(Uninitialised());
        Reset(); // the next call runs a whole session with the kept references
        EXPECT_EQ(object->Initialize(), S_OK);
        EXPECT_EQ(g_calls + std::to_string(g_created - created), "SORRCT1");
    }
}

TEST_F(Acquisition, WithoutTheFeatureContextOrAnAccessorInItNothingIsCreated) {
    const LONG created = g_created;
    EXPECT_EQ(object->Initialize(), E_FAIL) << "before ComponentInitialize";
    EXPECT_EQ(Shape(), "Enter ... Leave, Error");
    EXPECT_TRUE(Uninitialised());
    ASSERT_EQ(ComponentInitialize(), 1);
    EXPECT_EQ(object->Initialize(), S_OK) << "the next call gets the accessor";
    object = WithTable(nullptr);
    ASSERT_EQ(ComponentInitialize(L"Korvix", L"Bare"), 1);
    EXPECT_EQ(object->Initialize(), E_FAIL) << "the dependency table names no accessor";
    EXPECT_TRUE(Uninitialised());
    EXPECT_EQ(g_created - created, 1);
}

TEST_F(Acquisition, ConcurrentCallsRunOneSessionAtATime) {
    g_script.delayMs = 20;
    ASSERT_EQ(ComponentInitialize(), 1);
    std::vector<HRESULT> results(8, E_UNEXPECTED);
    RunThreads(8, [&](int t) { results[t] = object->Initialize(); });
    EXPECT_EQ(results, std::vector<HRESULT>(8, S_OK));
    EXPECT_EQ(g_calls, "ISORRCT") << "one session served every thread";
    // A failing conversion (thrown while the lock is held) fails every
    // thread's own session, one after the other, and none reports success.
    object = WithTable(nullptr);
    ASSERT_EQ(ComponentInitialize(), 1);
    Reset();
    g_script.delayMs = 5;
    g_script.data.bad = 0;
    for (int round = 0; round < 3; ++round) {
        RunThreads(8, [&](int t) { results[t] = object->Initialize(); });
        EXPECT_EQ(results, std::vector<HRESULT>(8, DISP_E_OVERFLOW)) << round;
    }
    EXPECT_EQ(g_dataRequests.load(), 24);
    EXPECT_EQ(g_overlapping.load(), 0);
    EXPECT_TRUE(Uninitialised());
}

// ---- the installed component ----------------------------------------------------

namespace {

class Installed : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(install.Error(), ""); }
    void TearDown() override { SetEnvironmentVariableW(L"KORVIX_SMBIOS_TABLE", nullptr); }
    // "Korvix.SmBiosImpl" created as clients create it, with the feature context.
    static ComPtr<ISmBiosImpl> Client(bool withContext = true) {
        CLSID clsid{};
        ComPtr<ISmBiosImpl> object;
        Bstr feature(L"Korvix"), version(L"1.05"), context(L"Client");
        VARIANT_BOOL ok = 0;
        if (FAILED(CLSIDFromProgID(L"Korvix.SmBiosImpl", &clsid)) ||
            FAILED(
                CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ISmBiosImpl, object.PutVoid())) ||
            (withContext &&
             (FAILED(object->ComponentInitialize(feature.Get(), version.Get(), context.Get(), &ok)) ||
              ok != 1)))
            object.Reset();
        return object;
    }
    // The records of every type, type by type.
    static std::vector<Record> Everything(ISmBiosImpl* object) {
        std::vector<Record> all;
        for (ULONG type = 0; type < 256; ++type)
            for (Record& r : Ask(object, Q::All, type).All())
                all.push_back(std::move(r));
        return all;
    }

    ComApartment apartment;
    ComponentInstall install{kDependencies};
};

} // namespace

TEST_F(Installed, ClientsGetTheTableFileThroughTheAccessorAsItIsWhenAttachedDirectly) {
    // A real table, and some 1.3 MB of structures with strings holding every byte value.
    const std::string real = TestDataPath("real/dell-poweredge-r640-3.0.bin");
    Bytes large;
    for (uint32_t k = 0; k < 20000; ++k) {
        const Bytes s = Structure(k % 2 ? 11 : 17, uint16_t(k), Bytes(k % 2 ? 1 : 0x11, 1),
                                  {"S" + std::to_string(k) + char(1 + k % 255)});
        large.insert(large.end(), s.begin(), s.end());
    }
    const std::filesystem::path file = std::filesystem::temp_directory_path() / "korvix-large.bin";
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(large.data()), large.size());
    for (const auto& [path, bytes] :
         {std::pair{std::filesystem::path(real), ReadFile(real)}, {file, large}}) {
        SetEnvironmentVariableW(L"KORVIX_SMBIOS_TABLE", path.c_str());
        ComPtr<ISmBiosImpl> object = Client();
        ASSERT_TRUE(object);
        ASSERT_EQ(object->Initialize(), S_OK);
        const std::vector<Record> direct = Everything(WithTable(&bytes).Get());
        EXPECT_GT(direct.size(), 20u);
        EXPECT_TRUE(Everything(object.Get()) == direct) << path;
    }
    std::filesystem::remove(file);
    ComPtr<ISmBiosImpl> bare = Client(false);
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->Initialize(), E_FAIL) << "without the feature context there is no accessor";
}

TEST_F(Installed, ThreadsWithObjectsOfTheirOwnGetTheSameAnswersAndTheServerCanUnloadAfterwards) {
    SetEnvironmentVariableW(L"KORVIX_SMBIOS_TABLE",
                            std::filesystem::path(TestDataPath("real/dell-poweredge-r640-3.0.bin")).c_str());
    const Bytes table = ReadFile(TestDataPath("real/dell-poweredge-r640-3.0.bin"));
    const std::vector<Record> memory = Ask(WithTable(&table).Get(), Q::All, 17).All();
    ASSERT_FALSE(memory.empty());
    std::atomic<int> failures{0};
    RunThreads(8, [&](int) {
        for (int i = 0; i < 5; ++i) {
            ComPtr<ISmBiosImpl> object = Client();
            failures +=
                !object || object->Initialize() != S_OK || !(Ask(object.Get(), Q::All, 17).All() == memory);
        }
    });
    EXPECT_EQ(failures, 0);
    auto canUnloadNow = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"Korvix.dll"), "DllCanUnloadNow")));
    ASSERT_TRUE(canUnloadNow);
    EXPECT_EQ(canUnloadNow(), S_OK) << "every object of every thread is gone";
}
