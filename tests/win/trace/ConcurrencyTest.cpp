// Several writers on one file: threads of two trace objects, a host executable
// and a guest DLL that joins it (in this process and in a host process
// configured from the registry); file switches on the way lose no record.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>
#include <set>
#include <thread>
#include <tuple>

#include "TraceTestSupport.h"
#include "common/trace/ModuleTrace.h"
#include "common/trace/Trace.h"

using namespace tracetest;

namespace {

// Every line of every trace file in `folder` (current file and history).
std::vector<std::string> AllLines(const fs::path& folder, size_t* files = nullptr) {
    std::vector<std::string> lines;
    size_t count = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().extension() != L".trc") continue;
        ++count;
        EXPECT_TRUE(ReadTraceFile(entry.path().wstring()).bom) << entry.path().string();
        for (auto& line : Lines(entry.path().wstring()))
            lines.push_back(std::move(line));
    }
    if (files) *files = count;
    return lines;
}

// The guest DLL, loaded for the life of the object.
class Guest {
public:
    Guest() : module_(LoadLibraryW((BinFolder() / L"trace_guest.dll").c_str())) {}
    ~Guest() {
        if (module_) FreeLibrary(module_);
    }
    HMODULE Module() const { return module_; }
    template <class F> F Get(const char* name) const {
        return reinterpret_cast<F>(GetProcAddress(module_, name));
    }

private:
    HMODULE module_;
};

class TraceWriters : public ::testing::Test {
protected:
    void TearDown() override {
        CCVireoTrace::Settings off;
        off.enabled = false;
        ModuleTraceObject().Apply(off);
    }
};

} // namespace

TEST_F(TraceWriters, ThreadsOfTwoObjectsOnOneFileNeitherInterleaveNorLose) {
    TempFolder folder;
    const std::wstring file = folder.File(L"Trace.trc");
    auto settings = [](CCVireoTrace::Settings& s) {
        s.sizeLimit = 30000;
        s.keepHistory = true;
    };
    std::unique_ptr<CCVireoTrace> objects[] = {MakeTrace(file, settings), MakeTrace(file, settings)};
    const int kThreads = 4;
    const int kRecords = 250;
    std::vector<std::thread> threads;
    for (int o = 0; o < 2; ++o) {
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, o, t] {
                const std::string padding(static_cast<size_t>(t * 37 % 200), 'p');
                for (int i = 0; i < kRecords; ++i)
                    objects[o]->Trace(4, "Writer::Run", "Internal", "", "obj %d thread %d seq %04d %s", o, t,
                                      i, padding.c_str());
            });
        }
    }
    for (auto& thread : threads)
        thread.join();

    size_t files = 0;
    const auto lines = AllLines(folder.Path(), &files);
    EXPECT_GT(files, 3u); // the size limit switched the file several times
    const std::regex record(std::string(kStampPattern) +
                            R"(\tVerbose\tWriter\tRun\tInternal\t\tobj (\d) thread (\d) seq (\d{4}) p*)");
    std::set<std::tuple<int, int, int>> seen;
    for (const auto& line : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, record)) << line.substr(0, 200);
        EXPECT_TRUE(seen.emplace(std::stoi(m[1]), std::stoi(m[2]), std::stoi(m[3])).second) << line;
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(2 * kThreads * kRecords));
}

