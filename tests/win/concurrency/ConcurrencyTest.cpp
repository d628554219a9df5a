// Korvix.dll used from many threads at once (threading model "both"):
// objects of their own on every thread, several threads initialising one
// object, the module's lock count, and tracing from several threads into one
// size-limited file. The tests that read trace files configure Korvix.dll
// through its registry key, which it reads when it loads, so they need a
// process in which the module has not been loaded yet (ctest runs every test
// in a process of its own).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "ComponentInstall.h"
#include "Korvix.h"
#include "ModuleTestSupport.h"
#include "TableBuilder.h"

using namespace moduletest;

namespace {

// A real server table: 84 structures, 24 memory devices, two processors.
std::wstring RealTable() {
    return Widen(TestDataPath("real/dell-poweredge-r640-3.0.bin"));
}

// Every value of an answer as text, nested arrays included.
void Describe(const VARIANT& v, std::string& out) {
    char text[64];
    switch (v.vt) {
    case VT_EMPTY:
        out += "empty";
        return;
    case VT_UI1:
        std::snprintf(text, sizeof text, "u1:%u", v.bVal);
        break;
    case VT_UI2:
        std::snprintf(text, sizeof text, "u2:%u", v.uiVal);
        break;
    case VT_UI4:
        std::snprintf(text, sizeof text, "u4:%lu", static_cast<unsigned long>(v.ulVal));
        break;
    case VT_BOOL:
        std::snprintf(text, sizeof text, "b:%d", v.boolVal);
        break;
    case VT_BSTR:
        out += "s:" + Narrow(v.bstrVal ? v.bstrVal : L"");
        return;
    case VT_ARRAY | VT_UI1:
    case VT_ARRAY | VT_VARIANT: {
        out += v.vt == (VT_ARRAY | VT_UI1) ? "bytes[" : "[";
        LONG lower = 0, upper = -1;
        if (v.parray) {
            SafeArrayGetLBound(v.parray, 1, &lower);
            SafeArrayGetUBound(v.parray, 1, &upper);
        }
        for (LONG i = lower; i <= upper; ++i) {
            if (v.vt == (VT_ARRAY | VT_UI1)) {
                unsigned char byte = 0;
                SafeArrayGetElement(v.parray, &i, &byte);
                std::snprintf(text, sizeof text, "%02X", byte);
                out += text;
            } else {
                Variant element;
                SafeArrayGetElement(v.parray, &i, element.Get());
                Describe(*element.Get(), out);
                out += ",";
            }
        }
        out += "]";
        return;
    }
    default:
        std::snprintf(text, sizeof text, "vt%u", v.vt);
        break;
    }
    out += text;
}

void AppendAnswer(const char* call, HRESULT hr, ULONG retVal, const Variant& names, const Variant& values,
                  std::string& out) {
    char text[64];
    std::snprintf(text, sizeof text, "%s hr=%08lX ret=%lu ", call, static_cast<unsigned long>(hr),
                  static_cast<unsigned long>(retVal));
    out += text;
    Describe(*names.Get(), out);
    out += " = ";
    Describe(*values.Get(), out);
    out += "\n";
}

// Queries every structure and several types of an initialised object.
std::string QueryAll(ISmBiosImpl* object) {
    std::string out;
    for (UINT index = 0; index < 0x10000; ++index) {
        Variant names, values;
        ULONG retVal = 99;
        const HRESULT hr = object->EnumAllInstances(index, names.Get(), values.Get(), &retVal);
        AppendAnswer("enum", hr, retVal, names, values, out);
        if (retVal == 3) break;
    }
    for (unsigned char type : {1, 4, 17}) {
        Variant names, values;
        ULONG retVal = 99;
        const HRESULT hr = object->GetAllInstancesOfType(type, names.Get(), values.Get(), &retVal);
        AppendAnswer("all", hr, retVal, names, values, out);
    }
    ULONG retVal = 99;
    out += object->StartTypeInstanceEnum(7, &retVal) == S_OK && retVal == 0 ? "start\n" : "start failed\n";
    for (int i = 0; i < 8; ++i) {
        Variant names, values;
        const HRESULT hr = object->GetNextTypeInstance(names.Get(), values.Get(), &retVal);
        AppendAnswer("next", hr, retVal, names, values, out);
        if (retVal == 3) break;
    }
    for (USHORT handle : {0x0000, 0x0100, 0x0400, 0x1100, 0xFFFE}) {
        Variant names, values;
        const HRESULT hr = object->FindInstanceByHandle(handle, names.Get(), values.Get(), &retVal);
        AppendAnswer("handle", hr, retVal, names, values, out);
    }
    return out;
}

// A new object with the feature context; empty pointer on failure.
ComPtr<ISmBiosImpl> NewObject(std::string& error) {
    CLSID clsid{};
    ComPtr<ISmBiosImpl> object;
    if (FAILED(CLSIDFromProgID(L"Korvix.SmBiosImpl", &clsid)) ||
        FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ISmBiosImpl, object.PutVoid()))) {
        error = "not created";
        return nullptr;
    }
    Bstr feature(ComponentInstall::kFeatureW), version(ComponentInstall::kVersionW),
        context(ComponentInstall::kContextW);
    VARIANT_BOOL ok = 0;
    if (FAILED(object->ComponentInitialize(feature.Get(), version.Get(), context.Get(), &ok)) || ok != 1) {
        error = "ComponentInitialize failed";
        return nullptr;
    }
    return object;
}

