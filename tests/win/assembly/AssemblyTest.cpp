// The component model: module identity and the dependency tables folder, reading dependency
// tables, and creating components initialised for the creator's feature.
#include <gtest/gtest.h>

#include "ComponentInstall.h"
#include "Korvix.h"
#include "Registry.h"
#include "TableBuilder.h"
#include "TraceFile.h"
#include "common/assembly/AssemblyExports.h"
#include "common/assembly/ComponentInit.h"

namespace {

std::string Dep(const std::string& name, const std::string& version, const std::string& progId = "",
                const std::string& viProgId = "") {
    return "<assemblyIdentity name=\"" + name + "\" version=\"" + version + "\"" +
           (progId.empty() ? "" : " progID=\"" + progId + "\"") +
           (viProgId.empty() ? "" : " versionIndependentProgID=\"" + viProgId + "\"") + "/>";
}
std::string Context(const std::string& context, const std::string& version, const std::string& deps,
                    const std::string& self = "test_assembly.exe") {
    return "<context name=\"" + context + "\"><assemblyIdentity name=\"" + self + "\" version=\"" + version +
           "\"><dependencies>" + deps + "</dependencies></assemblyIdentity></context>";
}
std::string Table(const std::string& feature, const std::string& version, const std::string& contexts,
                  const std::string& attributes = "") {
    return "<?xml version=\"1.0\"?>\r\n<deployment><feature name=\"" + feature + "\" version=\"" + version +
           "\"" + attributes + ">" + contexts + "</feature></deployment>";
}

std::string Dump(const CCDependencyMap& map) {
    std::string dump;
    for (const auto& [key, e] : map)
        dump += std::string(dump.empty() ? "" : "; ") + e.szName + " " + e.szVersion + " " + e.szProgID +
                " " + e.szVersionIndependentProgID + " " + e.szPath;
    return dump;
}

// "DependencyTables" pointing to a fresh folder, no "ComponentRoot", and every record in a trace file.
class Assembly : public ::testing::Test {
protected:
    Assembly() {
        registry.SetString("DependencyTables", tables.Path().string());
        registry.Remove("ComponentRoot");
    }
    // Records of `level` this executable wrote in `method` ("": any) since Skip().
    size_t Count(const std::string& level, const std::string& method) {
        const std::vector<TraceFileRecord> records = trace.Read().records;
        return std::count_if(records.begin() + seen_, records.end(), [&](const TraceFileRecord& r) {
            return r.level == level && (method.empty() || r.method == method) &&
                   r.module == "test_assembly.exe";
        });
    }
    void Skip() { seen_ = trace.Read().records.size(); }

    ComApartment apartment{COINIT_MULTITHREADED};
    HklmKey registry{"SOFTWARE\\Quarnex\\Common"};
    TempFolder tables;
    TraceCapture trace{tables.File(L"assembly.trc")};
    ScopedEnv root{L"KORVIX_ASM_ROOT", L"C:\\Quarnex"};
    size_t seen_ = 0;
};

} // namespace

// The identity comes from the module and the version block its Translation
// entry names; "DependencyTables" is expanded, refused when too long or not a
// string, and without it DllInitialize fails.
TEST_F(Assembly, IdentityAndTheDependencyTablesValue) {
    CCAssembly assembly;
    ASSERT_TRUE(assembly.InitializeCommon());
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    EXPECT_EQ(std::string(assembly.ModulePath()) + " " + assembly.ModuleFileName() + " " +
                  assembly.FileVersion(),
              std::string(exe) + " " + std::filesystem::path(exe).filename().string() + " 1.5.0.0");
    ScopedEnv dir(L"KORVIX_ASM_TABLES", tables.Path().wstring()),
        big(L"KORVIX_ASM_BIG", std::wstring(250, L'y'));
    for (const std::string& value : {std::string("%KORVIX_ASM_TABLES%"), "C:\\" + std::string(300, 'x'),
                                     std::string("C:\\%KORVIX_ASM_BIG%\\%KORVIX_ASM_BIG%"), std::string()}) {
        value.empty() ? registry.SetDword("DependencyTables", 7)
                      : registry.SetString("DependencyTables", value);
        EXPECT_EQ(assembly.InitializeDependencyTablesPath(), value.rfind("%K", 0) == 0) << value;
        EXPECT_EQ(std::string(assembly.DependencyTablesPath()), tables.Path().string());
    }
    registry.Remove("DependencyTables");
    Skip();
    EXPECT_FALSE(AssemblyDllInitialize(assembly, "Ident", "1.0", "host"));
    EXPECT_GT(Count("Error", "InitializeDependencyTablesPath"), 0u);
    EXPECT_TRUE(AssemblyDllUninitialize(assembly));
}

