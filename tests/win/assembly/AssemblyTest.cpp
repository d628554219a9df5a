// The component model: module identity, the dependency tables folder, the
// named mutex of DllInitialize/DllUninitialize, reading dependency tables, and
// creating sibling components by ProgID (assembly_testcomp.dll) initialised
// through IComponentInit.
#include <atomic>
#include <list>
#include <thread>

#include "AssemblyFixture.h"
#include "AssemblyProbe.h"
#include "common/assembly/AssemblyExports.h"
#include "common/assembly/CCAssembly.h"
#include "common/assembly/CCComponentT.h"

namespace {

// A dependency table: feature `feature` `version` with the given entries;
// SelfEntry is this executable's entry in a context, Dependency one of its
// dependencies (a COM one when it has both ProgIDs).
std::string TableXml(const std::string& feature, const std::string& version, const std::string& entries,
                     const std::string& extraAttributes = "") {
    return "<?xml version=\"1.0\"?>\r\n<deployment>\r\n<feature name=\"" + feature + "\" version=\"" +
           version + "\"" + extraAttributes + ">\r\n" + entries + "</feature>\r\n</deployment>\r\n";
}
std::string SelfEntry(const std::string& context, const std::string& version,
                      const std::string& dependencies) {
    return "<context name=\"" + context + "\"><assemblyIdentity name=\"test_assembly.exe\" version=\"" +
           version + "\"><dependencies>\r\n" + dependencies +
           "</dependencies></assemblyIdentity></context>\r\n";
}
std::string Dependency(const std::string& name, const std::string& version, const std::string& progId,
                       const std::string& viProgId) {
    return "<assemblyIdentity name=\"" + name + "\" version=\"" + version + "\"" +
           (progId.empty() ? "" : " progID=\"" + progId + "\"") +
           (viProgId.empty() ? "" : " versionIndependentProgID=\"" + viProgId + "\"") + "/>\r\n";
}

std::string Narrow(BSTR s) {
    return std::string(s, s + SysStringLen(s));
}

class Assembly : public AssemblyTest {
protected:
    // An entry of a dependency map as "name version progID viProgID path".
    static std::string Entry(const CCDependencyMap& map, const char* key) {
        auto it = map.find(key);
        if (it == map.end()) return "<none>";
        const CCDependencyEntry& e = it->second;
        return std::string(e.szName) + " " + e.szVersion + " " + e.szProgID + " " +
               e.szVersionIndependentProgID + " " + e.szPath;
    }
    void WriteIdentTable() {
        tables.Write("Ident_1.0.xml", TableXml("Ident", "1.0", SelfEntry("host", "1.5.0.0", "")));
    }
    std::string MutexName() const {
        char name[1024];
        snprintf(name, sizeof name, "CCAssembly_PID_%8.8lx_%s_%s", GetCurrentProcessId(),
                 assembly.ModuleFileName(), assembly.FileVersion());
        return name;
    }
    // Whether another thread could take the named mutex right now.
    bool MutexFreeForOtherThread() const {
        bool free = false;
        std::thread([&] {
            UniqueHandle mutex(OpenMutexA(SYNCHRONIZE, FALSE, MutexName().c_str()));
            if ((free = mutex.Valid() && WaitForSingleObject(mutex.Get(), 0) == WAIT_OBJECT_0))
                ReleaseMutex(mutex.Get());
        }).join();
        return free;
    }