// Runs `body(thread)` on `count` threads that start together.
template <class Body> void RunThreads(int count, Body body) {
    UniqueHandle start(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::vector<std::thread> threads;
    for (int t = 0; t < count; ++t)
        threads.emplace_back([&, t] {
            WaitForSingleObject(start.Get(), INFINITE);
            body(t);
        });
    SetEvent(start.Get());
    for (auto& thread : threads)
        thread.join();
}

class InstalledComponent : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(apartment.Result()));
        ASSERT_EQ(install.Error(), "");
    }

    ComApartment apartment;
    ComponentInstall install;
    ScopedEnvironment table{L"KORVIX_SMBIOS_TABLE", RealTable().c_str()};
};

// Korvix.dll traced through its own key into a file of the process, set up
// before the module is loaded into this process for the first time.
class TracedComponent : public ::testing::Test {
protected:
    void Configure(DWORD level, DWORD sizeLimit) {
        ASSERT_EQ(GetModuleHandleW(L"Korvix.dll"), nullptr)
            << "Korvix.dll was loaded before: run this test alone";
        ASSERT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kKorvixTraceKey));
        key = std::make_unique<ScopedHklmKey>(kKorvixTraceKey);
        key->SetDword(L"Trace", 1);
        key->SetDword(L"TraceLevel", level);
        key->SetString(L"TraceFile", folder.File(L"korvix-%PID%.trc"));
        if (sizeLimit != 0) {
            key->SetDword(L"TraceLimitSize", sizeLimit);
            key->SetDword(L"TraceKeepHistory", 1);
        }
        ASSERT_TRUE(SUCCEEDED(apartment.Result()));
        install = std::make_unique<ComponentInstall>();
        ASSERT_EQ(install->Error(), "");
    }
    void TearDown() override {
        install.reset();
        key.reset();
    }
    fs::path TraceFile() const {
        return folder.File(L"korvix-" + Widen(Id4(GetCurrentProcessId())) + L".trc");
    }

    TempFolder folder{"concurrency"};
    ComApartment apartment;
    ScopedEnvironment table{L"KORVIX_SMBIOS_TABLE", RealTable().c_str()};
    std::unique_ptr<ScopedHklmKey> key;
    std::unique_ptr<ComponentInstall> install;
};

} // namespace

TEST_F(InstalledComponent, ThreadsWithObjectsOfTheirOwnGetTheSingleThreadedAnswers) {
    std::string error;
    std::string reference;
    {
        ComPtr<ISmBiosImpl> object = NewObject(error);
        ASSERT_TRUE(object) << error;
        ASSERT_EQ(object->Initialize(), S_OK);
        reference = QueryAll(object.Get());
    }
    ASSERT_NE(reference.find("s:Dell Inc."), std::string::npos);

    constexpr int kThreads = 8, kIterations = 20;
    std::atomic<int> done{0};
    std::mutex failureLock;
    std::vector<std::string> failures;
    RunThreads(kThreads, [&](int thread) {
        ComApartment threadApartment;
        for (int i = 0; i < kIterations; ++i) {
            std::string why;
            ComPtr<ISmBiosImpl> object = NewObject(why);
            if (object && object->Initialize() != S_OK) why = "Initialize failed";
            if (why.empty() && QueryAll(object.Get()) != reference) why = "answers differ";
            if (!why.empty()) {
                std::lock_guard<std::mutex> hold(failureLock);
                failures.push_back("thread " + std::to_string(thread) + " iteration " + std::to_string(i) +
                                   ": " + why);
                continue;
            }
            ++done;
        }
    });
    EXPECT_TRUE(failures.empty()) << failures.size() << " failures, first: " << failures.front();
    EXPECT_EQ(done.load(), kThreads * kIterations);
}

TEST(ModuleLockCount, ServerLocksAndObjectsFromManyThreadsBalanceExactly) {
    ComApartment apartment;
    KorvixModule module;
    ASSERT_NE(module.Handle(), nullptr);
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(module.GetClassObject(CLSID_SmBiosImpl, IID_IClassFactory, factory.PutVoid()), S_OK);
    ASSERT_EQ(module.CanUnloadNow(), S_OK);

    ASSERT_EQ(factory->LockServer(TRUE), S_OK);
    std::atomic<int> failures{0};
    RunThreads(8, [&](int) {
        ComApartment threadApartment;
        for (int i = 0; i < 300; ++i) {
            factory->LockServer(TRUE);
            ComPtr<ISmBiosImpl> object;
            if (factory->CreateInstance(nullptr, IID_ISmBiosImpl, object.PutVoid()) != S_OK) ++failures;
            if (module.CanUnloadNow() != S_FALSE) ++failures;
            object.Reset();
            factory->LockServer(FALSE);
        }
    });
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(module.CanUnloadNow(), S_FALSE) << "the main thread's lock remains";
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(module.CanUnloadNow(), S_OK);
}

