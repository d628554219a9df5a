// A client's view of the installed component: "Korvix.SmBiosImpl" created by
// ProgID, the feature context, acquisition through the registered
// driver-access component (served from the table file KORVIX_SMBIOS_TABLE
// names), the structures read back whole, and use from many threads.
#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>

#include "ComTestSupport.h"
#include "ComponentInstall.h"

namespace {

std::wstring Widen(const std::string& s) {
    return std::wstring(s.begin(), s.end());
}
const std::wstring kDell = Widen(TestDataPath("real/dell-poweredge-r640-3.0.bin"));

// A new object with the feature context; empty with `error` set on failure.
ComPtr<ISmBiosImpl> NewClient(std::string& error) {
    CLSID clsid{};
    ComPtr<ISmBiosImpl> object;
    Bstr feature(ComponentInstall::kFeatureW), version(ComponentInstall::kVersionW),
        context(ComponentInstall::kContextW);
    VARIANT_BOOL ok = 0;
    if (FAILED(CLSIDFromProgID(L"Korvix.SmBiosImpl", &clsid)) ||
        FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ISmBiosImpl, object.PutVoid())))
        error = "not created";
    else if (FAILED(object->ComponentInitialize(feature.Get(), version.Get(), context.Get(), &ok)) || ok != 1)
        error = "ComponentInitialize did not answer 1";
    return error.empty() ? object : ComPtr<ISmBiosImpl>();
}

// Every value of an answer as text, nested arrays included.
std::string Describe(const VARIANT& v) {
    std::string out = std::to_string(v.vt) + ":";
    for (LONG i = 0; (v.vt & VT_ARRAY) && i < static_cast<LONG>(v.parray->rgsabound[0].cElements); ++i) {
        Variant e;
        if (v.vt == (VT_ARRAY | VT_UI1)) e->vt = VT_UI1;
        SafeArrayGetElement(v.parray, &i,
                            v.vt == (VT_ARRAY | VT_UI1) ? static_cast<void*>(&e->bVal) : e.Get());
        out += "[" + Describe(*e.Get()) + "]";
    }
    Variant text;
    if (!(v.vt & VT_ARRAY) && SUCCEEDED(VariantChangeType(text.Get(), const_cast<VARIANT*>(&v), 0, VT_BSTR)))
        for (const wchar_t* c = text->bstrVal; *c; ++c)
            out += static_cast<char>(*c);
    return out;
}

// The answers of every query kind over an initialised object, as text.
std::string QueryAll(ISmBiosImpl* object) {
    std::string out;
    auto add = [&](const Ask& a) {
        out += std::to_string(a.hr) + "/" + std::to_string(a.retVal) + " " + Describe(*a.names.Get()) + " " +
               Describe(*a.values.Get()) + "\n";
        return a.retVal;
    };
    for (UINT index = 0; index < 0x10000 && add(Ask(object, Q::Index, index)) != 3; ++index) {
    }
    for (BYTE type : {1, 4, 17})
        add(Ask(object, Q::All, type));
    add(Ask(object, Q::Start, 7));
    for (int i = 0; i < 8 && add(Ask(object, Q::Next)) != 3; ++i) {
    }
    for (USHORT handle : {0x0000, 0x0100, 0x0400, 0x1100, 0xFFFE})
        add(Ask(object, Q::Handle, handle));
    return out;
}

