// Trace records and files: the fields of a record, level words and filter,
// long details, byte widening, the writer's semaphore, first write, size and
// time limits with their history names, and error texts.
#include <atomic>
#include <functional>
#include <thread>

#include "TraceFileReader.h"
#include "common/trace/CCVireoTrace.h"

using namespace kit;
using Adjust = std::function<void(CCVireoTrace::Settings&)>;

// A trace object that reads no registry value and leaves the gg_ptrc slot
// alone, configured in code to write every level into `file`.
std::unique_ptr<CCVireoTrace> MakeTrace(const std::wstring& file, const Adjust& adjust) {
    auto trace = std::make_unique<CCVireoTrace>("%ModuleName%\\NoSuchVersion", 0x24, "CCVireoTrace_PID_",
                                                "Software\\Quarnex\\KorvixTraceTests\\NoSuchKey\\", nullptr);
    CCVireoTrace::Settings settings;
    settings.fileName = file.c_str();
    settings.level = 6;
    if (adjust) adjust(settings);
    trace->Apply(settings);
    return trace;
}

namespace {

Adjust Limits(DWORD bytes, DWORD minutes = 0, bool keepHistory = false) {
    return [=](CCVireoTrace::Settings& s) {
        s.sizeLimit = bytes;
        s.timeLimitMinutes = minutes;
        s.keepHistory = keepHistory;
    };
}

const std::string kOldFile("\xFF\xFEo\0l\0d\0\r\0\n\0", 12); // "old" and CR LF

void Touch(const std::wstring& path, const std::string& content = kOldFile) {
    std::ofstream(fs::path(path), std::ios::binary) << content;
}

// Writes records until `done` holds; returns how many were written.
int WriteUntil(CCVireoTrace& trace, const std::function<bool()>& done, int limit = 500) {
    for (int i = 0; i < limit; ++i) {
        if (done()) return i;
        trace.Trace(3, "Writer::Run", "Internal", "", "record %04d", i);
    }
    return limit;
}

std::vector<std::string> Tails(const fs::path& file) {
    std::vector<std::string> tails;
    for (const std::string& line : Lines(file))
        tails.push_back(Tail(line));
    return tails;
}

} // namespace

TEST(TraceRecord, FieldsInOrderAfterByteOrderMark) {
    TempFolder folder;
    const std::wstring file = folder.File(L"layout.trc");
    MakeTrace(file, {})->Trace(5, "CCAssembly::CriticalEnter", "Enter",
                               "Method CriticalEnter has been called", "");
    const TraceFile content = ReadTraceFile(file);
    ASSERT_TRUE(content.bom);
    ASSERT_EQ(content.lines.size(), 1u);
    EXPECT_EQ(content.text.substr(content.text.size() - 2), "\r\n");
    EXPECT_EQ(Tail(content.lines[0]),
              "InfoCC\tCCAssembly\tCriticalEnter\tEnter\tMethod CriticalEnter has been called\t");
    SYSTEMTIME now;
    GetLocalTime(&now);
    EXPECT_EQ(content.lines[0].substr(6, 4), std::to_string(now.wYear)); // dd.mm.yyyy hh:mm:ss.mmm
    EXPECT_EQ(
        content.lines[0].find("\t" + Id4(GetCurrentProcessId()) + "\t" + Id4(GetCurrentThreadId()) + "\t"),
        23u);
}

