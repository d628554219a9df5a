// Module identity, the dependency tables folder, the named mutex and the
// DllInitialize/DllUninitialize pair.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "AssemblyTestSupport.h"
#include "common/assembly/AssemblyExports.h"
#include "common/assembly/CCAssembly.h"

namespace {

class AssemblyIdentity : public AssemblyTestBase {
protected:
    // A table for feature Ident 1.0 that matches this executable.
    void WriteMatchingTable() {
        m_tables.Write("Ident_1.0.xml", FeatureXml("Ident", "1.0", SelfEntryXml("host", "1.5.0.0", "")));
    }

    static std::string MutexName(const CCAssembly& assembly) {
        char name[1024];
        std::snprintf(name, sizeof name, "CCAssembly_PID_%8.8lx_%s_%s", GetCurrentProcessId(),
                      assembly.ModuleFileName(), assembly.FileVersion());
        return name;
    }

    // Whether another thread could take the named mutex right now.
    static bool MutexFreeForOtherThread(const std::string& name) {
        bool free = false;
        std::thread other([&] {
            UniqueHandle mutex(OpenMutexA(SYNCHRONIZE, FALSE, name.c_str()));
            if (!mutex.Valid()) return;
            if (WaitForSingleObject(mutex.Get(), 0) == WAIT_OBJECT_0) {
                free = true;
                ReleaseMutex(mutex.Get());
            }
        });
        other.join();
        return free;
    }
};

TEST_F(AssemblyIdentity, ComesFromTheModuleAndTheTranslatedVersionBlock) {
    CCAssembly assembly;
    ASSERT_TRUE(assembly.InitializeCommon());
    EXPECT_EQ(assembly.GetModuleHandleRaw(), GetModuleHandleA(nullptr));
    EXPECT_EQ(std::string(assembly.ModulePath()), ExecutablePath());
    EXPECT_EQ(std::string(assembly.ConfigFilePath()), ExecutablePath() + ".config.xml");
    EXPECT_STREQ(assembly.ModuleFileName(), "test_assembly.exe");
    // 040704b0 through the Translation entry, not the default block's 9.9.9.9.
    EXPECT_STREQ(assembly.FileVersion(), "1.5.0.0");
    EXPECT_EQ(std::string(assembly.DependencyTablesPath()), m_tables.Path());
    EXPECT_FALSE(assembly.IsInitialized());
}

TEST_F(AssemblyIdentity, MissingDependencyTablesFailsWithoutTakingTheMutex) {
    m_registry.Remove("DependencyTables");
    CCAssembly assembly;
    EXPECT_FALSE(assembly.InitializeDependencyTablesPath());
    EXPECT_FALSE(AssemblyDllInitialize(assembly, "Ident", "1.0", "host"));
    EXPECT_FALSE(assembly.IsInitialized());
    // Identity was learnt, but the mutex was never created.
    ASSERT_STREQ(assembly.ModuleFileName(), "test_assembly.exe");
    UniqueHandle mutex(OpenMutexA(SYNCHRONIZE, FALSE, MutexName(assembly).c_str()));
    EXPECT_FALSE(mutex.Valid());

    const auto registry = Traced("Error", "InitializeDependencyTablesPath",
                                 "Error accessing registry for getting deptables path");
    ASSERT_EQ(registry.size(), 2u); // the direct call and the one inside DllInitialize
    EXPECT_EQ(registry[0].details, "Error: 2");
    EXPECT_EQ(registry[0].className, "CCAssembly");
    EXPECT_EQ(Traced("Error", "InitializeCommon", "InitializeDependencyTablesPath failed").size(), 1u);
    EXPECT_TRUE(Traced("InfoCC", "CriticalEnter", "Method CriticalEnter has been called").empty());
    const auto leave = Traced("InfoCC", "DllInitialize", "Method DllInitialize has been called");
    ASSERT_EQ(leave.size(), 4u); // export and assembly, Enter and Leave each
    EXPECT_EQ(leave[0].className, "<global>");
    EXPECT_EQ(leave[0].details, "szFeatureName: Ident szFeatureVersion: 1.0 szContextName: host");
    EXPECT_EQ(leave[3].category, "Leave");
    EXPECT_EQ(leave[3].details, "bReturn: 0");
    EXPECT_TRUE(AssemblyDllUninitialize(assembly));
}

TEST_F(AssemblyIdentity, DependencyTablesValueIsExpandedAndBounded) {
    SetEnvironmentVariableA("KORVIX_ASM_TABLES", m_tables.Path().c_str());
    m_registry.Set("DependencyTables", "%KORVIX_ASM_TABLES%");
    WriteMatchingTable();
    CCAssembly assembly;
    ASSERT_TRUE(assembly.Initialize("Ident", "1.0", "host"));
    EXPECT_EQ(std::string(assembly.DependencyTablesPath()), m_tables.Path());

    // A stored value longer than the 260-byte buffer, or one that expands
    // beyond it, is refused; the earlier path stays.
    m_registry.Set("DependencyTables", "C:\\" + std::string(300, 'x'));
    EXPECT_FALSE(assembly.InitializeDependencyTablesPath());
    SetEnvironmentVariableA("KORVIX_ASM_LONG", std::string(250, 'y').c_str());
    m_registry.Set("DependencyTables", "C:\\%KORVIX_ASM_LONG%\\%KORVIX_ASM_LONG%");
    EXPECT_FALSE(assembly.InitializeDependencyTablesPath());
    EXPECT_EQ(std::string(assembly.DependencyTablesPath()), m_tables.Path());
    // A value of another type is not a path.
    RegKey key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quarnex\\Common", 0, KEY_SET_VALUE, key.Put()),
              ERROR_SUCCESS);
    const DWORD number = 7;
    RegSetValueExA(key.Get(), "DependencyTables", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                   sizeof number);
    EXPECT_FALSE(assembly.InitializeDependencyTablesPath());
}