// Each row initialises a fresh assembly for one table; an Error record is
// written if and only if the initialisation failed.
TEST_F(Assembly, DependencyTables) {
    const std::string dep = Dep("d.dll", "4", "Z.4", "Z"), big(1000, 'n'),
                      beta = Context("host", "1, 5, 0, 0", dep) + Context("other", "1.5.0.0", dep);
    const struct {
        std::string feature, xml, context;
        const char* root; // "ComponentRoot" (REG_EXPAND_SZ), null: none
        bool ok;
        std::string com, win32;
        size_t warnings;
    } rows[] = {
        // A module entry of version "*"; a COM entry and a plain one below the expanded root.
        {"Alpha",
         Table("Alpha", "1.0", Context("host", "*", Dep("t.dll", "3.1", "T.A.3", "T.A") + Dep("h.dll", "1"))),
         "host", "%KORVIX_ASM_ROOT%\\C", true, "t.dll 3.1 T.A.3 T.A C:\\Quarnex\\C\\t.dll\\3.1\\t.dll",
         "h.dll 1   C:\\Quarnex\\C\\h.dll\\1\\h.dll", 0},
        // rootFolder wins over "ComponentRoot" and loses its trailing backslash.
        {"Zeta",
         Table("Zeta", "1.0", Context("host", "1.5.0.0", dep), " rootFolder=\"%KORVIX_ASM_ROOT%\\T\\\""),
         "host", "C:\\Registry", true, "d.dll 4 Z.4 Z C:\\Quarnex\\T\\d.dll\\4\\d.dll", "", 0},
        // Without either, paths start at the root, with a warning.
        {"Eta", Table("Eta", "1.0", Context("host", "1.5.0.0", dep)), "host", nullptr, true,
         "d.dll 4 Z.4 Z \\d.dll\\4\\d.dll", "", 1},
        // The version is compared as text; the matching entry sits under another context.
        {"Beta", Table("Beta", "1.0", beta), "host", "C:\\R", true, "", "", 1},
        {"Beta", Table("Beta", "1.0", beta), "other", "C:\\R", true, "d.dll 4 Z.4 Z C:\\R\\d.dll\\4\\d.dll",
         "", 0},
        // A later independent ProgID that differs in case only replaces the
        // earlier entry; an entry without both ProgIDs is a plain one.
        {"Delta",
         Table("Delta", "1.0",
               Context("host", "*",
                       Dep("d.dll", "1", "K.D.1", "K.D") + Dep("d.dll", "2", "K.D.2", "k.d") +
                           Dep("p.dll", "1", "K.P.1") + Dep("o.dll", "1", "", "K.O"))),
         "host", "C:\\R", true, "d.dll 2 K.D.2 k.d C:\\R\\d.dll\\2\\d.dll",
         "o.dll 1  K.O C:\\R\\o.dll\\1\\o.dll; p.dll 1 K.P.1  C:\\R\\p.dll\\1\\p.dll", 0},
        {"Gamma", Table("Gamma", "1.1", Context("host", "*", dep)), "host", "C:\\R", false, "", "", 0},
        {"Absent", "", "host", "C:\\R", false, "", "", 0},
        {"Broken", "<?xml version=\"1.0\"?><feature name=\"Broken\" version=\"1.0\"><context", "host",
         "C:\\R", false, "", "", 0},
        {"Theta", Table("Theta", "1.0", Context("host", "*", dep)), "ho\"st", "C:\\R", false, "", "", 0},
        {big, "", big, "C:\\R", false, "", "", 0}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.feature.substr(0, 20) + " " + row.context);
        if (!row.xml.empty()) tables.Write(row.feature + "_1.0.xml", row.xml);
        row.root ? (void)registry.SetString("ComponentRoot", row.root, REG_EXPAND_SZ)
                 : registry.Remove("ComponentRoot");
        Skip();
        CCAssembly assembly;
        EXPECT_EQ(assembly.Initialize(row.feature.c_str(), "1.0", row.context.c_str()), row.ok);
        EXPECT_EQ(assembly.IsInitialized(), row.ok);
        EXPECT_EQ(std::string(assembly.FeatureName()) + "|" + assembly.ContextName(),
                  row.feature.substr(0, 259) + "|" + row.context.substr(0, 259));
        EXPECT_EQ(Dump(assembly.ComDependencies()), row.com);
        EXPECT_EQ(Dump(assembly.Win32Dependencies()), row.win32);
        EXPECT_EQ(Count("Error", "") > 0, !row.ok);
        EXPECT_EQ(Count("Warning", "InitializeFeatureList"), row.warnings);
    }
    // Initialisations add to the maps; a later failure keeps them and the flag.
    CCAssembly assembly;
    for (const char* feature : {"Alpha", "Delta", "Absent"})
        EXPECT_EQ(assembly.Initialize(feature, "1.0", "host"), feature[1] != 'b');
    EXPECT_TRUE(assembly.IsInitialized());
    EXPECT_EQ(assembly.ComDependencies().size(), 2u);
}