TEST_F(TracedComponent, ConcurrentInitializeOnOneObjectAcquiresTheTableOnce) {
    Configure(4, 0);
    std::string error;
    ComPtr<ISmBiosImpl> object = NewObject(error);
    ASSERT_TRUE(object) << error;

    constexpr int kThreads = 8;
    std::vector<HRESULT> results(kThreads, E_UNEXPECTED);
    RunThreads(kThreads, [&](int thread) {
        ComApartment threadApartment;
        results[thread] = object->Initialize();
    });
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(results[t], S_OK) << "thread " << t;

    std::vector<std::string> bad;
    const auto records = Records(TraceFile(), false, &bad);
    EXPECT_TRUE(bad.empty()) << bad.front();
    int entered = 0, acquired = 0, answeredFromCopy = 0;
    std::set<std::string> threads;
    for (const TraceRecord& r : records) {
        if (r.cls != "CSmBiosImpl" || r.method != "Initialize") continue;
        if (r.category == "Enter") {
            ++entered;
            threads.insert(r.tid);
        }
        acquired += r.text == "Getting SMBios data succeeded" ? 1 : 0;
        answeredFromCopy += r.details == "We have already SmBios Data - return S_OK." ? 1 : 0;
    }
    EXPECT_EQ(entered, kThreads);
    EXPECT_EQ(threads.size(), size_t{kThreads});
    EXPECT_EQ(acquired, 1) << "the table is acquired by one call only";
    EXPECT_EQ(answeredFromCopy, kThreads - 1);

    Variant names, values;
    ULONG retVal = 99;
    EXPECT_EQ(object->GetFirstInstanceOfType(0, names.Get(), values.Get(), &retVal), S_OK);
    EXPECT_EQ(retVal, 0u);
}

TEST_F(TracedComponent, RecordsOfManyThreadsStayWholeAcrossFileSwitches) {
    constexpr DWORD kLimit = 256 * 1024;
    Configure(6, kLimit);

    constexpr int kThreads = 4, kIterations = 3;
    std::atomic<int> failures{0};
    std::set<DWORD> workerIds;
    std::mutex idLock;
    RunThreads(kThreads, [&](int) {
        {
            std::lock_guard<std::mutex> hold(idLock);
            workerIds.insert(GetCurrentThreadId());
        }
        ComApartment threadApartment;
        for (int i = 0; i < kIterations; ++i) {
            std::string error;
            ComPtr<ISmBiosImpl> object = NewObject(error);
            if (!object || object->Initialize() != S_OK) {
                ++failures;
                continue;
            }
            for (unsigned char type : {0, 4, 17}) {
                Variant names, values;
                ULONG retVal = 0;
                if (object->GetAllInstancesOfType(type, names.Get(), values.Get(), &retVal) != S_OK)
                    ++failures;
            }
        }
    });
    ASSERT_EQ(failures.load(), 0);

    // This process's file and its history files (korvix-<pid>_000.trc, ...).
    const std::wstring ownPrefix = L"korvix-" + Widen(Id4(GetCurrentProcessId()));
    std::vector<fs::path> files;
    for (const fs::path& file : folder.Files())
        if (file.filename().wstring().rfind(ownPrefix, 0) == 0) files.push_back(file);
    ASSERT_GE(files.size(), 2u) << "the size limit should have switched the file";
    std::map<std::string, int> balance; // Enter minus Leave, per thread
    std::map<std::string, int> perThread;
    size_t total = 0;
    for (const fs::path& file : files) {
        const TraceFileContent content = ReadTraceFile(file);
        EXPECT_TRUE(content.bom) << file;
        EXPECT_TRUE(content.wide) << file;
        EXPECT_EQ(content.trailing, "") << file << ": a record was cut off";
        if (file.filename().wstring().find(L'_') != std::wstring::npos)
            EXPECT_LE(fs::file_size(file), 2u * kLimit) << file;
        for (const std::string& line : content.lines) {
            TraceRecord r;
            ASSERT_TRUE(ParseRecord(line, false, r)) << file << ": " << line;
            ASSERT_EQ(r.pid, Id4(GetCurrentProcessId())) << line;
            ++total;
            ++perThread[r.tid];
            if (r.category == "Enter") ++balance[r.tid];
            if (r.category == "Leave") --balance[r.tid];
        }
    }
    for (DWORD id : workerIds) {
        EXPECT_GT(perThread[Id4(id)], 0) << "thread " << id << " wrote nothing";
        EXPECT_EQ(balance[Id4(id)], 0) << "Enter and Leave records of thread " << id << " do not pair up";
    }
    EXPECT_GT(total, 1000u);
}
