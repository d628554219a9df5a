// Configuration: registry values below
// HKLM\Software\Quarnex\Common\Tracing\<module>\<version>, their types and defaults, the key template's
// tokens, the "TraceFile" expansion, constructor flags, and joining the trace object the main executable
// exports.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <regex>

#include "TraceTestSupport.h"
#include "common/trace/ModuleTrace.h"

using namespace tracetest;

namespace {

// Each test reads its own subkey below this executable's versioned key.
std::string CaseKey(const std::string& name) {
    return std::string(kBaseKey) + ExeName() + "\\" + ExeVersionKey() + "\\" + name;
}

struct Configured {
    CCVireoTrace* slot = nullptr; // this object's stand-in for gg_ptrc
    std::unique_ptr<CCVireoTrace> trace;
};

Configured FromRegistry(const std::string& name, DWORD flags = 0x24) {
    Configured c;
    const std::string keyTemplate = "%ModuleName%\\%ModuleVersion%\\" + name;
    c.trace =
        std::make_unique<CCVireoTrace>(keyTemplate.c_str(), flags, "CCVireoTrace_PID_", kBaseKey, &c.slot);
    return c;
}

// Runs with `folder` as the current directory.
class InFolder {
public:
    explicit InFolder(const fs::path& folder) {
        GetCurrentDirectoryW(MAX_PATH, previous_);
        SetCurrentDirectoryW(folder.c_str());
    }
    ~InFolder() { SetCurrentDirectoryW(previous_); }

private:
    wchar_t previous_[MAX_PATH] = {};
};

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

} // namespace

TEST(TraceConfiguration, WithoutKeyNothingIsTraced) {
    TempFolder folder;
    InFolder cwd(folder.Path());
    Configured c = FromRegistry("Missing");
    EXPECT_EQ(std::string(c.trace->KeyPath()), CaseKey("Missing"));
    EXPECT_FALSE(c.trace->Enabled());
    EXPECT_STREQ(c.trace->FileName(), L"Trace.trc");
    EXPECT_EQ(c.slot, c.trace.get()); // not joined: own address in the slot
    for (unsigned level = 0; level <= 6; ++level)
        c.trace->Trace(level, "C::M", "Internal", "", "x");
    EXPECT_TRUE(fs::is_empty(folder.Path()));
}

TEST(TraceConfiguration, TraceValueAloneEnablesButLevelZeroWritesNothing) {
    TempFolder folder;
    InFolder cwd(folder.Path());
    {
        TestRegKey key(CaseKey("LevelZero"));
        key.SetDword("Trace", 1);
        Configured c = FromRegistry("LevelZero");
        EXPECT_TRUE(c.trace->Enabled());
        EXPECT_EQ(c.trace->Level(), 0u);
        EXPECT_STREQ(c.trace->FileName(), L"Trace.trc");
        for (unsigned level = 1; level <= 6; ++level)
            c.trace->Trace(level, "C::M", "Internal", "", "x");
        EXPECT_TRUE(fs::is_empty(folder.Path()));
    }
    TestRegKey key(CaseKey("LevelSix"));
    key.SetDword("Trace", 1);
    key.SetDword("TraceLevel", 6);
    Configured c = FromRegistry("LevelSix");
    for (unsigned level = 1; level <= 6; ++level)
        c.trace->Trace(level, "C::M", "Internal", "", "x");
    EXPECT_EQ(Lines(folder.File(L"Trace.trc")).size(), 6u);
}

