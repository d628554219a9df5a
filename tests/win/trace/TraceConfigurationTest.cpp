// Configuration from HKLM\Software\Quarnex\Common\Tracing\<module>\<version>:
// values, types and defaults, the key template, the "TraceFile" expansion,
// joining the trace object the main executable exports as gg_ptrc, and
// several writers on one file (threads, a guest DLL, a host process).
#include <set>
#include <thread>

#include "TraceFileReader.h"
#include "common/trace/ModuleTrace.h"
#include "common/trace/Trace.h"

using namespace kit;

namespace {

const std::string kBaseKey = "Software\\Quarnex\\Common\\Tracing\\";

// Each case reads its own subkey below this executable's versioned key.
std::string CaseKey(const std::string& name) {
    return kBaseKey + "test_trace.exe\\" KORVIX_TRACE_TEST_VERSION "\\" + name;
}

struct Configured {
    std::unique_ptr<CCVireoTrace*> slot = std::make_unique<CCVireoTrace*>(); // its stand-in for gg_ptrc
    std::unique_ptr<CCVireoTrace> trace;
    CCVireoTrace* operator->() const { return trace.get(); }
};

Configured FromRegistry(const std::string& name, DWORD flags = 0x24) {
    Configured c;
    c.trace = std::make_unique<CCVireoTrace>(("%ModuleName%\\%ModuleVersion%\\" + name).c_str(), flags,
                                             "CCVireoTrace_PID_", kBaseKey.c_str(), c.slot.get());
    return c;
}

// The executable's own trace object (the host that others join) goes off
// again after each case.
class TraceHost : public ::testing::Test {
protected:
    ~TraceHost() override {
        CCVireoTrace::Settings off;
        off.enabled = false;
        ModuleTraceObject().Apply(off);
    }
    void Host(const std::wstring& file, bool enabled, bool moduleColumn, unsigned level = 6,
              DWORD sizeLimit = 0) {
        CCVireoTrace::Settings host;
        host.enabled = enabled;
        host.fileName = file.c_str();
        host.level = level;
        host.moduleColumn = moduleColumn;
        host.keepHistory = true;
        host.sizeLimit = sizeLimit;
        ModuleTraceObject().Apply(host);
    }
    TempFolder folder;
};

} // namespace

TEST(TraceConfiguration, KeyAndTraceValueDecideAndLevelZeroWritesNothing) {
    TempFolder folder;
    const fs::path previous = fs::current_path();
    fs::current_path(folder.Path()); // where the default "Trace.trc" would go
    Configured missing = FromRegistry("Missing");
    EXPECT_EQ(std::string(missing->KeyPath()), CaseKey("Missing"));
    EXPECT_FALSE(missing->Enabled());
    EXPECT_EQ(*missing.slot, missing.trace.get()); // not joined: own address in the slot
    HklmKey key(CaseKey("LevelZero"));
    key.SetDword("Trace", 1);
    Configured zero = FromRegistry("LevelZero");
    EXPECT_TRUE(zero->Enabled());
    EXPECT_EQ(zero->Level(), 0u);
    EXPECT_STREQ(zero->FileName(), L"Trace.trc");
    for (unsigned level = 1; level <= 6; ++level) {
        missing->Trace(level - 1, "C::M", "Internal", "", "x");
        zero->Trace(level, "C::M", "Internal", "", "x");
    }
    EXPECT_TRUE(fs::is_empty(folder.Path()));
    key.SetDword("TraceLevel", 6);
    Configured six = FromRegistry("LevelZero");
    for (unsigned level = 1; level <= 6; ++level)
        six->Trace(level, "C::M", "Internal", "", "x");
    EXPECT_EQ(Lines(folder.File(L"Trace.trc")).size(), 6u);
    fs::current_path(previous);
}

TEST(TraceConfiguration, ValuesOfTheWrongTypeGetTheirDefaults) {
    HklmKey key(CaseKey("WrongTypes"));
    key.SetString("Trace", "1");
    key.SetDword("TraceLevel", 6);
    EXPECT_FALSE(FromRegistry("WrongTypes")->Enabled());
    key.SetDword("Trace", 1);
    key.SetString("TraceLevel", "6");
    key.SetDword("TraceFile", 5);
    const unsigned long long value = 4000;
    key.Set("TraceLimitSize", REG_BINARY, &value, 4);
    key.Set("TraceKeepHistory", REG_QWORD, &value, 8);
    key.Set("TraceGlobalEnable", REG_DWORD_BIG_ENDIAN, &value, 4);
    key.SetString("TraceClear", "1");
    key.SetString("TraceLimitTime", "9", REG_EXPAND_SZ);
    Configured c = FromRegistry("WrongTypes");
    EXPECT_TRUE(c->Enabled());
    EXPECT_EQ(c->Level() + c->SizeLimit() + c->TimeLimitMinutes(), 0u);
    EXPECT_STREQ(c->FileName(), L"Trace.trc");
    EXPECT_FALSE(c->KeepHistory() || c->ModuleColumn() || c->ClearFlag());
}

