// The exports of Korvix.dll other than registration: the class object, the
// unload check, the exported trace slot and DllInitialize/DllUninitialize.
#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

#include "ComponentInstall.h"
#include "Korvix.h"
#include "ModuleTestSupport.h"

using namespace moduletest;

namespace {

using DllInitializeFn = bool (*)(const char*, const char*, const char*);
using DllUninitializeFn = bool (*)();

// {6B0F7E8A-44D2-4C61-9E7B-3F0C2A9D5E11}: a class no module serves.
const CLSID kForeignClsid = {0x6b0f7e8a, 0x44d2, 0x4c61, {0x9e, 0x7b, 0x3f, 0x0c, 0x2a, 0x9d, 0x5e, 0x11}};

class ClassObject : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(apartment.Result()));
        ASSERT_NE(module.Handle(), nullptr);
        ASSERT_EQ(module.GetClassObject(CLSID_SmBiosImpl, IID_IClassFactory, factory.PutVoid()), S_OK);
    }

    ComApartment apartment;
    KorvixModule module;
    ComPtr<IClassFactory> factory;
};

// Name of the mutex that DllInitialize takes for this process and module.
std::string AssemblyMutexName() {
    char name[128];
    std::snprintf(name, sizeof name, "CCAssembly_PID_%8.8lx_Korvix.dll_1.5.0.0",
                  static_cast<unsigned long>(GetCurrentProcessId()));
    return name;
}

// Whether another thread can acquire the named mutex now (it is released again).
bool OtherThreadAcquires(const std::string& name) {
    bool acquired = false;
    std::thread other([&] {
        UniqueHandle mutex(OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name.c_str()));
        if (!mutex.Valid()) return;
        const DWORD wait = WaitForSingleObject(mutex.Get(), 0);
        acquired = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
        if (acquired) ReleaseMutex(mutex.Get());
    });
    other.join();
    return acquired;
}

bool MutexExists(const std::string& name) {
    UniqueHandle mutex(OpenMutexA(SYNCHRONIZE, FALSE, name.c_str()));
    return mutex.Valid();
}

std::wstring ClientCommand(const std::wstring& arguments) {
    std::wstring exe = KorvixPath();
    exe = exe.substr(0, exe.find_last_of(L'\\')) + L"\\korvix_client.exe";
    return L"\"" + exe + L"\" " + arguments;
}

} // namespace

TEST_F(ClassObject, OnlyTheComponentClassIsServedAndItsFactoryIsCached) {
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(module.GetClassObject(kForeignClsid, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(module.GetClassObject(IID_ISmBiosImpl, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);

    ComPtr<IClassFactory> again;
    ComPtr<IUnknown> unknown;
    ASSERT_EQ(module.GetClassObject(CLSID_SmBiosImpl, IID_IClassFactory, again.PutVoid()), S_OK);
    EXPECT_EQ(again.Get(), factory.Get());
    ASSERT_EQ(module.GetClassObject(CLSID_SmBiosImpl, IID_IUnknown, unknown.PutVoid()), S_OK);
    EXPECT_EQ(unknown.Get(), static_cast<IUnknown*>(factory.Get()));
    EXPECT_EQ(module.GetClassObject(CLSID_SmBiosImpl, IID_ISmBiosImpl, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
}

TEST_F(ClassObject, CreatesObjectsButRefusesAggregation) {
    ComPtr<ISmBiosImpl> outer;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_ISmBiosImpl, outer.PutVoid()), S_OK);
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(outer.Get(), IID_IUnknown, &object), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);

    // A fresh object answers, but only the not-initialised result.
    Variant names, values;
    ULONG retVal = 99;
    EXPECT_EQ(outer->GetFirstInstanceOfType(0, names.Get(), values.Get(), &retVal), E_FAIL);
    EXPECT_EQ(retVal, 1u);
}

TEST_F(ClassObject, ModuleStaysLoadedWhileObjectsOrServerLocksLive) {
    EXPECT_EQ(module.CanUnloadNow(), S_OK);
    {
        ComPtr<ISmBiosImpl> first, second;
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_ISmBiosImpl, first.PutVoid()), S_OK);
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_ISmBiosImpl, second.PutVoid()), S_OK);
        EXPECT_EQ(module.CanUnloadNow(), S_FALSE);
        first.Reset();
        EXPECT_EQ(module.CanUnloadNow(), S_FALSE) << "one object is still alive";
        // A second interface of the same object holds no extra count.
        ComPtr<IDispatch> dispatch;
        ASSERT_EQ(second.As(IID_IDispatch, dispatch), S_OK);
        second.Reset();
        EXPECT_EQ(module.CanUnloadNow(), S_FALSE);
    }
    EXPECT_EQ(module.CanUnloadNow(), S_OK);

    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(module.CanUnloadNow(), S_FALSE);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(module.CanUnloadNow(), S_FALSE);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(module.CanUnloadNow(), S_OK);
}