class Installed : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(install.Error(), "");
        UseTable(kDell);
    }
    void TearDown() override {
        SetEnvironmentVariableW(L"KORVIX_SMBIOS_TABLE", nullptr);
        for (int k = 2; k >= 0; --k) // only the keys this test created, innermost first
            if (!existed_[k]) RegDeleteTreeW(HKEY_LOCAL_MACHINE, kKeys[k]);
        for (const std::wstring& f : TraceFiles())
            DeleteFileW(f.c_str());
        RemoveDirectoryW(folder_.c_str());
    }
    void UseTable(const std::wstring& path) { SetEnvironmentVariableW(L"KORVIX_SMBIOS_TABLE", path.c_str()); }

    // Korvix.dll's own trace key, which it reads when it loads (registration
    // loaded and unloaded it before), pointing into a fresh folder.
    void TraceThroughKey(DWORD level, DWORD sizeLimit) {
        ASSERT_EQ(GetModuleHandleW(L"Korvix.dll"), nullptr) << "Korvix.dll is loaded already";
        for (int k = 0; k < 3; ++k) {
            RegKey probe;
            existed_[k] =
                RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKeys[k], 0, KEY_READ, probe.Put()) == ERROR_SUCCESS;
        }
        ASSERT_FALSE(existed_[2]) << "Korvix.dll's trace key is in use";
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        folder_ = std::wstring(temp) + L"korvix-traced-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(folder_.c_str(), nullptr);
        const DWORD values[] = {1, level, sizeLimit, 1};
        const wchar_t* names[] = {L"Trace", L"TraceLevel", L"TraceLimitSize", L"TraceKeepHistory"};
        for (int k = 0; k < (sizeLimit ? 4 : 2); ++k)
            RegSetKeyValueW(HKEY_LOCAL_MACHINE, kKeys[2], names[k], REG_DWORD, &values[k], sizeof(DWORD));
        const std::wstring file = folder_ + L"\\korvix-%PID%.trc";
        RegSetKeyValueW(HKEY_LOCAL_MACHINE, kKeys[2], L"TraceFile", REG_SZ, file.c_str(),
                        static_cast<DWORD>((file.size() + 1) * sizeof(wchar_t)));
    }
    // This process's trace file and its history files (korvix-<pid>_000.trc, ...).
    std::vector<std::wstring> TraceFiles() const {
        std::vector<std::wstring> files;
        WIN32_FIND_DATAW found;
        const HANDLE h = FindFirstFileW((folder_ + L"\\korvix-*.trc").c_str(), &found);
        FindHandle find(h);
        for (bool more = find.Valid() && !folder_.empty(); more; more = FindNextFileW(h, &found))
            files.push_back(folder_ + L"\\" + found.cFileName);
        return files;
    }

    // The answers of a new client initialised on the table file at `path`.
    std::string Through(const std::wstring& path) {
        UseTable(path);
        std::string error;
        ComPtr<ISmBiosImpl> object = NewClient(error);
        EXPECT_EQ(object ? object->Initialize() : E_POINTER, S_OK) << error;
        return object ? QueryAll(object.Get()) : error;
    }

    static constexpr const wchar_t* kKeys[3] = {L"Software\\Quarnex\\Common\\Tracing",
                                                L"Software\\Quarnex\\Common\\Tracing\\Korvix.dll",
                                                L"Software\\Quarnex\\Common\\Tracing\\Korvix.dll\\1.05"};
    bool existed_[3] = {true, true, true};
    std::wstring folder_;
    ComApartment apartment;
    ComponentInstall install;
};

} // namespace

TEST_F(Installed, AClientReadsARealTableThroughTheDriverAccessComponent) {
    std::string error;
    ComPtr<ISmBiosImpl> object = NewClient(error);
    ASSERT_EQ(error, "");
    ASSERT_EQ(object->Initialize(), S_OK);
    EXPECT_EQ(object->Initialize(), S_OK) << "a second call answers from the kept table";
    EXPECT_EQ(Ask(object.Get(), Q::First, 0).Rec().Text(L"Vendor"), L"Dell Inc.");
    EXPECT_EQ(Ask(object.Get(), Q::All, 17).Nested(error).size(), 24u) << "one record per memory device";

    // Without the feature context there is no accessor.
    CLSID clsid{};
    ComPtr<ISmBiosImpl> bare;
    ASSERT_EQ(CLSIDFromProgID(L"Korvix.SmBiosImpl", &clsid), S_OK);
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ISmBiosImpl, bare.PutVoid()), S_OK);
    EXPECT_EQ(bare->Initialize(), E_FAIL);
    EXPECT_EQ(Ask(bare.Get(), Q::Index, 0).retVal, 1u);
}

TEST_F(Installed, AnUnreadableTableFileFailsAndTheNextCallStartsOver) {
    UseTable(L"Z:\\no\\such\\table.bin");
    std::string error;
    ComPtr<ISmBiosImpl> object = NewClient(error);
    ASSERT_EQ(error, "");
    EXPECT_TRUE(FAILED(object->Initialize()));
    UseTable(Widen(TestDataPath("real/vmware-vm-2.7.bin")));
    ASSERT_EQ(object->Initialize(), S_OK);
    EXPECT_EQ(Ask(object.Get(), Q::All, 4).Nested(error).size(), 128u);
}