TEST(TraceConfiguration, EveryValueIsRead) {
    TempFolder folder;
    HklmKey key(CaseKey("AllValues"));
    const std::wstring file = folder.File(L"all.trc");
    for (const auto& [name, value] :
         std::initializer_list<std::pair<const char*, DWORD>>{{"Trace", 1},
                                                              {"TraceClear", 1},
                                                              {"TraceLevel", 6},
                                                              {"TraceGlobalEnable", 1},
                                                              {"TraceKeepHistory", 1},
                                                              {"TraceLimitSize", 5000},
                                                              {"TraceLimitTime", 7},
                                                              {"TraceDelaySecs", 9}})
        key.SetDword(name, value);
    key.SetString("TraceFile", fs::path(file).string());
    Configured c = FromRegistry("AllValues");
    EXPECT_TRUE(c->Enabled() && c->ClearFlag() && c->ModuleColumn() && c->KeepHistory() &&
                !c->TraceInfoShown());
    EXPECT_EQ(std::wstring(c->FileName()), file);
    EXPECT_STREQ(c->ModuleName(), L"test_trace.exe");
    EXPECT_EQ(std::to_string(c->Level()) + " " + std::to_string(c->SizeLimit()) + " " +
                  std::to_string(c->TimeLimitMinutes()) + " " + std::to_string(c->DelaySeconds()),
              "6 5000 7 9");
    // Capturing the module name traced itself (level 6) before the name was
    // known and before the limits were read: the file it created has no
    // deadline, so the first record switches it into history.
    c->Trace(3, "C::M", "Enter", "", "");
    const auto early = Lines(folder.File(L"all_000.trc"));
    ASSERT_EQ(early.size(), 2u);
    EXPECT_EQ(Tail(early[0]), "InfoCC\t\tCCVireoTrace\tGetModuleHandleRaw\tEnter\t\t");
    EXPECT_TRUE(
        std::regex_match(Tail(early[1]), std::regex(R"(InfoCC\t\tCCVireoTrace\tGetModuleHandleRaw\tLeave)"
                                                    R"(\t\thReturn: 0x[0-9A-F]{8})")))
        << early[1];
    EXPECT_EQ(Tail(Lines(file).at(0)), "Info\ttest_trace.exe\tC\tM\tEnter\t\t");
}

TEST(TraceConfiguration, TraceFileExpandsEnvironmentAndFirstPidAndTid) {
    TempFolder folder;
    HklmKey key(CaseKey("FileTokens"));
    key.SetDword("Trace", 1);
    key.SetDword("TraceLevel", 1);
    key.SetString("TraceFile", "%KORVIX_TRACE_TEST_DIR%\\run_%PID%_%PID%_%TID%.trc");
    {
        ScopedEnv dir(L"KORVIX_TRACE_TEST_DIR", folder.Path().wstring());
        Configured c = FromRegistry("FileTokens");
        const fs::path expected = folder.Path() / ("run_" + Id4(GetCurrentProcessId()) + "_%PID%_" +
                                                   Id4(GetCurrentThreadId()) + ".trc");
        EXPECT_EQ(fs::path(c->FileName()), expected);
        c->Trace(1, "C::M", "Internal", "", "x");
        EXPECT_EQ(Lines(expected).size(), 1u);
    }
    // An expansion longer than the name buffer keeps the default name.
    ScopedEnv dir(L"KORVIX_TRACE_TEST_DIR", std::wstring(300, L'd'));
    EXPECT_STREQ(FromRegistry("FileTokens")->FileName(), L"Trace.trc");
}