TEST(TraceRecord, LevelWordsFilterModuleColumnAndScope) {
    TempFolder folder;
    auto every = MakeTrace(folder.File(L"all.trc"), {});
    auto three = MakeTrace(folder.File(L"three.trc"), [](CCVireoTrace::Settings& s) { s.level = 3; });
    for (unsigned level = 0; level <= 7; ++level) {
        every->Trace(level, "C::M", "Internal", "", "%u", level);
        three->Trace(level, "C::M", "Internal", "", "%u", level);
    }
    EXPECT_EQ(Tails(folder.File(L"all.trc")),
              (std::vector<std::string>{"C\tM\tInternal\t\t0", "Error\tC\tM\tInternal\t\t1",
                                        "Warning\tC\tM\tInternal\t\t2", "Info\tC\tM\tInternal\t\t3",
                                        "Verbose\tC\tM\tInternal\t\t4", "InfoCC\tC\tM\tInternal\t\t5",
                                        "VerboseCC\tC\tM\tInternal\t\t6"}));
    // A level outside 1..6 passes the filter like a number and has no level column.
    EXPECT_EQ(Tails(folder.File(L"three.trc")).size(), 4u);
    EXPECT_FALSE(three->Wanted(4));
    auto wide = MakeTrace(folder.File(L"high.trc"), [](CCVireoTrace::Settings& s) {
        s.level = 100;
        s.moduleColumn = true; // between level and class
    });
    EXPECT_STREQ(wide->ModuleName(), L"test_trace.exe");
    wide->Trace(8, "C::M", "Internal", "t", "");
    wide->Trace(0xFFFFFFFFu, "C::M", "Internal", "t", "");
    wide->Trace(3, "CSmBiosImpl::Initialize", "Leave", "", "hRes: 0x%X", 0x80004005u);
    EXPECT_EQ(Tails(folder.File(L"high.trc")),
              (std::vector<std::string>{
                  "test_trace.exe\tC\tM\tInternal\tt\t",
                  "Info\ttest_trace.exe\tCSmBiosImpl\tInitialize\tLeave\t\thRes: 0x80004005"}));
    // The scope splits at the first "::"; a class name is cut to 259 characters.
    auto scope = MakeTrace(folder.File(L"scope.trc"), {});
    scope->Trace(1, "DllMain", "Internal", "", "");
    scope->Trace(1, "Outer::Inner::Method", "Internal", "", "");
    scope->Trace(1, nullptr, nullptr, nullptr, nullptr);
    scope->Trace(1, (std::string(300, 'K') + "::M").c_str(), "Internal", "", "");
    EXPECT_EQ(Tails(folder.File(L"scope.trc")),
              (std::vector<std::string>{
                  "Error\t<global>\tDllMain\tInternal\t\t", "Error\tOuter\tInner::Method\tInternal\t\t",
                  "Error\t<global>\t\t\t\t", "Error\t" + std::string(259, 'K') + "\tM\tInternal\t\t"}));
}

// Long texts are written whole. The end marker needs two free bytes after the
// details: details that fill the 4096-byte buffer but for one byte drop the
// record, and a bare message (no time stamp, no line end) is written instead.
TEST(TraceRecord, LongTextsAndTheEndMarkerEdge) {
    TempFolder folder;
    const std::wstring file = folder.File(L"long.trc");
    auto trace = MakeTrace(file, {});
    trace->Trace(2, "C::M", "Internal", "", "");
    const size_t header = Lines(file).at(0).size();
    const std::string fits(4094 - header, 'f'), thrice(3 * 4096 + 500, 'b'), text(9000, 't');
    trace->Trace(2, "C::M", "Internal", "", "%s", fits.c_str());
    trace->Trace(2, "C::M", "Internal", "", "%s", std::string(4095 - header, 'x').c_str()); // one byte short
    trace->Trace(2, "C::M", "Internal", "", "after");
    trace->Trace(2, "C::M", "Internal", "", "<%s>", thrice.c_str());
    trace->Trace(2, "C::M", "Internal", text.c_str(), "%d", 7);
    const std::string w = "Warning\tC\tM\tInternal\t", bare = "No space for end marker left in buffer";
    const auto lines = Lines(file);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(Tail(lines[1]), w + "\t" + fits);
    ASSERT_EQ(lines[2].substr(0, bare.size()), bare);
    EXPECT_EQ(Tail(lines[2].substr(bare.size())), w + "\tafter");
    EXPECT_EQ(Tail(lines[3]), w + "\t<" + thrice + ">");
    EXPECT_EQ(Tail(lines[4]), w + text + "\t7");
}