    CCAssembly assembly;
};

TEST_F(Assembly, IdentityComesFromTheModuleAndTheTranslatedVersionBlock) {
    ASSERT_TRUE(assembly.InitializeCommon());
    const std::string exe = (kit::BinFolder() / "test_assembly.exe").string();
    EXPECT_EQ(assembly.GetModuleHandleRaw(), GetModuleHandleA(nullptr));
    EXPECT_EQ(std::string(assembly.ModulePath()), exe);
    EXPECT_EQ(std::string(assembly.ConfigFilePath()), exe + ".config.xml");
    EXPECT_STREQ(assembly.ModuleFileName(), "test_assembly.exe");
    EXPECT_STREQ(assembly.FileVersion(),
                 "1.5.0.0"); // 040704b0 by the Translation entry, not the default 9.9.9.9
    EXPECT_EQ(std::string(assembly.DependencyTablesPath()), tables.Narrow());
    EXPECT_FALSE(assembly.IsInitialized());
}

TEST_F(Assembly, MissingDependencyTablesFailsWithoutTakingTheMutex) {
    registry.Remove("DependencyTables");
    EXPECT_FALSE(assembly.InitializeDependencyTablesPath());
    EXPECT_FALSE(AssemblyDllInitialize(assembly, "Ident", "1.0", "host"));
    EXPECT_FALSE(assembly.IsInitialized());
    ASSERT_STREQ(assembly.ModuleFileName(), "test_assembly.exe"); // identity was learnt, the mutex never made
    EXPECT_FALSE(UniqueHandle(OpenMutexA(SYNCHRONIZE, FALSE, MutexName().c_str())).Valid());
    const auto registry = Traced("Error", "InitializeDependencyTablesPath",
                                 "Error accessing registry for getting deptables path");
    ASSERT_EQ(registry.size(), 2u); // the direct call and the one inside DllInitialize
    EXPECT_EQ(registry[0].cls + " " + registry[0].details, "CCAssembly Error: 2");
    EXPECT_EQ(Traced("Error", "InitializeCommon", "InitializeDependencyTablesPath failed").size(), 1u);
    EXPECT_TRUE(Traced("InfoCC", "CriticalEnter", "Method CriticalEnter has been called").empty());
    const auto calls = Traced("InfoCC", "DllInitialize", "Method DllInitialize has been called");
    ASSERT_EQ(calls.size(), 4u); // export and assembly, Enter and Leave each
    EXPECT_EQ(calls[0].cls + " " + calls[0].details,
              "<global> szFeatureName: Ident szFeatureVersion: 1.0 szContextName: host");
    EXPECT_EQ(calls[3].category + " " + calls[3].details, "Leave bReturn: 0");
    EXPECT_TRUE(AssemblyDllUninitialize(assembly));
}

TEST_F(Assembly, DependencyTablesValueIsExpandedAndBounded) {
    kit::ScopedEnv dir(L"KORVIX_ASM_TABLES", tables.Path().wstring());
    kit::ScopedEnv longer(L"KORVIX_ASM_LONG", std::wstring(250, L'y'));
    registry.SetString("DependencyTables", "%KORVIX_ASM_TABLES%");
    WriteIdentTable();
    ASSERT_TRUE(assembly.Initialize("Ident", "1.0", "host"));
    EXPECT_EQ(std::string(assembly.DependencyTablesPath()), tables.Narrow());
    // A value longer than the 260-byte buffer, one that expands beyond it, or
    // one of another type is refused; the earlier path stays.
    for (const std::string& value :
         {"C:\\" + std::string(300, 'x'), std::string("C:\\%KORVIX_ASM_LONG%\\%KORVIX_ASM_LONG%")}) {
        registry.SetString("DependencyTables", value);
        EXPECT_FALSE(assembly.InitializeDependencyTablesPath()) << value;
    }
    registry.SetDword("DependencyTables", 7);
    EXPECT_FALSE(assembly.InitializeDependencyTablesPath());
    EXPECT_EQ(std::string(assembly.DependencyTablesPath()), tables.Narrow());
}

// Once the common part succeeded, DllInitialize holds the mutex until
// DllUninitialize, also when the feature's table is missing.
TEST_F(Assembly, DllInitializeHoldsTheMutexUntilDllUninitialize) {
    WriteIdentTable();
    for (const char* feature : {"Ident", "NoSuchFeature"}) {
        EXPECT_EQ(AssemblyDllInitialize(assembly, feature, "1.0", "host"), feature[0] == 'I');
        EXPECT_STREQ(assembly.FeatureName(), feature);
        EXPECT_FALSE(MutexFreeForOtherThread());
        EXPECT_TRUE(AssemblyDllUninitialize(assembly));
        EXPECT_TRUE(MutexFreeForOtherThread());
    }
    EXPECT_TRUE(AssemblyDllUninitialize(assembly));                           // without DllInitialize
    EXPECT_FALSE(AssemblyDllInitialize(assembly, nullptr, nullptr, nullptr)); // null counts as empty
    EXPECT_EQ(std::string(assembly.FeatureName()) + assembly.ContextName(), "");
    AssemblyDllUninitialize(assembly);
}

TEST_F(Assembly, SecondThreadWaitsUntilTheFirstUninitializes) {
    WriteIdentTable();
    ASSERT_TRUE(AssemblyDllInitialize(assembly, "Ident", "1.0", "host"));
    std::atomic<int> state{0}; // 1 started, 2 DllInitialize returned true
    UniqueHandle release(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    std::thread second([&] {
        ComApartment apartment(COINIT_MULTITHREADED);
        state = 1;
        state = AssemblyDllInitialize(assembly, "Ident", "1.0", "host") ? 2 : 3;
        WaitForSingleObject(release.Get(), INFINITE);
        AssemblyDllUninitialize(assembly);
    });
    while (state.load() == 0)
        Sleep(10);
    Sleep(300);
    EXPECT_EQ(state.load(), 1) << "second DllInitialize must wait for the mutex";
    EXPECT_TRUE(AssemblyDllUninitialize(assembly));
    for (int i = 0; i < 3000 && state.load() == 1; ++i)
        Sleep(10);
    EXPECT_EQ(state.load(), 2);
    EXPECT_FALSE(MutexFreeForOtherThread()); // the second thread owns it now
    SetEvent(release.Get());
    second.join();
    EXPECT_TRUE(MutexFreeForOtherThread());
}

TEST_F(Assembly, StarVersionMatchesAndFillsBothMaps) {
    kit::ScopedEnv gac(L"KORVIX_ASM_GAC", L"C:\\Program Files\\Quarnex");
    registry.SetString("ComponentRoot", "%KORVIX_ASM_GAC%\\Components", REG_EXPAND_SZ);
    tables.Write("Alpha_2.0.xml",
                 TableXml("Alpha", "2.0",
                          SelfEntry("host", "*",
                                    Dependency("torvel.dll", "3.1.0.0", "AcTorvel.TorvelAccess.3",
                                               "AcTorvel.TorvelAccess") +
                                        Dependency("helper.dll", "1.0", "", ""))));
    ASSERT_TRUE(assembly.Initialize("Alpha", "2.0", "host"));
    EXPECT_TRUE(assembly.IsInitialized());
    EXPECT_STREQ(assembly.ComponentRoot(), "C:\\Program Files\\Quarnex\\Components");
    EXPECT_EQ(assembly.ComDependencies().size() + assembly.Win32Dependencies().size(), 2u);
    EXPECT_EQ(Entry(assembly.ComDependencies(), "actorvel.torvelaccess"),
              "torvel.dll 3.1.0.0 AcTorvel.TorvelAccess.3 AcTorvel.TorvelAccess "
              "C:\\Program Files\\Quarnex\\Components\\torvel.dll\\3.1.0.0\\torvel.dll");
    EXPECT_EQ(Entry(assembly.Win32Dependencies(), "HELPER.DLL"),
              "helper.dll 1.0   C:\\Program Files\\Quarnex\\Components\\helper.dll\\1.0\\helper.dll");
    const auto com = Traced("VerboseCC", "InitializeFeatureList", "Com entry found");
    const auto plain = Traced("VerboseCC", "InitializeFeatureList", "Win32 dll entry found");
    ASSERT_EQ(com.size() + plain.size(), 2u);
    EXPECT_EQ(com.at(0).details,
              "caller test_assembly.exe V1.5.0.0: name torvel.dll, version 3.1.0.0, progId "
              "AcTorvel.TorvelAccess.3, viProgId AcTorvel.TorvelAccess");
    EXPECT_EQ(plain.at(0).details, "caller test_assembly.exe V1.5.0.0: name helper.dll, version 1.0");
}

TEST_F(Assembly, FeatureMustMatchAndVersionIsComparedAsTextInTheContext) {
    // The file is found, but it describes another version of the feature.
    tables.Write("Gamma_1.0.xml", TableXml("Gamma", "1.1", SelfEntry("host", "*", "")));
    EXPECT_FALSE(assembly.Initialize("Gamma", "1.0", "host"));
    EXPECT_FALSE(assembly.IsInitialized());
    // "1, 5, 0, 0" is the module's number but not its text; the matching
    // version sits under another context.
    const std::string deps =
        Dependency("torvel.dll", "3.1", "AcTorvel.TorvelAccess.3", "AcTorvel.TorvelAccess");
    tables.Write(
        "Beta_1.0.xml",
        TableXml("Beta", "1.0", SelfEntry("host", "1, 5, 0, 0", deps) + SelfEntry("other", "1.5.0.0", deps)));
    ASSERT_TRUE(assembly.Initialize("Beta", "1.0", "host"));
    EXPECT_TRUE(assembly.IsInitialized() && assembly.ComDependencies().empty() &&
                assembly.Win32Dependencies().empty());
    const auto notFound =
        Traced("Warning", "InitializeFeatureList", "AssemblyIdentity node not found for current assembly.");
    ASSERT_EQ(notFound.size(), 1u);
    EXPECT_EQ(notFound[0].details,
              "ContextName: host, AssemblyIdentity: test_assembly.exe, Version: 1.5.0.0");
    ASSERT_TRUE(assembly.Initialize("Beta", "1.0", "other"));
    EXPECT_EQ(assembly.ComDependencies().size(), 1u);
}

// A later entry whose independent ProgID differs in case only replaces the
// earlier one; its ProgID is not registered, so the lookup gives the
// platform's answer, not "not in the table". A ProgID without an independent
// one (or the reverse) makes a plain dependency, not found as a class.
TEST_F(Assembly, LaterCaseVariantReplacesAndHalfComEntriesArePlain) {
    tables.Write("Delta_1.0.xml",
                 TableXml("Delta", "1.0",
                          SelfEntry("host", "1.5.0.0",
                                    Dependency("dep.dll", "1.0", "Korvix.Dep.1", "Korvix.Dep") +
                                        Dependency("dep.dll", "2.0", "Korvix.Dep.2", "KORVIX.DEP") +
                                        Dependency("plain.dll", "1.0", "Korvix.Plain.1", "") +
                                        Dependency("other.dll", "1.0", "", "Korvix.Other"))));
    ASSERT_TRUE(assembly.Initialize("Delta", "1.0", "host"));
    ASSERT_EQ(assembly.ComDependencies().size(), 1u);
    EXPECT_EQ(Entry(assembly.ComDependencies(), "korvix.dep"),
              "dep.dll 2.0 Korvix.Dep.2 KORVIX.DEP \\dep.dll\\2.0\\dep.dll");
    CLSID clsid{};
    EXPECT_EQ(assembly.CLSIDFromProgID("kOrViX.dEp", &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(Entry(assembly.Win32Dependencies(), "plain.dll"),
              "plain.dll 1.0 Korvix.Plain.1  \\plain.dll\\1.0\\plain.dll");
    EXPECT_NE(Entry(assembly.Win32Dependencies(), "other.dll"), "<none>");
    for (const char* progId : {"Korvix.Plain.1", "Korvix.Plain", "Korvix.Other"})
        EXPECT_EQ(assembly.CLSIDFromProgID(progId, &clsid), CLASS_E_CLASSNOTAVAILABLE) << progId;
    EXPECT_EQ(Traced("Error", "CLSIDFromProgID", "ProgId not found in dep table").size(), 3u);
    IUnknown* object = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(assembly.CoCreateInstance("Korvix.Plain", reinterpret_cast<void**>(&object), nullptr,
                                        CLSCTX_ALL, IID_IUnknown),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
}

TEST_F(Assembly, MissingOrBrokenTableFailsButRecordsTheFeature) {
    EXPECT_FALSE(assembly.Initialize("Absent", "1.0", "ctx"));
    EXPECT_EQ(std::string(assembly.FeatureName()) + assembly.FeatureVersion() + assembly.ContextName(),
              "Absent1.0ctx");
    EXPECT_FALSE(assembly.IsInitialized());
    const auto loadError = Traced("Error", "InitializeFeatureList", "Error loading dependency table");
    ASSERT_EQ(loadError.size(), 1u);
    const std::string path = "path='" + tables.Narrow() + "\\Absent_1.0.xml', Line=";
    EXPECT_EQ(loadError[0].details.substr(0, path.size()), path);
    EXPECT_EQ(Traced("Error", "InitializeFeature", "InitializeFeatureList failed").size(), 1u);
    EXPECT_EQ(Traced("Error", "Initialize", "InitializeFeature failed").size(), 1u);
    tables.Write("Broken_1.0.xml",
                 "<?xml version=\"1.0\"?><feature name=\"Broken\" version=\"1.0\"><context");
    EXPECT_FALSE(assembly.Initialize("Broken", "1.0", "host"));
    tables.Write("Empty_1.0.xml", "");
    EXPECT_FALSE(assembly.Initialize("Empty", "1.0", "host"));
    EXPECT_FALSE(assembly.IsInitialized());
}

// The table's rootFolder wins over "ComponentRoot" and loses its trailing
// backslash; without either, paths start at the root and a warning is traced.
TEST_F(Assembly, ComponentRootFromTableOrRegistryOrNone) {
    kit::ScopedEnv root(L"KORVIX_ASM_ROOT", L"D:\\Shared");
    registry.SetString("ComponentRoot", "C:\\FromRegistry");
    const std::string entry = SelfEntry("host", "1.5.0.0", Dependency("dep.dll", "4.2", "Z.Dep.4", "Z.Dep"));
    tables.Write("Zeta_1.0.xml",
                 TableXml("Zeta", "1.0", entry, " rootFolder=\"%KORVIX_ASM_ROOT%\\Components\\\""));
    ASSERT_TRUE(assembly.Initialize("Zeta", "1.0", "host"));
    EXPECT_STREQ(assembly.ComponentRoot(), "D:\\Shared\\Components");
    EXPECT_EQ(Entry(assembly.ComDependencies(), "Z.Dep"),
              "dep.dll 4.2 Z.Dep.4 Z.Dep D:\\Shared\\Components\\dep.dll\\4.2\\dep.dll");
    EXPECT_TRUE(
        Traced("Warning", "InitializeFeatureList", "Error accessing registry for getting GAC root").empty());

    registry.Remove("ComponentRoot");
    CCAssembly bare;
    tables.Write("Eta_1.0.xml", TableXml("Eta", "1.0", entry));
    ASSERT_TRUE(bare.Initialize("Eta", "1.0", "host"));
    EXPECT_STREQ(bare.ComponentRoot(), "");
    EXPECT_EQ(Entry(bare.ComDependencies(), "Z.Dep"), "dep.dll 4.2 Z.Dep.4 Z.Dep \\dep.dll\\4.2\\dep.dll");
    const auto warning =
        Traced("Warning", "InitializeFeatureList", "Error accessing registry for getting GAC root");
    ASSERT_EQ(warning.size(), 1u);
    EXPECT_EQ(warning[0].details, "Error: 2");
}

TEST_F(Assembly, InitialisationsAccumulateAndBadNamesFailCleanly) {
    for (const std::string feature : {"One", "Two"})
        tables.Write(
            feature + "_1.0.xml",
            TableXml(feature, "1.0",
                     SelfEntry("host", "*", Dependency("a.dll", "1", feature + ".X.1", feature + ".X"))));
    ASSERT_TRUE(assembly.Initialize("One", "1.0", "host"));
    ASSERT_TRUE(assembly.Initialize("Two", "1.0", "host"));
    // A later failure keeps the flag and the maps, but records the new feature.
    EXPECT_FALSE(assembly.Initialize("Three", "1.0", "host"));
    EXPECT_TRUE(assembly.IsInitialized());
    EXPECT_STREQ(assembly.FeatureName(), "Three");
    EXPECT_NE(Entry(assembly.ComDependencies(), "One.X"), "<none>");
    EXPECT_NE(Entry(assembly.ComDependencies(), "Two.X"), "<none>");
    // A double quote cannot be put into the query; names far beyond the
    // 260-character buffers are cut, not overflowed.
    tables.Write("Theta_1.0.xml", TableXml("Theta", "1.0", SelfEntry("host", "*", "")));
    EXPECT_FALSE(assembly.Initialize("Theta", "1.0", "ho\"st"));
    EXPECT_FALSE(assembly.Initialize("The\"ta", "1.0", "host"));
    const std::string longName(1000, 'n');
    EXPECT_FALSE(assembly.Initialize(longName.c_str(), longName.c_str(), longName.c_str()));
    EXPECT_EQ(std::string(assembly.FeatureName()), std::string(259, 'n'));
    EXPECT_EQ(std::string(assembly.ContextName()), std::string(259, 'n'));
    EXPECT_TRUE(assembly.Initialize("Theta", "1.0", "host"));
}

const char kViProgId[] = "Korvix.AsmTestComponent";

// assembly_testcomp.dll registered as an in-process server ("Both") under a
// fresh CLSID and ProgID in HKLM\Software\Classes (Wine does not look ProgIDs
// up in HKCU), and feature Kappa 1.0 in which this executable depends on it
// under kViProgId.
class ComponentCreation : public Assembly {
protected:
    ComponentCreation() {
        EXPECT_EQ(CoCreateGuid(&clsid), S_OK);
        wchar_t text[40];
        StringFromGUID2(clsid, text, 40);
        const std::string clsidText(text, text + 38);
        progId = "KorvixAsmTest.C" + clsidText.substr(1, 8) + ".1";
        keys.emplace_back("Software\\Classes\\CLSID\\" + clsidText + "\\InprocServer32");
        keys.back().SetString("", (kit::BinFolder() / "assembly_testcomp.dll").string());
        keys.back().SetString("ThreadingModel", "Both");
        keys.emplace_back("Software\\Classes\\" + progId + "\\CLSID");
        keys.back().SetString("", clsidText);
        tables.Write("Kappa_1.0.xml",
                     TableXml("Kappa", "1.0",
                              SelfEntry("host", "1.5.0.0",
                                        Dependency("assembly_testcomp.dll", "2.0.1.7", progId, kViProgId))));
    }
    template <class T>
    HRESULT Create(const char* progId, T** object, REFIID iid, DWORD context = CLSCTX_INPROC_SERVER) {
        *object = reinterpret_cast<T*>(1);
        return assembly.CoCreateInstance(progId, reinterpret_cast<void**>(object), nullptr, context, iid);
    }

    CLSID clsid{};
    std::string progId;
    std::list<kit::HklmKey> keys;
};

TEST_F(ComponentCreation, NothingWorksBeforeInitialisationThenClassIdLookupIgnoresCase) {
    CLSID found{};
    IUnknown* object = nullptr;
    EXPECT_EQ(assembly.CLSIDFromProgID(kViProgId, &found), E_FAIL);
    EXPECT_EQ(Create(kViProgId, &object, IID_IUnknown), E_FAIL);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(
        Traced("Error", "CoCreateInstance", "Component model not intialized. No work can be done!").size(),
        1u);
    ASSERT_TRUE(assembly.Initialize("Kappa", "1.0", "host"));
    ASSERT_EQ(assembly.CLSIDFromProgID("KORVIX.asmtestcomponent", &found), S_OK);
    EXPECT_TRUE(IsEqualCLSID(found, clsid));
    // The versioned ProgID itself is not a key of the table.
    for (const char* name : {progId.c_str(), "Korvix.AsmTestComponen", static_cast<const char*>(nullptr)})
        EXPECT_EQ(assembly.CLSIDFromProgID(name, &found), CLASS_E_CLASSNOTAVAILABLE);
}

TEST_F(ComponentCreation, CreatedComponentIsInitialisedForTheCreatorsFeature) {
    ASSERT_TRUE(assembly.Initialize("Kappa", "1.0", "host"));
    IAssemblyProbe* raw = nullptr;
    ASSERT_EQ(Create("korvix.ASMTESTCOMPONENT", &raw, kIID_IAssemblyProbe), S_OK);
    ComPtr<IAssemblyProbe> probe(raw, false);
    Bstr feature, version, context, file, fileVersion;
    VARIANT_BOOL initialized = VARIANT_FALSE;
    ASSERT_EQ(probe->GetFeature(feature.Put(), version.Put(), context.Put(), &initialized), S_OK);
    EXPECT_EQ(initialized, VARIANT_TRUE);
    EXPECT_EQ(Narrow(feature.Get()) + " " + Narrow(version.Get()) + " " + Narrow(context.Get()),
              "Kappa 1.0 host");
    // The component's own assembly identifies the DLL: no Translation entry,
    // so its FileVersion comes from the 040904b0 block.
    ASSERT_EQ(probe->GetIdentity(file.Put(), fileVersion.Put()), S_OK);
    EXPECT_EQ(Narrow(file.Get()) + " " + Narrow(fileVersion.Get()), "assembly_testcomp.dll 2.0.1.7");
}

TEST_F(ComponentCreation, ComponentAnsweringFalseGivesUnexpectedButTheInterface) {
    ASSERT_TRUE(assembly.Initialize("Kappa", "1.0", "host"));
    // The creator has read its table; the component finds none and answers
    // VARIANT_FALSE with S_OK.
    kit::fs::remove(tables.Path() / "Kappa_1.0.xml");
    IAssemblyProbe* raw = nullptr;
    EXPECT_EQ(Create(kViProgId, &raw, kIID_IAssemblyProbe), E_UNEXPECTED);
    ASSERT_NE(raw, nullptr);
    ComPtr<IAssemblyProbe> probe(raw, false);
    Bstr feature, version, context;
    VARIANT_BOOL initialized = VARIANT_TRUE;
    ASSERT_EQ(probe->GetFeature(feature.Put(), version.Put(), context.Put(), &initialized), S_OK);
    EXPECT_EQ(initialized, VARIANT_FALSE);
    EXPECT_EQ(Narrow(feature.Get()), "Kappa");
    const auto failed = Traced("Error", "CoCreateInstance", "Calling IComponentInit->Initialize failed!");
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0].details.substr(0, 17), "hr: 0x00000000, '");
    // The component DLL joined this executable's trace and wrote its own warning.
    const auto warning =
        Traced("Warning", "Initialize", "Calling Assembly.Initialize failed for some reason.");
    ASSERT_EQ(warning.size(), 1u);
    EXPECT_EQ(warning[0].module + " " + warning[0].cls,
              "assembly_testcomp.dll CCComponentT<class CCAssembly>");
    const auto leave = Traced("InfoCC", "CoCreateInstance", "Method CoCreateInstance has been called");
    ASSERT_EQ(leave.size(), 2u);
    EXPECT_EQ(leave[1].details.substr(0, 17), "hr: 0x8000FFFF, '");
}

TEST_F(ComponentCreation, MissingInterfaceOrUnregisteredProgIdLeavesTheOutPointerNull) {
    tables.Write(
        "Kappa_1.0.xml",
        TableXml("Kappa", "1.0",
                 SelfEntry("host", "1.5.0.0",
                           Dependency("assembly_testcomp.dll", "2.0.1.7", progId, kViProgId) +
                               Dependency("gone.dll", "1.0", "KorvixAsmTest.Gone.1", "KorvixAsmTest.Gone"))));
    ASSERT_TRUE(assembly.Initialize("Kappa", "1.0", "host"));
    IDispatch* dispatch = nullptr;
    EXPECT_EQ(Create(kViProgId, &dispatch, IID_IDispatch, CLSCTX_ALL), E_NOINTERFACE);
    EXPECT_EQ(dispatch, nullptr);
    IUnknown* object = nullptr;
    EXPECT_EQ(Create("KorvixAsmTest.Gone", &object, IID_IUnknown, CLSCTX_ALL), CO_E_CLASSSTRING);
    EXPECT_EQ(object, nullptr);
}

// A component of this executable, to drive CCComponentT's Initialize directly.
class LocalComponent : public CCComponentT<CCAssembly> {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
};

TEST_F(Assembly, ComponentInitializeReportsOnlyThroughItsResult) {
    tables.Write("Mu_1.0.xml", TableXml("Mu", "1.0", SelfEntry("host", "*", "")));
    LocalComponent component;
    Bstr feature(L"Mu"), version(L"1.0"), context(L"host"), other(L"NoTable");
    VARIANT_BOOL result = VARIANT_TRUE;
    EXPECT_EQ(component.Initialize(other.Get(), version.Get(), context.Get(), &result), S_OK);
    EXPECT_EQ(result, VARIANT_FALSE);
    EXPECT_FALSE(component.Assembly().IsInitialized());
    result = VARIANT_TRUE;
    EXPECT_EQ(component.Initialize(nullptr, nullptr, nullptr, &result), S_OK);
    EXPECT_EQ(result, VARIANT_FALSE);
    EXPECT_STREQ(component.Assembly().FeatureName(), "");
    EXPECT_EQ(component.Initialize(feature.Get(), version.Get(), context.Get(), &result), S_OK);
    EXPECT_EQ(result, VARIANT_TRUE);
    EXPECT_TRUE(component.Assembly().IsInitialized());
    EXPECT_STREQ(component.Assembly().ContextName(), "host");
    EXPECT_EQ(component.Initialize(feature.Get(), version.Get(), context.Get(), nullptr), E_POINTER);
}

} // namespace