TEST(TraceConfiguration, RegistryOverridesColumnAndHistoryFlagsButClearOnlyWhenPresent) {
    const DWORD flags =
        0x24 | CCVireoTrace::FlagModuleColumn | CCVireoTrace::FlagClear | CCVireoTrace::FlagKeepHistory;
    Configured none = FromRegistry("NoKeyFlags", flags); // the flags stay, tracing stays off
    EXPECT_TRUE(!none->Enabled() && none->ModuleColumn() && none->ClearFlag() && none->KeepHistory());
    HklmKey key(CaseKey("Flags"));
    key.SetDword("Trace", 1);
    Configured kept = FromRegistry("Flags", flags);
    EXPECT_TRUE(!kept->ModuleColumn() && !kept->KeepHistory() && kept->ClearFlag());
    key.SetDword("TraceClear", 0);
    EXPECT_FALSE(FromRegistry("Flags", flags)->ClearFlag());
}

TEST(TraceConfiguration, KeyTemplateTokensAndLengthLimit) {
    EXPECT_EQ(
        std::string(FromRegistry("%%x\\%Unknown%y\\%modulename%-%MODULEVERSION%\\lone%percent")->KeyPath()),
        kBaseKey + "test_trace.exe\\3.05\\%x\\y\\test_trace.exe-3.05\\lone%percent");
    // The path is cut to 259 characters after the expansion.
    std::string names;
    for (int i = 0; i < 30; ++i)
        names += "%ModuleName%";
    CCVireoTrace* slot = nullptr;
    const std::string path =
        CCVireoTrace(names.c_str(), 0x24, "CCVireoTrace_PID_", kBaseKey.c_str(), &slot).KeyPath();
    EXPECT_EQ(path.size(), 259u);
    EXPECT_EQ(path.substr(0, kBaseKey.size() + 28), kBaseKey + "test_trace.exetest_trace.exe");
}

TEST_F(TraceHost, EnabledHostWithModuleColumnIsJoinedAndNoRegistryIsRead) {
    const std::wstring file = folder.File(L"host.trc");
    Host(file, true, true, 5, 123456);
    ModuleTraceObject().Trace(1, "Host::Run", "Internal", "", "host first");
    HklmKey key(CaseKey("Joined"));
    key.SetDword("Trace", 1);
    key.SetDword("TraceLevel", 1);
    key.SetString("TraceFile", "elsewhere.trc");
    Configured joined = FromRegistry("Joined");
    EXPECT_TRUE(joined->Enabled() && joined->ModuleColumn() && joined->KeepHistory() &&
                !joined->FirstWritePending());
    EXPECT_EQ(std::wstring(joined->FileName()), file);
    EXPECT_EQ(joined->Level(), 5u);
    EXPECT_EQ(joined->SizeLimit(), 123456u);
    EXPECT_EQ(joined->BytesWritten(), ModuleTraceObject().BytesWritten());
    EXPECT_NE(joined->SemaphoreHandle(), nullptr);
    EXPECT_NE(joined->SemaphoreHandle(), ModuleTraceObject().SemaphoreHandle());
    EXPECT_EQ(*joined.slot, nullptr); // a joined object leaves its slot alone
    joined->Trace(3, "Guest::Run", "Internal", "", "joined");
    EXPECT_EQ(Tail(Lines(file).at(1)), "Info\ttest_trace.exe\tGuest\tRun\tInternal\t\tjoined");

    // A host that has not written yet shares the semaphore by name.
    const std::wstring late = folder.File(L"late.trc");
    Host(late, true, true);
    Configured early = FromRegistry("JoinedEarly");
    EXPECT_TRUE(early->SemaphoreHandle() == nullptr && early->FirstWritePending());
    early->Trace(1, "Guest::Run", "Internal", "", "guest first");
    ModuleTraceObject().Trace(1, "Host::Run", "Internal", "", "host second");
    EXPECT_EQ(Lines(late).size(), 2u);
}

TEST_F(TraceHost, HostWithoutModuleColumnOrDisabledIsNotJoined) {
    HklmKey key(CaseKey("NotJoined"));
    key.SetDword("Trace", 1);
    key.SetDword("TraceLevel", 2);
    for (bool enabled : {true, false}) {
        Host(folder.File(L"plain.trc"), enabled, !enabled);
        Configured c = FromRegistry("NotJoined");
        EXPECT_EQ(c->Level(), 2u);
        EXPECT_STREQ(c->FileName(), L"Trace.trc");
        EXPECT_EQ(*c.slot, c.trace.get());
    }
}