TEST(TraceConfiguration, ValuesOfTheWrongTypeGetTheirDefaults) {
    {
        TestRegKey key(CaseKey("TraceAsString"));
        key.SetString("Trace", "1");
        key.SetDword("TraceLevel", 6);
        EXPECT_FALSE(FromRegistry("TraceAsString").trace->Enabled());
    }
    TestRegKey key(CaseKey("WrongTypes"));
    key.SetDword("Trace", 1);
    key.SetString("TraceLevel", "6");
    key.SetDword("TraceFile", 5);
    const DWORD four = 4000;
    key.SetRaw("TraceLimitSize", REG_BINARY, &four, sizeof four);
    const unsigned long long one = 1;
    key.SetRaw("TraceKeepHistory", REG_QWORD, &one, sizeof one);
    key.SetRaw("TraceGlobalEnable", REG_DWORD_BIG_ENDIAN, &four, sizeof four);
    key.SetString("TraceClear", "1");
    key.SetString("TraceLimitTime", "9", REG_EXPAND_SZ);
    Configured c = FromRegistry("WrongTypes");
    EXPECT_TRUE(c.trace->Enabled());
    EXPECT_EQ(c.trace->Level(), 0u);
    EXPECT_STREQ(c.trace->FileName(), L"Trace.trc");
    EXPECT_EQ(c.trace->SizeLimit(), 0u);
    EXPECT_EQ(c.trace->TimeLimitMinutes(), 0u);
    EXPECT_FALSE(c.trace->KeepHistory());
    EXPECT_FALSE(c.trace->ModuleColumn());
    EXPECT_FALSE(c.trace->ClearFlag());
}

TEST(TraceConfiguration, EveryValueIsRead) {
    TempFolder folder;
    TestRegKey key(CaseKey("AllValues"));
    const std::wstring file = folder.File(L"all.trc");
    key.SetDword("Trace", 1);
    key.SetDword("TraceClear", 1);
    key.SetString("TraceFile", Narrow(file));
    key.SetDword("TraceLevel", 6);
    key.SetDword("TraceGlobalEnable", 1);
    key.SetDword("TraceKeepHistory", 1);
    key.SetDword("TraceLimitSize", 5000);
    key.SetDword("TraceLimitTime", 7);
    key.SetDword("TraceDelaySecs", 9);
    Configured c = FromRegistry("AllValues");
    EXPECT_TRUE(c.trace->Enabled());
    EXPECT_TRUE(c.trace->ClearFlag());
    EXPECT_EQ(std::wstring(c.trace->FileName()), file);
    EXPECT_EQ(c.trace->Level(), 6u);
    EXPECT_TRUE(c.trace->ModuleColumn());
    EXPECT_STREQ(c.trace->ModuleName(), L"test_trace.exe");
    EXPECT_TRUE(c.trace->KeepHistory());
    EXPECT_EQ(c.trace->SizeLimit(), 5000u);
    EXPECT_EQ(c.trace->TimeLimitMinutes(), 7u);
    EXPECT_EQ(c.trace->DelaySeconds(), 9u);
    EXPECT_FALSE(c.trace->TraceInfoShown());

    // Capturing the module name traced itself (level 6), before the name was
    // known and before the limits were read: the file it created has no
    // deadline, so the first record switches it into history.
    c.trace->Trace(3, "C::M", "Enter", "", "");
    const std::string stamp = kStampPattern;
    const auto early = Lines(folder.File(L"all_000.trc"));
    ASSERT_EQ(early.size(), 2u);
    EXPECT_TRUE(std::regex_match(
        early[0], std::regex(stamp + R"(\tInfoCC\t\tCCVireoTrace\tGetModuleHandleRaw\tEnter\t\t)")))
        << early[0];
    EXPECT_TRUE(std::regex_match(
        early[1],
        std::regex(stamp +
                   R"(\tInfoCC\t\tCCVireoTrace\tGetModuleHandleRaw\tLeave\t\thReturn: 0x[0-9A-F]{8})")))
        << early[1];
    const auto lines = Lines(file);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(stamp + R"(\tInfo\ttest_trace\.exe\tC\tM\tEnter\t\t)")))
        << lines[0];
}