// Bytes are widened one by one (0x80-0xFF become U+0080-U+00FF), details
// follow printf, and every LF becomes CR LF.
TEST(TraceRecord, WidenedBytesPrintfDetailsAndLineFeeds) {
    TempFolder folder;
    const std::wstring file = folder.File(L"bytes.trc");
    MakeTrace(file, {})->Trace(1, "C::M", "Internal", "caf\xE9", "\x80|\xFF|a\nb|%S|%I64X|%08X|%%",
                               L"\u00E9t\u00E9", 0x123456789ABCDEF0ULL, 0xBEEFu);
    const std::u16string units = ReadTraceFile(file).units;
    const std::u16string tail =
        u"\tcaf\u00E9\t\u0080|\u00FF|a\r\nb|\u00E9t\u00E9|123456789ABCDEF0|0000BEEF|%\r\n";
    ASSERT_GE(units.size(), tail.size());
    EXPECT_EQ(units.substr(units.size() - tail.size()), tail);
}

// Below the level (or disabled) nothing is formatted (a bad argument would
// crash), no file is made and no semaphore taken.
TEST(TraceRecord, FilteredCallsDoNoWork) {
    TempFolder folder;
    const std::wstring file = folder.File(L"off.trc");
    auto off = MakeTrace(file, [](CCVireoTrace::Settings& s) { s.enabled = false; });
    auto low = MakeTrace(file, [](CCVireoTrace::Settings& s) { s.level = 2; });
    off->Trace(1, "C::M", "Internal", "", "%s", reinterpret_cast<const char*>(1));
    low->Trace(3, "C::M", "Internal", "", "%s", reinterpret_cast<const char*>(1));
    EXPECT_FALSE(fs::exists(file));
    EXPECT_TRUE(off->SemaphoreHandle() == nullptr && low->SemaphoreHandle() == nullptr);
}

// The semaphore is named after the process and the file name (without
// <>:"/\| characters); it has count 1, so a writer waits while it is held.
TEST(TraceRecord, SemaphoreNamedAfterProcessAndFileIsHeldPerRecord) {
    TempFolder folder;
    const std::wstring file = folder.File(L"sem.trc");
    auto trace = MakeTrace(file, {});
    trace->Trace(1, "C::M", "Internal", "", "first");
    char pid[16];
    snprintf(pid, sizeof pid, "%8.8lx_", GetCurrentProcessId());
    std::string name = std::string("CCVireoTrace_PID_") + pid;
    for (wchar_t c : file)
        if (std::wstring(L"<>:\"/\\|").find(c) == std::wstring::npos) name += static_cast<char>(c);
    UniqueHandle semaphore(OpenSemaphoreA(SEMAPHORE_ALL_ACCESS, FALSE, name.c_str()));
    ASSERT_TRUE(semaphore.Valid()) << name;
    ASSERT_EQ(WaitForSingleObject(semaphore.Get(), 5000), WAIT_OBJECT_0);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        trace->Trace(1, "C::M", "Internal", "", "second");
        done = true;
    });
    Sleep(200);
    EXPECT_FALSE(done.load());
    ReleaseSemaphore(semaphore.Get(), 1, nullptr);
    writer.join();
    EXPECT_EQ(Lines(file).size(), 2u);
}

// An existing file is appended to; with the clear flag it is truncated at the
// first record only; with a time limit it is switched at the first record
// (a file the object creates starts the clock); an unwritable file loses its
// records quietly.
TEST(TraceFirstWrite, AppendClearTimeLimitAndUnwritable) {
    TempFolder folder;
    const std::pair<const wchar_t*, Adjust> cases[] = {
        {L"append.trc", {}},
        {L"clear.trc", [](CCVireoTrace::Settings& s) { s.clear = true; }},
        {L"Timed.trc", Limits(0, 5, true)},
        {L"Fresh.trc", Limits(0, 5)},
    };
    for (const auto& [name, adjust] : cases) {
        if (name[0] != L'F') Touch(folder.File(name));
        auto trace = MakeTrace(folder.File(name), adjust);
        trace->Trace(1, "C::M", "Internal", "", "one");
        EXPECT_FALSE(trace->FirstWritePending());
        trace->Trace(1, "C::M", "Internal", "", "two");
        EXPECT_TRUE(ReadTraceFile(folder.File(name)).bom);
        const auto tails = Tails(folder.File(name));
        ASSERT_EQ(tails.size(), name[0] == L'a' ? 3u : 2u) << fs::path(name).string();
        EXPECT_EQ(tails.back(), "Error\tC\tM\tInternal\t\ttwo");
    }
    EXPECT_EQ(Lines(folder.File(L"Timed_000.trc")), std::vector<std::string>{"old"});
    EXPECT_FALSE(fs::exists(folder.File(L"Timed_001.trc")) || fs::exists(folder.File(L"Fresh_000.trc")));

    const std::wstring lost = folder.File(L"missing\\folder\\x.trc");
    auto unwritable = MakeTrace(lost, Limits(100));
    for (int i = 0; i < 20; ++i)
        unwritable->Trace(1, "C::M", "Internal", "", "lost %d", i);
    EXPECT_FALSE(fs::exists(lost));
    EXPECT_TRUE(unwritable->Enabled());
}