TEST_F(AssemblyIdentity, DllInitializeHoldsTheMutexUntilDllUninitialize) {
    WriteMatchingTable();
    CCAssembly assembly;
    ASSERT_TRUE(AssemblyDllInitialize(assembly, "Ident", "1.0", "host"));
    EXPECT_TRUE(assembly.IsInitialized());
    EXPECT_STREQ(assembly.FeatureName(), "Ident");
    const std::string name = MutexName(assembly);
    EXPECT_FALSE(MutexFreeForOtherThread(name));
    EXPECT_TRUE(AssemblyDllUninitialize(assembly));
    EXPECT_TRUE(MutexFreeForOtherThread(name));
}

TEST_F(AssemblyIdentity, FailedFeatureStillTakesTheMutex) {
    // Common initialisation succeeded, so the mutex is taken even though the
    // feature's table is missing; DllUninitialize gives it back.
    CCAssembly assembly;
    EXPECT_FALSE(AssemblyDllInitialize(assembly, "NoSuchFeature", "1.0", "host"));
    const std::string name = MutexName(assembly);
    EXPECT_FALSE(MutexFreeForOtherThread(name));
    AssemblyDllUninitialize(assembly);
    EXPECT_TRUE(MutexFreeForOtherThread(name));
}

TEST_F(AssemblyIdentity, SecondThreadWaitsUntilTheFirstUninitializes) {
    WriteMatchingTable();
    CCAssembly assembly;
    ASSERT_TRUE(AssemblyDllInitialize(assembly, "Ident", "1.0", "host"));

    std::atomic<int> secondState{0}; // 1 started, 2 DllInitialize returned
    std::atomic<bool> secondResult{false};
    UniqueHandle release(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    std::thread second([&] {
        ComApartment apartment(COINIT_MULTITHREADED);
        secondState = 1;
        secondResult = AssemblyDllInitialize(assembly, "Ident", "1.0", "host");
        secondState = 2;
        WaitForSingleObject(release.Get(), INFINITE);
        AssemblyDllUninitialize(assembly);
    });
    while (secondState.load() == 0)
        Sleep(10);
    Sleep(300);
    EXPECT_EQ(secondState.load(), 1) << "second DllInitialize must wait for the mutex";
    EXPECT_TRUE(AssemblyDllUninitialize(assembly));
    for (int i = 0; i < 3000 && secondState.load() != 2; ++i)
        Sleep(10);
    EXPECT_EQ(secondState.load(), 2);
    EXPECT_TRUE(secondResult.load());
    // The second thread now owns it: this thread cannot take it.
    EXPECT_FALSE(MutexFreeForOtherThread(MutexName(assembly)));
    SetEvent(release.Get());
    second.join();
    EXPECT_TRUE(MutexFreeForOtherThread(MutexName(assembly)));
}

TEST_F(AssemblyIdentity, DllUninitializeWithoutInitializeIsTrue) {
    CCAssembly assembly;
    EXPECT_TRUE(AssemblyDllUninitialize(assembly));
    EXPECT_TRUE(assembly.DllUninitialize());
}

TEST_F(AssemblyIdentity, NullExportArgumentsCountAsEmpty) {
    CCAssembly assembly;
    EXPECT_FALSE(AssemblyDllInitialize(assembly, nullptr, nullptr, nullptr));
    EXPECT_STREQ(assembly.FeatureName(), "");
    EXPECT_STREQ(assembly.ContextName(), "");
    AssemblyDllUninitialize(assembly);
}

} // namespace