TEST(TraceConfiguration, TraceFileExpandsEnvironmentAndFirstPidAndTid) {
    TempFolder folder;
    SetEnvironmentVariableW(L"KORVIX_TRACE_TEST_DIR", folder.Path().c_str());
    TestRegKey key(CaseKey("FileTokens"));
    key.SetDword("Trace", 1);
    key.SetDword("TraceLevel", 1);
    key.SetString("TraceFile", "%KORVIX_TRACE_TEST_DIR%\\run_%PID%_%PID%_%TID%.trc");
    Configured c = FromRegistry("FileTokens");
    const std::string pid = Pid4();
    const std::string tid = Tid4();
    const std::wstring expected = folder.Path().wstring() + L"\\run_" + std::wstring(pid.begin(), pid.end()) +
                                  L"_%PID%_" + std::wstring(tid.begin(), tid.end()) + L".trc";
    EXPECT_EQ(std::wstring(c.trace->FileName()), expected);
    c.trace->Trace(1, "C::M", "Internal", "", "x");
    EXPECT_EQ(Lines(expected).size(), 1u);

    // An expansion longer than the name buffer keeps the default name.
    SetEnvironmentVariableW(L"KORVIX_TRACE_TEST_DIR", std::wstring(300, L'd').c_str());
    EXPECT_STREQ(FromRegistry("FileTokens").trace->FileName(), L"Trace.trc");
    SetEnvironmentVariableW(L"KORVIX_TRACE_TEST_DIR", nullptr);
}

TEST(TraceConfiguration, RegistryOverridesColumnAndHistoryFlagsButClearOnlyWhenPresent) {
    const DWORD flags =
        0x24 | CCVireoTrace::FlagModuleColumn | CCVireoTrace::FlagClear | CCVireoTrace::FlagKeepHistory;
    {
        // No key: the flags stay, tracing stays off.
        Configured c = FromRegistry("NoKeyFlags", flags);
        EXPECT_FALSE(c.trace->Enabled());
        EXPECT_TRUE(c.trace->ModuleColumn());
        EXPECT_TRUE(c.trace->ClearFlag());
        EXPECT_TRUE(c.trace->KeepHistory());
        EXPECT_STREQ(c.trace->ModuleName(), L"test_trace.exe");
    }
    {
        TestRegKey key(CaseKey("FlagsKept"));
        key.SetDword("Trace", 1);
        Configured c = FromRegistry("FlagsKept", flags);
        EXPECT_FALSE(c.trace->ModuleColumn());
        EXPECT_FALSE(c.trace->KeepHistory());
        EXPECT_TRUE(c.trace->ClearFlag());
    }
    TestRegKey key(CaseKey("ClearOff"));
    key.SetDword("Trace", 1);
    key.SetDword("TraceClear", 0);
    EXPECT_FALSE(FromRegistry("ClearOff", flags).trace->ClearFlag());
}

TEST(TraceConfiguration, KeyTemplateTokens) {
    Configured c = FromRegistry("%%x\\%Unknown%y\\%modulename%-%MODULEVERSION%\\lone%percent");
    EXPECT_EQ(std::string(c.trace->KeyPath()),
              std::string(kBaseKey) + "test_trace.exe\\3.05\\%x\\y\\test_trace.exe-3.05\\lone%percent");

    // The path is cut to 259 characters before and after the expansion.
    CCVireoTrace* slot = nullptr;
    CCVireoTrace plain(std::string(400, 'k').c_str(), 0x24, "CCVireoTrace_PID_", kBaseKey, &slot);
    EXPECT_EQ(std::string(plain.KeyPath()), std::string(kBaseKey) + std::string(259 - strlen(kBaseKey), 'k'));
    std::string names;
    for (int i = 0; i < 30; ++i)
        names += "%ModuleName%";
    CCVireoTrace growing(names.c_str(), 0x24, "CCVireoTrace_PID_", kBaseKey, &slot);
    const std::string path = growing.KeyPath();
    EXPECT_EQ(path.size(), 259u);
    EXPECT_EQ(path.substr(0, strlen(kBaseKey) + 28), std::string(kBaseKey) + "test_trace.exetest_trace.exe");
}

TEST(TraceConfiguration, TraceInfoShowsTheOutcome) {
    if (GetEnvironmentVariableA("DISPLAY", nullptr, 0) != 0) GTEST_SKIP() << "a display would show the box";
    TestRegKey key(CaseKey("Info"));
    key.SetDword("Trace", 1);
    key.SetDword("TraceInfo", 1);
    EXPECT_TRUE(FromRegistry("Info").trace->TraceInfoShown());
}

