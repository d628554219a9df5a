// Trace files: first write (create, clear, append), size and time limits,
// history names, and what happens when the move into history fails.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>

#include "TraceTestSupport.h"

using namespace tracetest;

namespace {

// Writes numbered records until `done` holds; returns how many were written.
template <class Done> int WriteUntil(CCVireoTrace& trace, Done done, int limit = 500) {
    for (int i = 0; i < limit; ++i) {
        if (done()) return i;
        trace.Trace(3, "Writer::Run", "Internal", "", "record %04d", i);
    }
    return limit;
}

bool Exists(const std::wstring& path) {
    return fs::exists(path);
}

// File names in a folder exactly as stored.
std::vector<std::wstring> Names(const fs::path& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder / L"*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        if (data.cFileName[0] != L'.') names.push_back(data.cFileName);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return names;
}

bool HasName(const fs::path& folder, const std::wstring& name) {
    for (const auto& n : Names(folder))
        if (n == name) return true;
    return false;
}

} // namespace

TEST(TraceFileSwitch, SizeLimitMovesFileToHistoryAndStartsNewFile) {
    TempFolder folder;
    const std::wstring file = folder.File(L"Trace.trc");
    const std::wstring history = folder.File(L"Trace_000.trc");
    auto trace = MakeTrace(file, [](CCVireoTrace::Settings& s) { s.sizeLimit = 1000; });

    trace->Trace(3, "Writer::Run", "Internal", "", "first");
    const size_t firstLength = Lines(file).at(0).size() + 1; // with its LF
    EXPECT_EQ(trace->BytesWritten(), 2 + 2 * firstLength);

    const int written = WriteUntil(*trace, [&] { return Exists(history); });
    ASSERT_TRUE(Exists(history));

    const TraceFile old = ReadTraceFile(history);
    EXPECT_TRUE(old.bom);
    const auto oldLines = Lines(history);
    ASSERT_FALSE(oldLines.empty());
    // Switched by the first record after the count passed 1000 (2 for the BOM
    // plus 2 per byte, the inserted CRs not counted).
    EXPECT_GT(CountedBytes(old) + 2, 1000u);
    EXPECT_LE(CountedBytes(old) + 2 - 2 * (oldLines.back().size() + 1), 1000u);

    const TraceFile fresh = ReadTraceFile(file);
    EXPECT_TRUE(fresh.bom);
    const auto freshLines = Lines(file);
    ASSERT_EQ(freshLines.size(), 1u);
    char expected[32];
    std::snprintf(expected, sizeof expected, "record %04d", written - 1);
    EXPECT_NE(freshLines[0].find(expected), std::string::npos) << freshLines[0];
    EXPECT_EQ(trace->BytesWritten(), 2 + 2 * (freshLines[0].size() + 1));
    EXPECT_EQ(oldLines.size() + freshLines.size(), static_cast<size_t>(written) + 1);
}

TEST(TraceFileSwitch, KeepHistoryTakesTheNextFreeNumber) {
    TempFolder folder;
    const std::wstring file = folder.File(L"Trace.trc");
    Touch(folder.File(L"Trace_000.trc"), "zero");
    Touch(folder.File(L"Trace_001.trc"), "one");
    auto trace = MakeTrace(file, [](CCVireoTrace::Settings& s) {
        s.sizeLimit = 400;
        s.keepHistory = true;
    });
    WriteUntil(*trace, [&] { return Exists(folder.File(L"Trace_002.trc")); });
    ASSERT_TRUE(Exists(folder.File(L"Trace_002.trc")));
    WriteUntil(*trace, [&] { return Exists(folder.File(L"Trace_003.trc")); });
    ASSERT_TRUE(Exists(folder.File(L"Trace_003.trc")));
    EXPECT_EQ(fs::file_size(folder.File(L"Trace_000.trc")), 4u);
    EXPECT_EQ(fs::file_size(folder.File(L"Trace_001.trc")), 3u);
    EXPECT_TRUE(ReadTraceFile(folder.File(L"Trace_002.trc")).bom);
}

