// Reading dependency tables: feature and self-entry matching, the two maps,
// the component root and the failures of missing or unusable tables.
#include <windows.h>

#include <string>

#include "AssemblyTestSupport.h"
#include "common/assembly/CCAssembly.h"

namespace {

class DependencyTable : public AssemblyTestBase {
protected:
    const CCDependencyEntry* Com(const char* key) {
        auto it = m_assembly.ComDependencies().find(key);
        return it == m_assembly.ComDependencies().end() ? nullptr : &it->second;
    }
    const CCDependencyEntry* Win32(const char* key) {
        auto it = m_assembly.Win32Dependencies().find(key);
        return it == m_assembly.Win32Dependencies().end() ? nullptr : &it->second;
    }

    CCAssembly m_assembly;
};

TEST_F(DependencyTable, StarVersionMatchesAndFillsBothMaps) {
    SetEnvironmentVariableA("KORVIX_ASM_GAC", "C:\\Program Files\\Quarnex");
    m_registry.Set("ComponentRoot", "%KORVIX_ASM_GAC%\\Components", REG_EXPAND_SZ);
    m_tables.Write(
        "Alpha_2.0.xml",
        FeatureXml("Alpha", "2.0",
                   SelfEntryXml("host", "*",
                                ComDependencyXml("torvel.dll", "3.1.0.0", "AcTorvel.TorvelAccess.3",
                                                 "AcTorvel.TorvelAccess") +
                                    ComDependencyXml("helper.dll", "1.0", "", ""))));
    ASSERT_TRUE(m_assembly.Initialize("Alpha", "2.0", "host"));
    EXPECT_TRUE(m_assembly.IsInitialized());
    EXPECT_STREQ(m_assembly.ComponentRoot(), "C:\\Program Files\\Quarnex\\Components");

    ASSERT_EQ(m_assembly.ComDependencies().size(), 1u);
    const CCDependencyEntry* torvel = Com("actorvel.torvelaccess");
    ASSERT_NE(torvel, nullptr);
    EXPECT_STREQ(torvel->szName, "torvel.dll");
    EXPECT_STREQ(torvel->szVersion, "3.1.0.0");
    EXPECT_STREQ(torvel->szProgID, "AcTorvel.TorvelAccess.3");
    EXPECT_STREQ(torvel->szVersionIndependentProgID, "AcTorvel.TorvelAccess");
    EXPECT_STREQ(torvel->szPath, "C:\\Program Files\\Quarnex\\Components\\torvel.dll\\3.1.0.0\\torvel.dll");

    ASSERT_EQ(m_assembly.Win32Dependencies().size(), 1u);
    const CCDependencyEntry* helper = Win32("HELPER.DLL");
    ASSERT_NE(helper, nullptr);
    EXPECT_STREQ(helper->szProgID, "");
    EXPECT_STREQ(helper->szPath, "C:\\Program Files\\Quarnex\\Components\\helper.dll\\1.0\\helper.dll");

    const auto com = Traced("VerboseCC", "InitializeFeatureList", "Com entry found");
    ASSERT_EQ(com.size(), 1u);
    EXPECT_EQ(com[0].details, "caller test_assembly.exe V1.5.0.0: name torvel.dll, version 3.1.0.0, progId "
                              "AcTorvel.TorvelAccess.3, viProgId AcTorvel.TorvelAccess");
    const auto plain = Traced("VerboseCC", "InitializeFeatureList", "Win32 dll entry found");
    ASSERT_EQ(plain.size(), 1u);
    EXPECT_EQ(plain[0].details, "caller test_assembly.exe V1.5.0.0: name helper.dll, version 1.0");
}

TEST_F(DependencyTable, VersionIsComparedAsTextAndContextMustMatch) {
    const std::string deps =
        ComDependencyXml("torvel.dll", "3.1", "AcTorvel.TorvelAccess.3", "AcTorvel.TorvelAccess");
    // "1, 5, 0, 0" is the same number as the module's "1.5.0.0" but not the same text;
    // the matching version sits under another context.
    m_tables.Write("Beta_1.0.xml", FeatureXml("Beta", "1.0",
                                              SelfEntryXml("host", "1, 5, 0, 0", deps) +
                                                  SelfEntryXml("other", "1.5.0.0", deps)));
    ASSERT_TRUE(m_assembly.Initialize("Beta", "1.0", "host"));
    EXPECT_TRUE(m_assembly.IsInitialized());
    EXPECT_TRUE(m_assembly.ComDependencies().empty());
    EXPECT_TRUE(m_assembly.Win32Dependencies().empty());
    const auto notFound =
        Traced("Warning", "InitializeFeatureList", "AssemblyIdentity node not found for current assembly.");
    ASSERT_EQ(notFound.size(), 1u);
    EXPECT_EQ(notFound[0].details,
              "ContextName: host, AssemblyIdentity: test_assembly.exe, Version: 1.5.0.0");

    ASSERT_TRUE(m_assembly.Initialize("Beta", "1.0", "other"));
    EXPECT_EQ(m_assembly.ComDependencies().size(), 1u);
}

TEST_F(DependencyTable, FeatureMustMatchNameAndVersion) {
    // The file is found, but it describes another version of the feature.
    m_tables.Write("Gamma_1.0.xml", FeatureXml("Gamma", "1.1", SelfEntryXml("host", "*", "")));
    EXPECT_FALSE(m_assembly.Initialize("Gamma", "1.0", "host"));
    EXPECT_FALSE(m_assembly.IsInitialized());
}

TEST_F(DependencyTable, LaterCaseVariantReplacesTheEarlierEntry) {
    m_tables.Write(
        "Delta_1.0.xml",
        FeatureXml("Delta", "1.0",
                   SelfEntryXml("host", "1.5.0.0",
                                ComDependencyXml("dep.dll", "1.0", "Korvix.Dep.1", "Korvix.Dep") +
                                    ComDependencyXml("dep.dll", "2.0", "Korvix.Dep.2", "KORVIX.DEP"))));
    ASSERT_TRUE(m_assembly.Initialize("Delta", "1.0", "host"));
    ASSERT_EQ(m_assembly.ComDependencies().size(), 1u);
    const CCDependencyEntry* dep = Com("korvix.dep");
    ASSERT_NE(dep, nullptr);
    EXPECT_STREQ(dep->szProgID, "Korvix.Dep.2");
    EXPECT_STREQ(dep->szVersion, "2.0");
    // The lookup reaches the platform with the later ProgID, which is not
    // registered: the platform's answer, not "not in the table".
    CLSID clsid{};
    EXPECT_EQ(m_assembly.CLSIDFromProgID("kOrViX.dEp", &clsid), CO_E_CLASSSTRING);
}

TEST_F(DependencyTable, ProgIdWithoutIndependentIdIsAPlainDependency) {
    m_tables.Write("Eps_1.0.xml",
                   FeatureXml("Eps", "1.0",
                              SelfEntryXml("host", "1.5.0.0",
                                           ComDependencyXml("plain.dll", "1.0", "Korvix.Plain.1", "") +
                                               ComDependencyXml("other.dll", "1.0", "", "Korvix.Other"))));
    ASSERT_TRUE(m_assembly.Initialize("Eps", "1.0", "host"));
    EXPECT_TRUE(m_assembly.ComDependencies().empty());
    ASSERT_NE(Win32("plain.dll"), nullptr);
    EXPECT_STREQ(Win32("plain.dll")->szProgID, "Korvix.Plain.1");
    ASSERT_NE(Win32("other.dll"), nullptr);
    CLSID clsid{};
    EXPECT_EQ(m_assembly.CLSIDFromProgID("Korvix.Plain.1", &clsid), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(m_assembly.CLSIDFromProgID("Korvix.Plain", &clsid), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(m_assembly.CLSIDFromProgID("Korvix.Other", &clsid), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(Traced("Error", "CLSIDFromProgID", "ProgId not found in dep table").size(), 3u);
    IUnknown* object = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(m_assembly.CoCreateInstance("Korvix.Plain", reinterpret_cast<void**>(&object), nullptr,
                                          CLSCTX_ALL, IID_IUnknown),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
}

TEST_F(DependencyTable, MissingOrBrokenTableFailsButRecordsTheFeature) {
    EXPECT_FALSE(m_assembly.Initialize("Absent", "1.0", "ctx"));
    EXPECT_STREQ(m_assembly.FeatureName(), "Absent");
    EXPECT_STREQ(m_assembly.FeatureVersion(), "1.0");
    EXPECT_STREQ(m_assembly.ContextName(), "ctx");
    EXPECT_FALSE(m_assembly.IsInitialized());
    const auto loadError = Traced("Error", "InitializeFeatureList", "Error loading dependency table");
    ASSERT_EQ(loadError.size(), 1u);
    const std::string path = "path='" + m_tables.Path() + "\\Absent_1.0.xml', Line=";
    EXPECT_EQ(loadError[0].details.substr(0, path.size()), path);
    EXPECT_EQ(Traced("Error", "InitializeFeature", "InitializeFeatureList failed").size(), 1u);
    EXPECT_EQ(Traced("Error", "Initialize", "InitializeFeature failed").size(), 1u);

    m_tables.Write("Broken_1.0.xml",
                   "<?xml version=\"1.0\"?><feature name=\"Broken\" version=\"1.0\"><context");
    EXPECT_FALSE(m_assembly.Initialize("Broken", "1.0", "host"));
    m_tables.Write("Empty_1.0.xml", "");
    EXPECT_FALSE(m_assembly.Initialize("Empty", "1.0", "host"));
    EXPECT_FALSE(m_assembly.IsInitialized());
}

TEST_F(DependencyTable, RootFolderIsExpandedAndLosesItsTrailingBackslash) {
    SetEnvironmentVariableA("KORVIX_ASM_ROOT", "D:\\Shared");
    m_registry.Set("ComponentRoot", "C:\\FromRegistry");
    m_tables.Write(
        "Zeta_1.0.xml",
        FeatureXml("Zeta", "1.0",
                   SelfEntryXml("host", "1.5.0.0", ComDependencyXml("dep.dll", "4.2", "Z.Dep.4", "Z.Dep")),
                   " rootFolder=\"%KORVIX_ASM_ROOT%\\Components\\\""));
    ASSERT_TRUE(m_assembly.Initialize("Zeta", "1.0", "host"));
    EXPECT_STREQ(m_assembly.ComponentRoot(), "D:\\Shared\\Components");
    ASSERT_NE(Com("Z.Dep"), nullptr);
    EXPECT_STREQ(Com("Z.Dep")->szPath, "D:\\Shared\\Components\\dep.dll\\4.2\\dep.dll");
}

TEST_F(DependencyTable, MissingComponentRootIsOnlyAWarning) {
    m_tables.Write(
        "Eta_1.0.xml",
        FeatureXml("Eta", "1.0",
                   SelfEntryXml("host", "1.5.0.0", ComDependencyXml("dep.dll", "1.0", "E.Dep.1", "E.Dep"))));
    ASSERT_TRUE(m_assembly.Initialize("Eta", "1.0", "host"));
    EXPECT_STREQ(m_assembly.ComponentRoot(), "");
    ASSERT_NE(Com("E.Dep"), nullptr);
    EXPECT_STREQ(Com("E.Dep")->szPath, "\\dep.dll\\1.0\\dep.dll");
    const auto warning =
        Traced("Warning", "InitializeFeatureList", "Error accessing registry for getting GAC root");
    ASSERT_EQ(warning.size(), 1u);
    EXPECT_EQ(warning[0].details, "Error: 2");
}

TEST_F(DependencyTable, InitialisationsAccumulateAndTheFlagStays) {
    m_tables.Write(
        "One_1.0.xml",
        FeatureXml("One", "1.0", SelfEntryXml("host", "*", ComDependencyXml("a.dll", "1", "A.X.1", "A.X"))));
    m_tables.Write(
        "Two_1.0.xml",
        FeatureXml("Two", "1.0", SelfEntryXml("host", "*", ComDependencyXml("b.dll", "1", "B.X.1", "B.X"))));
    ASSERT_TRUE(m_assembly.Initialize("One", "1.0", "host"));
    ASSERT_TRUE(m_assembly.Initialize("Two", "1.0", "host"));
    EXPECT_NE(Com("A.X"), nullptr);
    EXPECT_NE(Com("B.X"), nullptr);
    // A later failure keeps the flag and what the maps hold, but records the new feature.
    EXPECT_FALSE(m_assembly.Initialize("Three", "1.0", "host"));
    EXPECT_TRUE(m_assembly.IsInitialized());
    EXPECT_EQ(m_assembly.ComDependencies().size(), 2u);
    EXPECT_STREQ(m_assembly.FeatureName(), "Three");
}

TEST_F(DependencyTable, QuotesAndOverlongNamesFailCleanly) {
    m_tables.Write("Theta_1.0.xml", FeatureXml("Theta", "1.0", SelfEntryXml("host", "*", "")));
    // A context name with a double quote cannot be put into the query.
    EXPECT_FALSE(m_assembly.Initialize("Theta", "1.0", "ho\"st"));
    EXPECT_FALSE(m_assembly.Initialize("The\"ta", "1.0", "host"));
    EXPECT_FALSE(m_assembly.IsInitialized());
    // Far beyond the 260-character buffers: cut, not overflowed.
    const std::string longName(1000, 'n');
    EXPECT_FALSE(m_assembly.Initialize(longName.c_str(), longName.c_str(), longName.c_str()));
    EXPECT_EQ(std::string(m_assembly.FeatureName()), std::string(259, 'n'));
    EXPECT_EQ(std::string(m_assembly.ContextName()), std::string(259, 'n'));
    // The object still works afterwards.
    EXPECT_TRUE(m_assembly.Initialize("Theta", "1.0", "host"));
}

} // namespace