// Joining the trace object the main executable (this test) exports as gg_ptrc.
class TraceJoin : public ::testing::Test {
protected:
    void TearDown() override {
        CCVireoTrace::Settings off;
        off.enabled = false;
        ModuleTraceObject().Apply(off);
    }
};

TEST_F(TraceJoin, EnabledHostWithModuleColumnIsJoinedAndNoRegistryIsRead) {
    TempFolder folder;
    const std::wstring file = folder.File(L"host.trc");
    CCVireoTrace::Settings host;
    host.fileName = file.c_str();
    host.level = 5;
    host.moduleColumn = true;
    host.keepHistory = true;
    host.sizeLimit = 123456;
    host.timeLimitMinutes = 30;
    ModuleTraceObject().Apply(host);
    ModuleTraceObject().Trace(1, "Host::Run", "Internal", "", "host first");

    TestRegKey key(CaseKey("Joined"));
    key.SetDword("Trace", 1);
    key.SetDword("TraceLevel", 1);
    key.SetString("TraceFile", "elsewhere.trc");
    Configured c = FromRegistry("Joined");
    CCVireoTrace& joined = *c.trace;
    EXPECT_TRUE(joined.Enabled());
    EXPECT_TRUE(joined.ModuleColumn());
    EXPECT_EQ(std::wstring(joined.FileName()), file);
    EXPECT_EQ(joined.Level(), 5u);
    EXPECT_EQ(joined.SizeLimit(), 123456u);
    EXPECT_EQ(joined.TimeLimitMinutes(), 30u);
    EXPECT_TRUE(joined.KeepHistory());
    EXPECT_FALSE(joined.FirstWritePending());
    EXPECT_EQ(joined.BytesWritten(), ModuleTraceObject().BytesWritten());
    EXPECT_NE(joined.SemaphoreHandle(), nullptr);
    EXPECT_NE(joined.SemaphoreHandle(), ModuleTraceObject().SemaphoreHandle());
    EXPECT_EQ(c.slot, nullptr); // a joined object leaves its slot alone

    joined.Trace(3, "Guest::Run", "Internal", "", "joined");
    const auto lines = Lines(file);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[1].find("\tInfo\ttest_trace.exe\tGuest\tRun\tInternal\t\tjoined"), std::string::npos);
}

TEST_F(TraceJoin, HostThatHasNotWrittenYetSharesTheSemaphoreByName) {
    TempFolder folder;
    const std::wstring file = folder.File(L"late.trc");
    CCVireoTrace::Settings host;
    host.fileName = file.c_str();
    host.moduleColumn = true;
    ModuleTraceObject().Apply(host);
    Configured c = FromRegistry("JoinedEarly");
    EXPECT_TRUE(c.trace->Enabled());
    EXPECT_EQ(c.trace->SemaphoreHandle(), nullptr);
    EXPECT_TRUE(c.trace->FirstWritePending());
    c.trace->Trace(1, "Guest::Run", "Internal", "", "guest first");
    ModuleTraceObject().Trace(1, "Host::Run", "Internal", "", "host second");
    EXPECT_EQ(Lines(file).size(), 2u);
}

TEST_F(TraceJoin, HostWithoutModuleColumnOrDisabledIsNotJoined) {
    TempFolder folder;
    const std::wstring file = folder.File(L"plain.trc");
    CCVireoTrace::Settings host;
    host.fileName = file.c_str();
    ModuleTraceObject().Apply(host);
    TestRegKey key(CaseKey("NotJoined"));
    key.SetDword("Trace", 1);
    key.SetDword("TraceLevel", 2);
    Configured c = FromRegistry("NotJoined");
    EXPECT_EQ(c.trace->Level(), 2u);
    EXPECT_STREQ(c.trace->FileName(), L"Trace.trc");
    EXPECT_EQ(c.slot, c.trace.get());

    host.moduleColumn = true;
    host.enabled = false;
    ModuleTraceObject().Apply(host);
    Configured d = FromRegistry("NotJoined");
    EXPECT_EQ(d.trace->Level(), 2u);
    EXPECT_EQ(d.slot, d.trace.get());
}