TEST(TraceFileSwitch, KeepHistoryWithAllNumbersTakenUsesAaa) {
    TempFolder folder;
    for (int i = 0; i < 1000; ++i) {
        wchar_t name[32];
        std::swprintf(name, 32, L"Trace_%03d.trc", i);
        HANDLE h = CreateFileW(folder.File(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        CloseHandle(h);
    }
    const std::wstring file = folder.File(L"Trace.trc");
    const std::wstring aaa = folder.File(L"Trace_aaa.trc");
    auto trace = MakeTrace(file, [](CCVireoTrace::Settings& s) {
        s.sizeLimit = 300;
        s.keepHistory = true;
    });
    WriteUntil(*trace, [&] { return Exists(aaa); });
    ASSERT_TRUE(Exists(aaa));
    const auto first = Lines(aaa);
    // The next switch replaces it.
    const int more = WriteUntil(*trace, [&] { return Lines(aaa) != first; });
    EXPECT_LT(more, 500);
    EXPECT_EQ(fs::file_size(folder.File(L"Trace_999.trc")), 0u);
    EXPECT_EQ(Names(folder.Path()).size(), 1002u);
}

TEST(TraceFileSwitch, WithoutKeepHistoryNumberZeroIsOverwritten) {
    TempFolder folder;
    const std::wstring file = folder.File(L"Trace.trc");
    const std::wstring zero = folder.File(L"Trace_000.trc");
    Touch(zero, "stale");
    auto trace = MakeTrace(file, [](CCVireoTrace::Settings& s) { s.sizeLimit = 300; });
    WriteUntil(*trace, [&] { return ReadTraceFile(zero).bom; });
    ASSERT_TRUE(ReadTraceFile(zero).bom);
    const auto first = Lines(zero);
    WriteUntil(*trace, [&] { return Lines(zero) != first; });
    EXPECT_NE(Lines(zero), first);
    EXPECT_FALSE(Exists(folder.File(L"Trace_001.trc")));
}

TEST(TraceFileSwitch, HistoryNamesKeepTheExtension) {
    TempFolder folder;
    struct Case {
        const wchar_t* name;
        const wchar_t* history;
    } cases[] = {
        {L"x.TRACE.TXT", L"x_000.trace.txt"}, // ".trace.txt" in any case, written in lower case
        {L"y.trace.txt", L"y_000.trace.txt"},
        {L"a.b.log", L"a.b_000.log"}, // from the last dot
        {L"NoExtension", L"NoExtension_000"},
    };
    for (const auto& c : cases) {
        auto trace = MakeTrace(folder.File(c.name), [](CCVireoTrace::Settings& s) { s.sizeLimit = 200; });
        WriteUntil(
            *trace, [&] { return HasName(folder.Path(), c.history); }, 50);
        EXPECT_TRUE(HasName(folder.Path(), c.history))
            << std::string(c.history, c.history + wcslen(c.history));
    }
}

// A dot in a folder name starts the "extension" too; the history folder does
// not exist, so the move fails: the record that triggered the switch is
// written, then the fixed warning and error records, and the file goes on.
TEST(TraceFileSwitch, FailedMoveWritesFixedRecordsAndKeepsTheFile) {
    TempFolder folder;
    fs::create_directory(folder.Path() / L"logs.d");
    const std::wstring file = folder.File(L"logs.d\\Trace");
    const std::wstring history = folder.File(L"logs_000.d\\Trace");
    // A limit that three records stay within and the fourth passes.
    const std::wstring scratch = folder.File(L"scratch.trc");
    MakeTrace(scratch)->Trace(3, "Writer::Run", "Internal", "", "record %04d", 0);
    const DWORD record = static_cast<DWORD>(2 * (Lines(scratch).at(0).size() + 1));
    auto trace = MakeTrace(file, [&](CCVireoTrace::Settings& s) { s.sizeLimit = 2 + 3 * record - 1; });
    for (int i = 0; i < 3; ++i)
        trace->Trace(3, "Writer::Run", "Internal", "", "record %04d", i);
    const size_t before = Lines(file).size();
    ASSERT_EQ(before, 3u);
    trace->Trace(3, "Writer::Run", "Internal", "", "trigger");

    const auto lines = Lines(file);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_NE(lines[3].find("\tInternal\t\ttrigger"), std::string::npos) << lines[3];
    std::smatch m;
    const std::regex warning(R"(31\.12\.2030 23:59:59\.999\t9999\t9999\twarning\tCCVireoTrace\tFileSwitch\t)"
                             R"(Internal\tMoveFileExW returned last error 0x([0-9a-f]{8}), (.*))");
    ASSERT_TRUE(std::regex_match(lines[4], m, warning)) << lines[4];
    const DWORD error = std::stoul(m[1].str(), nullptr, 16);
    EXPECT_NE(error, 0u);
    EXPECT_EQ(m[2].str(), CCVireoTrace::GetErrorText(error));
    std::string narrowHistory(history.begin(), history.end());
    EXPECT_EQ(lines[5], "31.12.2030 23:59:59.999\t9999\t9999\terror\tCCVireoTrace\tFileSwitch\tException\t"
                        "MoveFileExW could not create file '" +
                            narrowHistory + "'");

    // Every later record tries again; once the folder exists the move works.
    fs::create_directory(folder.Path() / L"logs_000.d");
    trace->Trace(3, "Writer::Run", "Internal", "", "after");
    EXPECT_TRUE(Exists(history));
    EXPECT_EQ(Lines(history).size(), 6u);
    const auto fresh = Lines(file);
    ASSERT_EQ(fresh.size(), 1u);
    EXPECT_NE(fresh[0].find("after"), std::string::npos);
}

TEST(TraceFirstWrite, ClearFlagTruncatesOnTheFirstRecordOnly) {
    TempFolder folder;
    const std::wstring file = folder.File(L"clear.trc");
    Touch(file, std::string("\xFF\xFEo\0l\0d\0\r\0\n\0", 12));
    auto trace = MakeTrace(file, [](CCVireoTrace::Settings& s) { s.clear = true; });
    trace->Trace(1, "C::M", "Internal", "", "one");
    const TraceFile first = ReadTraceFile(file);
    EXPECT_TRUE(first.bom);
    auto lines = Lines(file);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("\tone"), std::string::npos);
    trace->Trace(1, "C::M", "Internal", "", "two");
    lines = Lines(file);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[1].find("\ttwo"), std::string::npos);
}