TEST(ModuleExports, TraceSlotIsExportedAndHoldsTheModulesOwnTraceObject) {
    KorvixModule module;
    ASSERT_NE(module.Handle(), nullptr);
    auto* slot = module.Export<void**>("gg_ptrc");
    ASSERT_NE(slot, nullptr);
    // This test executable exports no enabled trace object to join.
    EXPECT_NE(*slot, nullptr);
    EXPECT_NE(module.Export<void*>("DllInitialize"), nullptr);
    EXPECT_NE(module.Export<void*>("DllUninitialize"), nullptr);
}

TEST(ModuleExports, DllInitializeHoldsTheAssemblyMutexUntilDllUninitialize) {
    // The dependency table is read through the XML parser's COM class.
    ComApartment apartment;
    ComponentInstall install;
    ASSERT_EQ(install.Error(), "");
    KorvixModule module;
    auto init = module.Export<DllInitializeFn>("DllInitialize");
    auto uninit = module.Export<DllUninitializeFn>("DllUninitialize");
    ASSERT_TRUE(init && uninit);
    const std::string mutex = AssemblyMutexName();

    ASSERT_TRUE(init(ComponentInstall::kFeature, ComponentInstall::kVersion, ComponentInstall::kContext));
    EXPECT_TRUE(MutexExists(mutex));
    EXPECT_FALSE(OtherThreadAcquires(mutex)) << "held by this thread until DllUninitialize";
    EXPECT_TRUE(uninit());
    EXPECT_TRUE(OtherThreadAcquires(mutex));

    // A feature without a dependency table fails after taking the mutex.
    EXPECT_FALSE(init("NoSuchFeature", "9.99", ComponentInstall::kContext));
    EXPECT_FALSE(OtherThreadAcquires(mutex));
    EXPECT_TRUE(uninit());
    EXPECT_TRUE(OtherThreadAcquires(mutex));
    EXPECT_TRUE(uninit()) << "a release without DllInitialize still answers true";
}

TEST(ModuleExports, DllInitializeWithoutDependencyTablesFailsWithItsRecords) {
    TempFolder folder("dllinit");
    ScopedValueRemoval noTables(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Quarnex\\Common", L"DependencyTables");
    ScopedHklmKey key(kKorvixTraceKey);
    ASSERT_TRUE(key.Valid());
    key.SetDword(L"Trace", 1);
    key.SetDword(L"TraceLevel", 6);
    key.SetString(L"TraceFile", folder.File(L"dllinit-%PID%.trc"));

    const ProcessResult run =
        RunProcess(ClientCommand(L"dllinit Korvix 1.05 Client"), folder.Path().wstring());
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 1u) << "DllInitialize returned true or the client failed: " << run.output;

    const auto records = Records(folder.File(L"dllinit-" + Widen(Id4(run.processId)) + L".trc"), false);
    ASSERT_FALSE(records.empty());
    const int enter =
        Find(records, "<global>", "DllInitialize", "Enter", "Method DllInitialize has been called");
    ASSERT_GE(enter, 0);
    EXPECT_EQ(records[enter].details, "szFeatureName: Korvix szFeatureVersion: 1.05 szContextName: Client");
    const int registry = Find(records, "CCAssembly", "InitializeDependencyTablesPath", "Internal",
                              "Error accessing registry for getting deptables path", enter);
    ASSERT_GT(registry, enter);
    EXPECT_EQ(records[registry].level, "Error");
    EXPECT_GT(Find(records, "CCAssembly", "InitializeCommon", "Internal",
                   "InitializeDependencyTablesPath failed", registry),
              registry);
    const int leave =
        Find(records, "<global>", "DllInitialize", "Leave", "Method DllInitialize has been called");
    ASSERT_GT(leave, registry);
    EXPECT_EQ(records[leave].details, "bReturn: 0");
    EXPECT_EQ(Find(records, "CCAssembly", "CriticalEnter", "Enter", "Method CriticalEnter has been called"),
              -1)
        << "the mutex is not taken";
}