TEST(TraceFileSwitch, SizeLimitMovesTheFileToHistoryAndStartsANewOne) {
    TempFolder folder;
    const std::wstring file = folder.File(L"Trace.trc"), history = folder.File(L"Trace_000.trc");
    Touch(history, "stale");
    auto trace = MakeTrace(file, Limits(1000));
    const int written = WriteUntil(*trace, [&] { return ReadTraceFile(history).bom; });
    const TraceFile old = ReadTraceFile(history);
    ASSERT_TRUE(old.bom);
    // Switched by the first record after the count (2 for the BOM, 2 per byte,
    // the inserted CRs not counted) passed 1000.
    const size_t counted = 2 + 2 * (old.units.size() - old.lines.size());
    EXPECT_GT(counted, 1000u);
    EXPECT_LE(counted - 2 * (old.lines.back().size() + 1), 1000u);
    const auto fresh = Lines(file);
    ASSERT_EQ(fresh.size(), 1u);
    EXPECT_EQ(Tail(fresh[0]), "Info\tWriter\tRun\tInternal\t\trecord " + Id4(written - 1));
    EXPECT_EQ(trace->BytesWritten(), 2 + 2 * (fresh[0].size() + 1));
    EXPECT_EQ(old.lines.size() + 1, static_cast<size_t>(written));
    // Without history the next switch overwrites number 000 again.
    WriteUntil(*trace, [&] { return Lines(history) != old.lines; });
    EXPECT_NE(Lines(history), old.lines);
    EXPECT_FALSE(fs::exists(folder.File(L"Trace_001.trc")));
}

TEST(TraceFileSwitch, KeepHistoryTakesTheNextFreeNumberThenAaa) {
    TempFolder folder;
    for (int i = 0; i < 999; ++i) {
        wchar_t name[32];
        swprintf(name, 32, L"Trace_%03d.trc", i);
        Touch(folder.File(name), "");
    }
    auto trace = MakeTrace(folder.File(L"Trace.trc"), Limits(300, 0, true));
    const std::wstring last = folder.File(L"Trace_999.trc"), aaa = folder.File(L"Trace_aaa.trc");
    WriteUntil(*trace, [&] { return fs::exists(last); });
    EXPECT_TRUE(ReadTraceFile(last).bom);
    // With every number taken the history goes to "aaa", and each switch replaces it.
    WriteUntil(*trace, [&] { return fs::exists(aaa); });
    const auto first = Lines(aaa);
    ASSERT_FALSE(first.empty());
    EXPECT_LT(WriteUntil(*trace, [&] { return Lines(aaa) != first; }), 500);
    EXPECT_EQ(fs::file_size(folder.File(L"Trace_000.trc")), 0u);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.Path()), fs::directory_iterator()), 1002);
}

TEST(TraceFileSwitch, HistoryNamesKeepTheExtension) {
    TempFolder folder;
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"x.TRACE.TXT", L"x_000.trace.txt"}, // ".trace.txt" in any case, written in lower case
        {L"a.b.log", L"a.b_000.log"},         // else from the last dot
        {L"NoExtension", L"NoExtension_000"},
    };
    for (const auto& [name, history] : cases) {
        auto trace = MakeTrace(folder.File(name), Limits(200));
        const std::wstring expected = history;
        auto has = [&] {
            for (const auto& entry : fs::directory_iterator(folder.Path()))
                if (entry.path().filename().wstring() == expected) return true;
            return false;
        };
        WriteUntil(*trace, has, 50);
        EXPECT_TRUE(has()) << fs::path(expected).string();
    }
}