// Components are created by the independent ProgID of the table (in any
// letter case) and initialised for the creator's feature and context before
// the call returns; every failure is returned with one Error record.
TEST_F(Assembly, CreatesComponentsInitialisedForItsFeature) {
    const std::string id = "{7D1C2B3A-0E4F-4A5B-9C6D-8E7F0A1B2C3D}";
    ComponentInstall install(
        Table("Korvix", "1.05",
              Context("host", "1.5.0.0",
                      Dep("Korvix.dll", "1.5", "Korvix.SmBiosImpl.1.05", "Korvix.SmBiosImpl") +
                          Dep("gone.dll", "1", "Korvix.Gone.1", "Korvix.Gone") +
                          Dep("broken.dll", "1", "Korvix.Broken.1", "Korvix.Broken")) +
                  Context("host", "*",
                          Dep("TorvelAccess.dll", "1", "AcTorvel.TorvelAccess.1", "AcTorvel.TorvelAccess"),
                          "Korvix.dll")));
    ASSERT_EQ(install.Error(), "");
    HklmKey server("Software\\Classes\\CLSID\\" + id + "\\InprocServer32"), // a class without its server
        broken("Software\\Classes\\Korvix.Broken.1\\CLSID");
    server.SetString("", "C:\\no\\such\\server.dll");
    broken.SetString("", id);
    ScopedEnv file(L"KORVIX_SMBIOS_TABLE",
                   std::filesystem::path(TestDataPath("real/dell-poweredge-r640-3.0.bin")));

    CCAssembly assembly;
    const auto create = [&](const char* name, REFIID iid, HRESULT expected) {
        Skip();
        IUnknown* object = reinterpret_cast<IUnknown*>(1);
        EXPECT_EQ(
            assembly.CoCreateInstance(name, reinterpret_cast<void**>(&object), nullptr, CLSCTX_ALL, iid),
            expected)
            << name;
        EXPECT_EQ(Count("Error", "CoCreateInstance"), FAILED(expected) ? 1u : 0u) << name;
        return ComPtr<IUnknown>(object, false);
    };
    EXPECT_EQ(create("Korvix.SmBiosImpl", IID_IUnknown, E_FAIL).Get(), nullptr); // not initialised
    ASSERT_TRUE(assembly.Initialize("Korvix", "1.05", "host"));
    const std::tuple<const char*, IID, HRESULT> failures[] = {
        {"Korvix.SmBiosImpl.1.05", IID_IUnknown, CLASS_E_CLASSNOTAVAILABLE}, // only independent ones
        {"Korvix.SmBiosImp", IID_IUnknown, CLASS_E_CLASSNOTAVAILABLE},
        {"Korvix.Gone", IID_IUnknown, CO_E_CLASSSTRING},
        {"Korvix.Broken", IID_IUnknown, REGDB_E_CLASSNOTREG},
        {"Korvix.SmBiosImpl", IID_IPersist, E_NOINTERFACE}};
    for (const auto& [name, iid, hr] : failures)
        EXPECT_EQ(create(name, iid, hr).Get(), nullptr);
    ComPtr<IUnknown> created = create("korvix.SMBIOSIMPL", IID_ISmBiosImpl, S_OK);
    ASSERT_NE(created.Get(), nullptr);
    // It found its own dependency in the creator's context: only so can it read the table.
    EXPECT_EQ(static_cast<ISmBiosImpl*>(created.Get())->Initialize(), S_OK);
    ComPtr<IComponentInit> init;
    ASSERT_EQ(created.As(IID_IComponentInit, init), S_OK);
    VARIANT_BOOL result = VARIANT_TRUE;
    EXPECT_EQ(init->Initialize(nullptr, nullptr, nullptr, &result), S_OK); // null counts as empty
    EXPECT_EQ(result, VARIANT_FALSE);
    EXPECT_EQ(init->Initialize(nullptr, nullptr, nullptr, nullptr), E_POINTER);
    // A component whose own initialisation fails is still handed out.
    std::filesystem::remove(std::filesystem::path(install.Folder()) / "Korvix_1.05.xml");
    EXPECT_NE(create("Korvix.SmBiosImpl", IID_ISmBiosImpl, E_UNEXPECTED).Get(), nullptr);
}