// This executable is the host: the guest DLL's trace object joins it at load,
// and the DLL's static objects trace while it exists.
TEST_F(TraceHost, GuestDllJoinsTheHostAndBothWriteWholeRecords) {
    Host(folder.File(L"Trace.trc"), true, true, 6, 20000);
    {
        LibraryHandle guest(LoadLibraryW((BinFolder() / L"trace_guest.dll").c_str()));
        ASSERT_NE(guest.Get(), nullptr);
        auto joined = reinterpret_cast<int (*)()>(GetProcAddress(guest.Get(), "GuestJoined"));
        auto write = reinterpret_cast<void (*)(int, int)>(GetProcAddress(guest.Get(), "GuestWrite"));
        auto handle = reinterpret_cast<HMODULE (*)()>(GetProcAddress(guest.Get(), "GuestModuleHandle"));
        ASSERT_TRUE(joined && write && handle);
        EXPECT_TRUE(joined());
        EXPECT_EQ(handle(), guest.Get());
        std::vector<std::thread> threads;
        for (int t = 0; t < 3; ++t) {
            threads.emplace_back([=] { write(t, 200); });
            threads.emplace_back([=] {
                for (int i = 0; i < 200; ++i)
                    Trace(4, "Host::Write", "Internal", "", "host %d seq %04d", t, i);
            });
        }
        for (auto& thread : threads)
            thread.join();
    }
    std::set<std::string> details;
    std::multiset<std::string> statics;
    size_t files = 0;
    for (const auto& entry : fs::directory_iterator(folder.Path())) {
        ++files;
        std::vector<std::string> bad;
        for (const Record& r : Records(entry.path(), true, &bad)) {
            if (r.cls == "Host" || r.cls == "Guest") {
                EXPECT_EQ(r.module, r.cls == "Host" ? "test_trace.exe" : "trace_guest.dll");
                EXPECT_TRUE(details.insert(r.details).second) << r.details;
            }
            if (r.cls == "GuestStatic") statics.insert(r.module + " " + r.method + " " + r.text);
        }
        EXPECT_TRUE(bad.empty()) << bad.front();
    }
    EXPECT_GT(files, 2u);
    EXPECT_EQ(details.size(), 2u * 3 * 200);
    EXPECT_EQ(statics, (std::multiset<std::string>{"trace_guest.dll GuestStatic constructed",
                                                   "trace_guest.dll ~GuestStatic destroyed"}));
}

// A separate host process configured from the registry at start-up ("%PID%"
// in the file name), with a guest DLL that joins it; static objects trace
// after the trace object exists and before it goes.
TEST(TraceWriters, RegistryConfiguredHostProcessAndJoiningGuestShareOneFile) {
    TempFolder folder;
    HklmKey key(kBaseKey + "trace_host.exe\\" KORVIX_TRACE_HOST_VERSION);
    key.SetDword("Trace", 1);
    key.SetDword("TraceLevel", 4);
    key.SetDword("TraceGlobalEnable", 1);
    key.SetDword("TraceClear", 1);
    key.SetString("TraceFile", "%KORVIX_TRACE_HOST_DIR%\\host_%PID%.trc");
    ScopedEnv dir(L"KORVIX_TRACE_HOST_DIR", folder.Path().wstring());
    const ProcessResult run = RunProcess(L"\"" + (BinFolder() / L"trace_host.exe").wstring() + L"\"");
    ASSERT_EQ(run.exitCode, 0u);
    const std::string guest = "Verbose\ttrace_guest.dll\tGuest\tWrite\tInternal\t\tguest 0 seq 000";
    const std::string host = "Verbose\ttrace_host.exe\tHost\tMain\tInternal\t\thost ";
    const std::vector<std::string> expected = {
        "Info\ttrace_host.exe\tHostStatic\tHostStatic\tEnter\tconstructed\t",
        "Info\ttrace_guest.dll\tGuestStatic\tGuestStatic\tEnter\tconstructed\t",
        guest + "0",
        guest + "1",
        guest + "2",
        host + "0",
        host + "1",
        host + "2",
        "Info\ttrace_guest.dll\tGuestStatic\t~GuestStatic\tLeave\tdestroyed\t",
        "Info\ttrace_host.exe\tHostStatic\t~HostStatic\tLeave\tdestroyed\t",
    };
    std::vector<std::string> tails;
    for (const auto& line : Lines(folder.Path() / ("host_" + Id4(run.processId) + ".trc")))
        tails.push_back(Tail(line));
    EXPECT_EQ(tails, expected);
}