// The table through the accessor answers as the same bytes attached directly.
TEST_F(Installed, RealTablesAndALargeTableComeBackWhole) {
    for (const std::string& name : RealTableNames()) {
        const std::string path = TestDataPath("real/" + name);
        EXPECT_TRUE(Through(Widen(path)) == QueryAll(WithTable(ReadFile(path)).Get())) << name;
    }
    // About 1.4 MB: twenty thousand structures of three decoded types with
    // strings, distinct handles, every byte value somewhere in the strings.
    Bytes table;
    for (uint32_t k = 0; k < 20000; ++k) {
        const uint16_t handle = static_cast<uint16_t>(k);
        const std::string text = "S" + std::to_string(k) + static_cast<char>(1 + k % 255);
        // A memory device of Length 0x1B and a cache of Length 0x13, both with strings.
        const Bytes memory = {0x00, 0x10, 0xFE, 0xFF, 64, 0,    64,   0, 0x00, 0x20, 9, 0,
                              1,    2,    26,   0x80, 0,  0x60, 0x09, 3, 4,    0,    0};
        const Bytes cache = {1, 0x80, 0x01, 0x40, 0x80, 0x40, 0x80, 0x20, 0, 0x20, 0};
        const Bytes s = k % 3 == 0   ? Structure(17, handle, memory, {"DIMM", "BANK", text, "PN"})
                        : k % 3 == 1 ? Structure(11, handle, {2}, {text, "x"})
                                     : Structure(7, handle, cache, {text});
        table.insert(table.end(), s.begin(), s.end());
    }
    table = Cat({table, EndOfTable(0xFFFF)});
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    const std::wstring file =
        folder + (L"korvix-transfer-" + std::to_wstring(GetCurrentProcessId()) + L".bin");
    std::ofstream(file.c_str(), std::ios::binary)
        .write(reinterpret_cast<const char*>(table.data()), table.size());
    ComPtr<ISmBiosImpl> direct = WithTable(table);
    EXPECT_EQ(Ask(direct.Get(), Q::Index, 19999).Outcome(), "S_OK 0 record");
    const std::string expected = QueryAll(direct.Get());
    EXPECT_TRUE(Through(file) == expected);
    DeleteFileW(file.c_str());
}

TEST_F(Installed, ThreadsWithObjectsOfTheirOwnGetTheSingleThreadedAnswers) {
    std::string error, reference;
    {
        ComPtr<ISmBiosImpl> object = NewClient(error);
        ASSERT_EQ(error, "");
        ASSERT_EQ(object->Initialize(), S_OK);
        reference = QueryAll(object.Get());
    }
    ASSERT_NE(reference.find("Dell Inc."), std::string::npos);
    std::mutex lock;
    std::vector<std::string> failures;
    RunThreads(8, [&](int thread) {
        for (int i = 0; i < 20; ++i) {
            std::string why;
            ComPtr<ISmBiosImpl> object = NewClient(why);
            if (object && object->Initialize() != S_OK) why = "Initialize failed";
            if (why.empty() && QueryAll(object.Get()) != reference) why = "answers differ";
            std::lock_guard<std::mutex> hold(lock);
            if (!why.empty()) failures.push_back("thread " + std::to_string(thread) + ": " + why);
        }
    });
    EXPECT_TRUE(failures.empty()) << failures.size() << " failures, first: " << failures.front();
}

TEST_F(Installed, ServerLocksAndObjectsFromManyThreadsBalanceExactly) {
    LibraryHandle module(LoadLibraryW((ComponentInstall::BinaryFolder() + L"\\Korvix.dll").c_str()));
    using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    using CanUnloadNowFn = HRESULT(STDAPICALLTYPE*)();
    auto getClassObject = reinterpret_cast<GetClassObjectFn>(
        reinterpret_cast<void*>(GetProcAddress(module.Get(), "DllGetClassObject")));
    auto canUnloadNow = reinterpret_cast<CanUnloadNowFn>(
        reinterpret_cast<void*>(GetProcAddress(module.Get(), "DllCanUnloadNow")));
    ASSERT_TRUE(getClassObject && canUnloadNow);
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(getClassObject(CLSID_SmBiosImpl, IID_IClassFactory, factory.PutVoid()), S_OK);
    ASSERT_EQ(canUnloadNow(), S_OK);
    ASSERT_EQ(factory->LockServer(TRUE), S_OK);
    std::atomic<int> failures{0};
    RunThreads(8, [&](int) {
        for (int i = 0; i < 300; ++i) {
            factory->LockServer(TRUE);
            ComPtr<ISmBiosImpl> object;
            failures += factory->CreateInstance(nullptr, IID_ISmBiosImpl, object.PutVoid()) != S_OK;
            failures += canUnloadNow() != S_FALSE;
            object.Reset();
            factory->LockServer(FALSE);
        }
    });
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(canUnloadNow(), S_FALSE) << "the main thread's lock remains";
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(canUnloadNow(), S_OK);
}