// A dot in a folder name starts the "extension" too; the history folder does
// not exist, so the move fails: the record that triggered the switch is
// written, then the fixed warning and error records, and the file goes on.
TEST(TraceFileSwitch, FailedMoveWritesFixedRecordsAndKeepsTheFile) {
    TempFolder folder;
    fs::create_directory(folder.Path() / L"logs.d");
    const std::wstring file = folder.File(L"logs.d\\Trace"), history = folder.File(L"logs_000.d\\Trace");
    const std::wstring scratch = folder.File(L"scratch.trc");
    WriteUntil(
        *MakeTrace(scratch, {}), [] { return false; }, 1);
    const DWORD record = static_cast<DWORD>(2 * (Lines(scratch).at(0).size() + 1));
    auto trace = MakeTrace(file, Limits(2 + 3 * record - 1)); // three records fit, the fourth passes
    WriteUntil(
        *trace, [] { return false; }, 4);
    const auto lines = Lines(file);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(Tail(lines[3]), "Info\tWriter\tRun\tInternal\t\trecord 0003");
    std::smatch m;
    const std::regex warning(R"(31\.12\.2030 23:59:59\.999\t9999\t9999\twarning\tCCVireoTrace\tFileSwitch\t)"
                             R"(Internal\tMoveFileExW returned last error 0x([0-9a-f]{8}), (.*))");
    ASSERT_TRUE(std::regex_match(lines[4], m, warning)) << lines[4];
    EXPECT_NE(std::stoul(m[1].str(), nullptr, 16), 0u);
    EXPECT_EQ(m[2].str(), CCVireoTrace::GetErrorText(std::stoul(m[1].str(), nullptr, 16)));
    EXPECT_EQ(lines[5], "31.12.2030 23:59:59.999\t9999\t9999\terror\tCCVireoTrace\tFileSwitch\tException\t"
                        "MoveFileExW could not create file '" +
                            fs::path(history).string() + "'");
    // Every later record tries again; once the folder exists the move works.
    fs::create_directory(folder.Path() / L"logs_000.d");
    trace->Trace(3, "Writer::Run", "Internal", "", "after");
    EXPECT_EQ(Lines(history).size(), 6u);
    EXPECT_EQ(Lines(file).size(), 1u);
}

// Error texts: the system table (facility 8 by its low 16 bits), the WMI
// table, and for message-queuing codes (facility 14) the stand-ins for
// MQUTIL.DLL, then the system table, NETMSG.DLL and wmiutils.dll beside this
// executable; texts are cut to 4095 characters.
TEST(TraceErrorText, SystemWmiAndMessageLibraryTexts) {
    char* system = nullptr;
    FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        5, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&system), 0, nullptr);
    std::string five(system ? system : "");
    LocalFree(system);
    five.erase(five.find_last_not_of("\r\n") + 1);
    ASSERT_FALSE(five.empty());
    const std::pair<DWORD, std::string> rows[] = {
        {5, five},
        {0x80080005u, five},
        {0x80041002u, "The object could not be found."},
        {0x80041049u,
         "An attempt was made to change a key when instances or subclasses are already using the key."},
        // Two rows carry this code; the first (the rejected delete) wins.
        {0x8004107Au, "Windows Server 2003 and Windows XP:  WMI cannot do the delete operation because the "
                      "provider does not allow it."},
        {0x80043002u,
         "Windows Server 2003 and Windows XP:  The user deleted an override default value for the "
         "current class. The default value for this property in the parent class has been "
         "reactivated. An automation-specific error."},
        {0x80041000u, "unknown"}, // codes between the table's ranges, and codes no table knows
        {0x8004104Au, "unknown"},
        {0x80043003u, "unknown"},
        {0x12345678u, "unknown"},
        {0xC00E0001u, "Queue text from the first library."},
        {0xC00E0003u, "Queue text from the second library."},
        {0xC00E0004u, "Queue text from the third library."},
        {0xC00E0005u, "First of two."},
        {0xC00E0009u, "unknown"},
        {0xC00E0002u, std::string(4095, 'L')},
    };
    for (const auto& [code, text] : rows)
        EXPECT_EQ(CCVireoTrace::GetErrorText(code), text) << std::hex << code;
}