// This test executable is the host: its trace object, enabled with the module
// column, is exported as gg_ptrc; the guest DLL's trace object joins it at load.
TEST_F(TraceWriters, GuestDllJoinsTheHostAndBothWriteWholeRecords) {
    TempFolder folder;
    const std::wstring file = folder.File(L"Trace.trc");
    CCVireoTrace::Settings host;
    host.fileName = file.c_str();
    host.level = 6;
    host.moduleColumn = true;
    host.keepHistory = true;
    host.sizeLimit = 20000;
    ModuleTraceObject().Apply(host);

    std::map<std::string, size_t> perModule;
    {
        Guest guest;
        ASSERT_NE(guest.Module(), nullptr);
        auto joined = guest.Get<int (*)()>("GuestJoined");
        auto write = guest.Get<void (*)(int, int)>("GuestWrite");
        auto handle = guest.Get<HMODULE (*)()>("GuestModuleHandle");
        ASSERT_TRUE(joined && write && handle);
        EXPECT_TRUE(joined());
        EXPECT_EQ(handle(), guest.Module());

        const int kThreads = 3;
        const int kRecords = 200;
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([=] { write(t, kRecords); });
            threads.emplace_back([=] {
                for (int i = 0; i < kRecords; ++i)
                    Trace(4, "Host::Write", "Internal", "", "host %d seq %04d", t, i);
            });
        }
        for (auto& thread : threads)
            thread.join();
    }

    size_t files = 0;
    const auto lines = AllLines(folder.Path(), &files);
    EXPECT_GT(files, 2u);
    const std::regex record(
        std::string(kStampPattern) +
        R"(\t(Verbose|Info|InfoCC)\t(test_trace\.exe|trace_guest\.dll)\t(\w+)\t(\w+|~\w+)\t(\w+)\t(\w*)\t(.*))");
    std::set<std::string> details;
    for (const auto& line : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, record)) << line;
        const std::string module = m[2];
        const std::string className = m[3];
        if (className == "Host") {
            EXPECT_EQ(module, "test_trace.exe");
        } else if (className == "Guest" || className == "GuestStatic") {
            EXPECT_EQ(module, "trace_guest.dll");
        }
        if (className == "Host" || className == "Guest") {
            EXPECT_TRUE(details.insert(m[7]).second) << line;
        }
        ++perModule[module];
    }
    EXPECT_EQ(details.size(), 2u * 3 * 200);
    // Static objects of the DLL trace after its trace object exists and before it goes.
    EXPECT_EQ(std::count_if(
                  lines.begin(), lines.end(),
                  [](const std::string& l) {
                      return l.find("\ttrace_guest.dll\tGuestStatic\tGuestStatic\tEnter\tconstructed\t") !=
                             std::string::npos;
                  }),
              1);
    EXPECT_EQ(
        std::count_if(lines.begin(), lines.end(),
                      [](const std::string& l) {
                          return l.find("\ttrace_guest.dll\tGuestStatic\t~GuestStatic\tLeave\tdestroyed\t") !=
                                 std::string::npos;
                      }),
        1);
    EXPECT_GE(perModule["trace_guest.dll"], 600u);
    EXPECT_GE(perModule["test_trace.exe"], 600u);
}

// A separate host process whose trace object is configured from the registry
// at start-up ("%PID%" in the file name), with a guest DLL that joins it.
TEST(TraceHostProcess, RegistryConfiguredHostAndJoiningGuestShareOneFile) {
    TempFolder folder;
    const std::string key = std::string(kBaseKey) + "trace_host.exe\\" + KORVIX_TRACE_HOST_VERSION;
    TestRegKey values(key);
    values.SetDword("Trace", 1);
    values.SetDword("TraceLevel", 4);
    values.SetDword("TraceGlobalEnable", 1);
    values.SetDword("TraceClear", 1);
    values.SetString("TraceFile", "%KORVIX_TRACE_HOST_DIR%\\host_%PID%.trc");
    SetEnvironmentVariableW(L"KORVIX_TRACE_HOST_DIR", folder.Path().c_str());

    std::wstring command = L"\"" + (BinFolder() / L"trace_host.exe").wstring() + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, BinFolder().c_str(),
                               &startup, &process));
    SetEnvironmentVariableW(L"KORVIX_TRACE_HOST_DIR", nullptr);
    ASSERT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
    DWORD exitCode = 99;
    GetExitCodeProcess(process.hProcess, &exitCode);
    const DWORD pid = process.dwProcessId;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    ASSERT_EQ(exitCode, 0u);

    wchar_t name[64];
    std::swprintf(name, 64, L"host_%04lu.trc", pid);
    const auto lines = Lines(folder.File(name));
    std::vector<std::string> fields;
    for (const auto& line : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, std::regex(std::string(kStampPattern) + R"(\t(.*))"))) << line;
        fields.push_back(m[1]);
    }
    const std::vector<std::string> expected = {
        "Info\ttrace_host.exe\tHostStatic\tHostStatic\tEnter\tconstructed\t",
        "Info\ttrace_guest.dll\tGuestStatic\tGuestStatic\tEnter\tconstructed\t",
        "Verbose\ttrace_guest.dll\tGuest\tWrite\tInternal\t\tguest 0 seq 0000",
        "Verbose\ttrace_guest.dll\tGuest\tWrite\tInternal\t\tguest 0 seq 0001",
        "Verbose\ttrace_guest.dll\tGuest\tWrite\tInternal\t\tguest 0 seq 0002",
        "Verbose\ttrace_host.exe\tHost\tMain\tInternal\t\thost 0",
        "Verbose\ttrace_host.exe\tHost\tMain\tInternal\t\thost 1",
        "Verbose\ttrace_host.exe\tHost\tMain\tInternal\t\thost 2",
        "Info\ttrace_guest.dll\tGuestStatic\t~GuestStatic\tLeave\tdestroyed\t",
        "Info\ttrace_host.exe\tHostStatic\t~HostStatic\tLeave\tdestroyed\t",
    };
    EXPECT_EQ(fields, expected);
}