namespace {

std::string Id4(DWORD id) {
    char text[16];
    std::snprintf(text, sizeof text, "%04lu", static_cast<unsigned long>(id));
    return text;
}

} // namespace

TEST_F(Installed, ConcurrentInitializeOnOneObjectAcquiresTheTableOnce) {
    TraceThroughKey(4, 0);
    std::string error;
    ComPtr<ISmBiosImpl> object = NewClient(error);
    ASSERT_EQ(error, "");
    std::vector<HRESULT> results(8, E_UNEXPECTED);
    RunThreads(8, [&](int thread) { results[thread] = object->Initialize(); });
    EXPECT_EQ(results, std::vector<HRESULT>(8, S_OK));
    EXPECT_EQ(Ask(object.Get(), Q::First, 0).retVal, 0u);

    ASSERT_EQ(TraceFiles().size(), 1u);
    const TraceFileContent content = ReadTraceFile(TraceFiles()[0], false);
    EXPECT_TRUE(content.bad.empty()) << content.bad.front();
    int acquired = 0, fromCopy = 0;
    std::set<std::string> threads;
    for (const TraceRecord& r : content.records) {
        if (r.cls != "CSmBiosImpl" || r.method != "Initialize") continue;
        if (r.category == "Enter") threads.insert(r.tid);
        acquired += r.text == "Getting SMBios data succeeded";
        fromCopy += r.details == "We have already SmBios Data - return S_OK.";
    }
    EXPECT_EQ(threads.size(), 8u) << "each thread entered once";
    EXPECT_EQ(acquired, 1) << "the table is acquired by one call only";
    EXPECT_EQ(fromCopy, 7);
}

TEST_F(Installed, RecordsOfManyThreadsStayWholeAcrossFileSwitches) {
    constexpr DWORD kLimit = 256 * 1024;
    TraceThroughKey(6, kLimit);
    std::atomic<int> failures{0};
    std::set<std::string> workers;
    std::mutex lock;
    RunThreads(4, [&](int) {
        {
            std::lock_guard<std::mutex> hold(lock);
            workers.insert(Id4(GetCurrentThreadId()));
        }
        for (int i = 0; i < 3; ++i) {
            std::string error;
            ComPtr<ISmBiosImpl> object = NewClient(error);
            failures += !object || object->Initialize() != S_OK;
            for (BYTE type : {0, 4, 17})
                failures += object && Ask(object.Get(), Q::All, type).hr != S_OK;
        }
    });
    ASSERT_EQ(failures.load(), 0);

    const std::vector<std::wstring> files = TraceFiles();
    ASSERT_GE(files.size(), 2u) << "the size limit should have switched the file";
    std::map<std::string, int> balance, perThread; // Enter minus Leave, records
    size_t total = 0;
    for (const std::wstring& file : files) {
        SCOPED_TRACE(std::string(file.begin(), file.end()));
        const TraceFileContent content = ReadTraceFile(file, false);
        EXPECT_TRUE(content.bom && content.narrowUnits);
        EXPECT_EQ(content.trailing, "") << "a record was cut off";
        EXPECT_TRUE(content.bad.empty()) << content.bad.front();
        if (file.find(L'_', file.find_last_of(L'\\')) != std::wstring::npos) { // a history file
            WIN32_FILE_ATTRIBUTE_DATA data{};
            GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data);
            EXPECT_LE(data.nFileSizeLow, 2 * kLimit);
        }
        for (const TraceRecord& r : content.records) {
            EXPECT_EQ(r.pid, Id4(GetCurrentProcessId()));
            ++total;
            ++perThread[r.tid];
            balance[r.tid] += (r.category == "Enter") - (r.category == "Leave");
        }
    }
    for (const std::string& id : workers) {
        EXPECT_GT(perThread[id], 0) << "thread " << id << " wrote nothing";
        EXPECT_EQ(balance[id], 0) << "Enter and Leave of thread " << id << " do not pair up";
    }
    EXPECT_GT(total, 1000u);
}