TEST(TraceFirstWrite, TimeLimitSwitchesAnExistingFileAtTheFirstRecord) {
    TempFolder folder;
    const std::wstring file = folder.File(L"Trace.trc");
    Touch(file, std::string("\xFF\xFEo\0l\0d\0\r\0\n\0", 12));
    auto trace = MakeTrace(file, [](CCVireoTrace::Settings& s) {
        s.timeLimitMinutes = 5;
        s.keepHistory = true;
    });
    trace->Trace(1, "C::M", "Internal", "", "one");
    trace->Trace(1, "C::M", "Internal", "", "two");
    const auto old = Lines(folder.File(L"Trace_000.trc"));
    ASSERT_EQ(old.size(), 1u);
    EXPECT_EQ(old[0], "old");
    EXPECT_TRUE(ReadTraceFile(file).bom);
    EXPECT_EQ(Lines(file).size(), 2u);
    EXPECT_FALSE(Exists(folder.File(L"Trace_001.trc")));

    // A file this object creates itself starts the clock: no switch.
    const std::wstring fresh = folder.File(L"Fresh.trc");
    auto second = MakeTrace(fresh, [](CCVireoTrace::Settings& s) { s.timeLimitMinutes = 5; });
    second->Trace(1, "C::M", "Internal", "", "one");
    second->Trace(1, "C::M", "Internal", "", "two");
    EXPECT_EQ(Lines(fresh).size(), 2u);
    EXPECT_FALSE(Exists(folder.File(L"Fresh_000.trc")));
}

TEST(TraceFirstWrite, UnwritableFileLosesRecordsQuietly) {
    TempFolder folder;
    const std::wstring file = folder.File(L"missing\\folder\\x.trc");
    auto trace = MakeTrace(file, [](CCVireoTrace::Settings& s) { s.sizeLimit = 100; });
    for (int i = 0; i < 20; ++i)
        trace->Trace(1, "C::M", "Internal", "", "lost %d", i);
    EXPECT_FALSE(Exists(file));
    EXPECT_TRUE(trace->Enabled());
}
