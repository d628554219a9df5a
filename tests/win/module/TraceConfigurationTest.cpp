// Korvix.dll configures its tracing once, while it loads: from its own key
// HKLM\Software\Quarnex\Common\Tracing\Korvix.dll\1.05, or by joining the
// trace object of the host executable. Each case runs korvix_client, which
// loads, uses and unloads the module in a process of its own.
#include <gtest/gtest.h>

#include "ComponentInstall.h"
#include "ModuleTestSupport.h"
#include "TableBuilder.h"

using namespace moduletest;

namespace {

std::wstring ClientCommand(const std::wstring& arguments) {
    std::wstring exe = KorvixPath();
    exe = exe.substr(0, exe.find_last_of(L'\\')) + L"\\korvix_client.exe";
    return L"\"" + exe + L"\" " + arguments;
}

std::wstring RealTable() {
    return Widen(TestDataPath("real/dell-poweredge-r640-3.0.bin"));
}

class KorvixTraceConfiguration : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kKorvixTraceKey)) << "left behind by another run";
    }
    void TearDown() override { EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kKorvixTraceKey)); }

    // Runs the client in `folder`, which is also its current directory.
    ProcessResult Run(const std::wstring& arguments) {
        ProcessResult run = RunProcess(ClientCommand(arguments), folder.Path().wstring());
        EXPECT_TRUE(run.finished);
        return run;
    }

    TempFolder folder{"traceconfig"};
};

} // namespace

TEST_F(KorvixTraceConfiguration, OwnKeyTracesTheModulesLifeAndTheObjectsCalls) {
    ComponentInstall install;
    ASSERT_EQ(install.Error(), "");
    ScopedEnvironment table(L"KORVIX_SMBIOS_TABLE", RealTable().c_str());
    ScopedHklmKey key(kKorvixTraceKey);
    key.SetDword(L"Trace", 1);
    key.SetDword(L"TraceLevel", 6);
    key.SetString(L"TraceFile", folder.File(L"korvix-%PID%.trc"));

    const ProcessResult run = Run(L"objects --init");
    ASSERT_EQ(run.exitCode, 0u) << run.output;

    const fs::path file = folder.File(L"korvix-" + Widen(Id4(run.processId)) + L".trc");
    const TraceFileContent content = ReadTraceFile(file);
    ASSERT_TRUE(content.exists);
    EXPECT_TRUE(content.bom);
    EXPECT_EQ(content.trailing, "");
    std::vector<std::string> bad;
    const auto records = Records(file, false, &bad);
    EXPECT_TRUE(bad.empty()) << bad.front();
    ASSERT_FALSE(records.empty());
    for (const TraceRecord& r : records)
        ASSERT_EQ(r.pid, Id4(run.processId)) << r.cls << "::" << r.method;

    // Construction of the module object comes before everything the object does.
    const int constructing = Find(records, "CKorvixModule", "CKorvixModule", "Enter",
                                  "A CKorvixModule object is being constructed.");
    const int constructed =
        Find(records, "CKorvixModule", "CKorvixModule", "Leave", "A CKorvixModule object was constructed.");
    ASSERT_GE(constructing, 0);
    ASSERT_GT(constructed, constructing);
    EXPECT_EQ(records[constructing].level, "Info");
    int firstObjectRecord = -1;
    for (int i = 0; i < static_cast<int>(records.size()) && firstObjectRecord < 0; ++i)
        if (records[i].cls == "CSmBiosImpl") firstObjectRecord = i;
    ASSERT_GT(firstObjectRecord, constructed);
    // The module-wide assembly is built after the module object.
    EXPECT_GT(
        Find(records, "CCAssembly", "CCAssembly", "Enter", "An instance of CCAssembly has been constructed"),
        constructed);

    // The object's calls, with their details.
    const int query = Find(records, "CSmBiosImpl", "GetFirstInstanceOfType", "Enter",
                           "Method GetFirstInstanceOfType has been entered.");
    ASSERT_GT(query, firstObjectRecord);
    EXPECT_EQ(records[query].details, "bType: 1");
    const int answered = Find(records, "CSmBiosImpl", "GetFirstInstanceOfType", "Leave",
                              "Method GetFirstInstanceOfType has been left.", query);
    ASSERT_GT(answered, query);
    EXPECT_EQ(records[answered].details, "RetVal: 0, hRes: 0x0");
    const int acquired =
        Find(records, "CSmBiosImpl", "Initialize", "Internal", "Getting SMBios data succeeded");
    ASSERT_GE(acquired, 0);
    EXPECT_EQ(records[acquired].level, "Verbose");
    EXPECT_GE(Find(records, "CSmBiosImpl", "EnumAllInstances", "Enter",
                   "Method EnumAllInstances has been entered."),
              0);

    // Unload: the module-wide assembly goes first, the module object last.
    const size_t n = records.size();
    ASSERT_GE(n, 3u);
    EXPECT_EQ(records[n - 2].method, "~CKorvixModule");
    EXPECT_EQ(records[n - 2].category, "Enter");
    EXPECT_EQ(records[n - 2].text, "A CKorvixModule object is being destructed.");
    EXPECT_EQ(records[n - 1].method, "~CKorvixModule");
    EXPECT_EQ(records[n - 1].category, "Leave");
    EXPECT_EQ(records[n - 1].text, "A CKorvixModule object was destructed.");
    EXPECT_EQ(records[n - 3].method, "~CCAssembly");
}

TEST_F(KorvixTraceConfiguration, TraceValueOfTheWrongTypeLeavesTracingOff) {
    ScopedHklmKey key(kKorvixTraceKey);
    key.SetString(L"Trace", L"1");
    key.SetDword(L"TraceLevel", 6);
    key.SetString(L"TraceFile", folder.File(L"korvix-%PID%.trc"));
    const ProcessResult run = Run(L"objects");
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_TRUE(folder.Files().empty());
}

TEST_F(KorvixTraceConfiguration, WithoutLevelOrWithoutKeyNothingIsWritten) {
    {
        // Enabled, but level 0 passes no record.
        ScopedHklmKey key(kKorvixTraceKey);
        key.SetDword(L"Trace", 1);
        const ProcessResult run = Run(L"objects");
        EXPECT_EQ(run.exitCode, 0u) << run.output;
        EXPECT_TRUE(folder.Files().empty());
    }
    ASSERT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kKorvixTraceKey));
    const ProcessResult run = Run(L"objects");
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_TRUE(folder.Files().empty()) << "not even the default Trace.trc";
}

TEST_F(KorvixTraceConfiguration, HostTraceObjectIsJoinedAndTheModulesKeyIsNotRead) {
    ComponentInstall install;
    ASSERT_EQ(install.Error(), "");
    ScopedEnvironment table(L"KORVIX_SMBIOS_TABLE", RealTable().c_str());
    // What the module would use if it read its own key.
    ScopedHklmKey key(kKorvixTraceKey);
    key.SetDword(L"Trace", 1);
    key.SetDword(L"TraceLevel", 6);
    key.SetString(L"TraceFile", folder.File(L"own-%PID%.trc"));

    const std::wstring hostFile = folder.File(L"host.trc");
    const ProcessResult run = Run(L"objects --init --host \"" + hostFile + L"\" 4");
    ASSERT_EQ(run.exitCode, 0u) << "20: the module did not join; " << run.output;
    ASSERT_EQ(folder.Files().size(), 1u) << "only the host's file";

    std::vector<std::string> bad;
    const auto records = Records(hostFile, true, &bad);
    EXPECT_TRUE(bad.empty()) << bad.front();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.front().module, "korvix_client.exe");
    EXPECT_EQ(records.front().text, "The host traces.");
    EXPECT_EQ(records.back().module, "korvix_client.exe");
    EXPECT_EQ(records.back().text, "The host ends.");

    int fromKorvix = 0;
    for (const TraceRecord& r : records) {
        if (r.module != "Korvix.dll") continue;
        ++fromKorvix;
        EXPECT_TRUE(r.level != "InfoCC" && r.level != "VerboseCC")
            << "above the host's level 4: " << r.method;
    }
    EXPECT_GT(fromKorvix, 0);
    const int constructing = Find(records, "CKorvixModule", "CKorvixModule", "Enter",
                                  "A CKorvixModule object is being constructed.");
    ASSERT_GE(constructing, 0);
    EXPECT_EQ(records[constructing].module, "Korvix.dll");
    const int acquired =
        Find(records, "CSmBiosImpl", "Initialize", "Internal", "Getting SMBios data succeeded");
    ASSERT_GT(acquired, constructing);
    EXPECT_EQ(records[acquired].module, "Korvix.dll");
    const int destructed =
        Find(records, "CKorvixModule", "~CKorvixModule", "Leave", "A CKorvixModule object was destructed.");
    ASSERT_GT(destructed, acquired);
    EXPECT_EQ(records[destructed].module, "Korvix.dll");
}
