// One record: its fields, level words and filter, module column, scope split,
// long details and headers, printf conversions, byte widening, and the
// semaphore that serialises writers.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <regex>
#include <thread>

#include "TraceTestSupport.h"

using namespace tracetest;

namespace {

// The whole line must be: time stamp, process id, thread id, then `rest`.
// (The stamp is matched apart: std::regex recurses per character.)
void ExpectRecord(const std::string& line, const std::string& rest) {
    size_t tabs = 0;
    size_t at = 0;
    while (tabs < 3 && (at = line.find('\t', at)) != std::string::npos) {
        ++tabs;
        if (tabs < 3) ++at;
    }
    if (tabs < 3) at = line.size();
    EXPECT_TRUE(std::regex_match(line.substr(0, at), std::regex(kStampPattern))) << line.substr(0, 200);
    EXPECT_TRUE(line.compare(at, std::string::npos, rest) == 0) << line.substr(0, 300);
}

} // namespace

TEST(TraceRecord, FieldsInOrderAfterByteOrderMark) {
    TempFolder folder;
    const std::wstring file = folder.File(L"layout.trc");
    auto trace = MakeTrace(file);
    trace->Trace(5, "CCAssembly::CriticalEnter", "Enter", "Method CriticalEnter has been called", "");

    const TraceFile content = ReadTraceFile(file);
    ASSERT_TRUE(content.exists);
    EXPECT_TRUE(content.bom);
    const std::string text = Narrow(content.units);
    ASSERT_GE(text.size(), 2u);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");

    const auto lines = Lines(file);
    ASSERT_EQ(lines.size(), 1u);
    std::smatch m;
    const std::regex layout(
        R"((\d{2})\.(\d{2})\.(\d{4}) (\d{2}):(\d{2}):(\d{2})\.(\d{3})\t(\d{4,})\t(\d{4,})\t(.*))");
    ASSERT_TRUE(std::regex_match(lines[0], m, layout)) << lines[0];
    SYSTEMTIME now;
    GetLocalTime(&now);
    EXPECT_EQ(std::stoi(m[3]), now.wYear);
    EXPECT_GE(std::stoi(m[1]), 1);
    EXPECT_LE(std::stoi(m[1]), 31);
    EXPECT_GE(std::stoi(m[2]), 1);
    EXPECT_LE(std::stoi(m[2]), 12);
    EXPECT_LE(std::stoi(m[4]), 23);
    EXPECT_EQ(m[8].str(), Pid4());
    EXPECT_EQ(m[9].str(), Tid4());
    EXPECT_EQ(m[10].str(),
              "InfoCC\tCCAssembly\tCriticalEnter\tEnter\tMethod CriticalEnter has been called\t");
}

TEST(TraceRecord, LevelWordsAndFilter) {
    TempFolder folder;
    const std::wstring all = folder.File(L"all.trc");
    auto every = MakeTrace(all);
    for (unsigned level = 1; level <= 6; ++level)
        every->Trace(level, "C::M", "Internal", "", "%u", level);
    const auto lines = Lines(all);
    const char* words[] = {"Error", "Warning", "Info", "Verbose", "InfoCC", "VerboseCC"};
    ASSERT_EQ(lines.size(), 6u);
    for (unsigned i = 0; i < 6; ++i)
        ExpectRecord(lines[i], std::string("\t") + words[i] + "\tC\tM\tInternal\t\t" + std::to_string(i + 1));

    // Level 3 writes 1 to 3; a level outside 1..6 passes the filter like a
    // number and has no level column.
    const std::wstring three = folder.File(L"three.trc");
    auto filtered = MakeTrace(three, [](CCVireoTrace::Settings& s) { s.level = 3; });
    for (unsigned level = 0; level <= 7; ++level)
        filtered->Trace(level, "C::M", "Internal", "", "%u", level);
    const auto kept = Lines(three);
    ASSERT_EQ(kept.size(), 4u);
    ExpectRecord(kept[0], "\tC\tM\tInternal\t\t0");
    ExpectRecord(kept[1], "\tError\tC\tM\tInternal\t\t1");
    ExpectRecord(kept[2], "\tWarning\tC\tM\tInternal\t\t2");
    ExpectRecord(kept[3], "\tInfo\tC\tM\tInternal\t\t3");
    EXPECT_TRUE(filtered->Wanted(3));
    EXPECT_FALSE(filtered->Wanted(4));

    const std::wstring high = folder.File(L"high.trc");
    auto wide = MakeTrace(high, [](CCVireoTrace::Settings& s) { s.level = 100; });
    wide->Trace(7, "C::M", "Internal", "t", "");
    wide->Trace(0xFFFFFFFFu, "C::M", "Internal", "t", "");
    const auto outside = Lines(high);
    ASSERT_EQ(outside.size(), 1u);
    ExpectRecord(outside[0], "\tC\tM\tInternal\tt\t");
}

TEST(TraceRecord, ModuleColumnSitsBetweenLevelAndClass) {
    TempFolder folder;
    const std::wstring file = folder.File(L"module.trc");
    auto trace = MakeTrace(file, [](CCVireoTrace::Settings& s) {
        s.moduleColumn = true;
        s.level = 10;
    });
    EXPECT_STREQ(trace->ModuleName(), L"test_trace.exe");
    trace->Trace(3, "CSmBiosImpl::Initialize", "Enter", "Method Initialize has been entered.", "");
    trace->Trace(8, "CSmBiosImpl::Initialize", "Leave", "", "hRes: 0x%X", 0x80004005u);
    const auto lines = Lines(file);
    ASSERT_EQ(lines.size(), 2u);
    ExpectRecord(lines[0],
                 "\tInfo\ttest_trace.exe\tCSmBiosImpl\tInitialize\tEnter\tMethod Initialize has been "
                 "entered.\t");
    ExpectRecord(lines[1], "\ttest_trace.exe\tCSmBiosImpl\tInitialize\tLeave\t\thRes: 0x80004005");
}

TEST(TraceRecord, ScopeSplitsAtFirstDoubleColon) {
    TempFolder folder;
    const std::wstring file = folder.File(L"scope.trc");
    auto trace = MakeTrace(file);
    trace->Trace(1, "DllMain", "Internal", "", "");
    trace->Trace(1, "Outer::Inner::Method", "Internal", "", "");
    trace->Trace(1, "", "Internal", "", "");
    trace->Trace(1, nullptr, nullptr, nullptr, nullptr);
    const std::string longClass(300, 'K');
    trace->Trace(1, (longClass + "::M").c_str(), "Internal", "", "");
    const auto lines = Lines(file);
    ASSERT_EQ(lines.size(), 5u);
    ExpectRecord(lines[0], "\tError\t<global>\tDllMain\tInternal\t\t");
    ExpectRecord(lines[1], "\tError\tOuter\tInner::Method\tInternal\t\t");
    ExpectRecord(lines[2], "\tError\t<global>\t\tInternal\t\t");
    ExpectRecord(lines[3], "\tError\t<global>\t\t\t\t");
    ExpectRecord(lines[4], "\tError\t" + std::string(259, 'K') + "\tM\tInternal\t\t");
}

TEST(TraceRecord, LongDetailsAndHeadersAreWrittenWhole) {
    TempFolder folder;
    const std::wstring file = folder.File(L"long.trc");
    auto trace = MakeTrace(file);
    const std::string once(5000, 'a');
    const std::string thrice(3 * 4096 + 500, 'b');
    const std::string text(9000, 't');
    trace->Trace(4, "C::M", "Internal", "", "%s", once.c_str());
    trace->Trace(4, "C::M", "Internal", "", "<%s>", thrice.c_str());
    trace->Trace(4, "C::M", "Internal", text.c_str(), "%d", 7);
    trace->Trace(4, "C::M", "Internal", "", "short");
    const auto lines = Lines(file);
    ASSERT_EQ(lines.size(), 4u);
    ExpectRecord(lines[0], "\tVerbose\tC\tM\tInternal\t\t" + once);
    ExpectRecord(lines[1], "\tVerbose\tC\tM\tInternal\t\t<" + thrice + ">");
    ExpectRecord(lines[2], "\tVerbose\tC\tM\tInternal\t" + text + "\t7");
    ExpectRecord(lines[3], "\tVerbose\tC\tM\tInternal\t\tshort");
}

// The end marker needs two free bytes after the details. Details that fill the
// 4096-byte buffer but for one byte leave no room: the record is dropped and a
// bare message (no time stamp, no line end) is written instead.
TEST(TraceRecord, NoRoomForEndMarkerWritesBareMessage) {
    TempFolder folder;
    const std::wstring file = folder.File(L"edge.trc");
    auto trace = MakeTrace(file);
    trace->Trace(2, "C::M", "Internal", "", "");
    const size_t header = Lines(file).at(0).size();
    ASSERT_LT(header, 200u);

    trace->Trace(2, "C::M", "Internal", "", "%s", std::string(4094 - header, 'f').c_str()); // fits exactly
    trace->Trace(2, "C::M", "Internal", "", "%s", std::string(4095 - header, 'x').c_str()); // one byte short
    trace->Trace(2, "C::M", "Internal", "", "after");
    trace->Trace(2, "C::M", "Internal", "", "%s", std::string(4096 - header, 'g').c_str()); // grows

    const auto lines = Lines(file);
    ASSERT_EQ(lines.size(), 4u);
    ExpectRecord(lines[1], "\tWarning\tC\tM\tInternal\t\t" + std::string(4094 - header, 'f'));
    const std::string bare = "No space for end marker left in buffer";
    ASSERT_EQ(lines[2].compare(0, bare.size(), bare), 0) << lines[2].substr(0, 80);
    ExpectRecord(lines[2].substr(bare.size()), "\tWarning\tC\tM\tInternal\t\tafter");
    ExpectRecord(lines[3], "\tWarning\tC\tM\tInternal\t\t" + std::string(4096 - header, 'g'));
    EXPECT_TRUE(trace->Enabled());
}

// The conversions the system's callers use, with this build's runtime.
TEST(TraceRecord, DetailsFollowPrintfRules) {
    TempFolder folder;
    const std::wstring file = folder.File(L"format.trc");
    auto trace = MakeTrace(file);
    void* pointer = reinterpret_cast<void*>(static_cast<uintptr_t>(0x1234ABCD));
    trace->Trace(6, "C::M", "Internal", "", "%I64X|%S|%p|%08X|%d|%s|%u|%zu|%llu|%%", 0x123456789ABCDEF0ULL,
                 L"wide text", pointer, 0xBEEFu, -42, "narrow", 4000000000u, static_cast<size_t>(17),
                 18446744073709551615ULL);
    trace->Trace(6, "C::M", "Internal", "", "hr: 0x%08X, '%s'", 0x80041002u,
                 CCVireoTrace::GetErrorText(0x80041002u));
    char expectedPointer[32];
    std::snprintf(expectedPointer, sizeof expectedPointer, "%0*llX", static_cast<int>(2 * sizeof(void*)),
                  static_cast<unsigned long long>(0x1234ABCD));
    const auto lines = Lines(file);
    ASSERT_EQ(lines.size(), 2u);
    // MinGW's formatter writes the pointer's hex digits in lower case.
    std::string pointerText = expectedPointer;
    for (char& ch : pointerText)
        ch = static_cast<char>(tolower(static_cast<unsigned char>(ch)));
    ExpectRecord(lines[0], std::string("\tVerboseCC\tC\tM\tInternal\t\t123456789ABCDEF0|wide text|") +
                               pointerText + "|0000BEEF|-42|narrow|4000000000|17|18446744073709551615|%");
    ExpectRecord(lines[1], "\tVerboseCC\tC\tM\tInternal\t\thr: 0x80041002, 'The object could not be found.'");
}

// Bytes are widened one by one (0x80-0xFF become U+0080-U+00FF); every LF of
// the record, also inside the details, is written as CR LF.
TEST(TraceRecord, BytesWidenOneByOneAndLineFeedsGetCarriageReturns) {
    TempFolder folder;
    const std::wstring file = folder.File(L"bytes.trc");
    auto trace = MakeTrace(file);
    trace->Trace(1, "C::M", "Internal", "caf\xE9", "\x80|\xFF|a\nb|%S", L"\u00E9t\u00E9");
    const std::u16string units = ReadTraceFile(file).units;
    const std::u16string tail = u"\tcaf\u00E9\t\u0080|\u00FF|a\r\nb|\u00E9t\u00E9\r\n";
    ASSERT_GE(units.size(), tail.size());
    EXPECT_EQ(units.substr(units.size() - tail.size()), tail);
    size_t lf = 0;
    for (size_t i = 0; i < units.size(); ++i) {
        if (units[i] != u'\n') continue;
        ++lf;
        EXPECT_TRUE(i > 0 && units[i - 1] == u'\r') << i;
    }
    EXPECT_EQ(lf, 2u);
}

// Below the level (or disabled) a call costs the level check only: nothing is
// formatted (a bad argument would crash), no file, no semaphore.
TEST(TraceRecord, FilteredCallsDoNoWork) {
    TempFolder folder;
    const std::wstring file = folder.File(L"off.trc");
    auto off = MakeTrace(file, [](CCVireoTrace::Settings& s) { s.enabled = false; });
    auto low = MakeTrace(file, [](CCVireoTrace::Settings& s) { s.level = 2; });
    const char* bad = reinterpret_cast<const char*>(static_cast<uintptr_t>(1));
    off->Trace(1, "C::M", "Internal", "", "%s", bad);
    low->Trace(3, "C::M", "Internal", "", "%s", bad);
    EXPECT_FALSE(off->Wanted(1));
    EXPECT_FALSE(fs::exists(file));
    EXPECT_EQ(off->SemaphoreHandle(), nullptr);
    EXPECT_EQ(low->SemaphoreHandle(), nullptr);
}

TEST(TraceRecord, ExistingFileIsAppendedToWithoutClear) {
    TempFolder folder;
    const std::wstring file = folder.File(L"append.trc");
    Touch(file, std::string("\xFF\xFEo\0l\0d\0\r\0\n\0", 12));
    auto trace = MakeTrace(file);
    trace->Trace(1, "C::M", "Internal", "", "new");
    const auto lines = Lines(file);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "old");
    ExpectRecord(lines[1], "\tError\tC\tM\tInternal\t\tnew");
    EXPECT_FALSE(trace->FirstWritePending());
}

// The semaphore is named after the process and the file name (without
// <>:"/\| characters); it has count 1, so a writer waits while it is held.
TEST(TraceSemaphore, NamedAfterProcessAndFileAndHeldPerRecord) {
    TempFolder folder;
    const std::wstring file = folder.File(L"sem.trc");
    auto trace = MakeTrace(file);
    trace->Trace(1, "C::M", "Internal", "", "first");

    char name[MAX_PATH];
    int n = std::snprintf(name, sizeof name, "CCVireoTrace_PID_%8.8lx_", GetCurrentProcessId());
    for (wchar_t c : file) {
        if (std::wstring(L"<>:\"/\\|").find(c) == std::wstring::npos && n < MAX_PATH - 1)
            name[n++] = static_cast<char>(c);
    }
    name[n] = '\0';
    HANDLE semaphore = OpenSemaphoreA(SEMAPHORE_ALL_ACCESS, FALSE, name);
    ASSERT_NE(semaphore, nullptr) << name;

    ASSERT_EQ(WaitForSingleObject(semaphore, 5000), WAIT_OBJECT_0);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        trace->Trace(1, "C::M", "Internal", "", "second");
        done = true;
    });
    Sleep(200);
    EXPECT_FALSE(done.load());
    EXPECT_EQ(Lines(file).size(), 1u);
    ReleaseSemaphore(semaphore, 1, nullptr);
    writer.join();
    EXPECT_EQ(Lines(file).size(), 2u);
    CloseHandle(semaphore);
}

TEST(TraceModuleHandle, IsTheModuleHoldingTheCodeAndTracesItself) {
    TempFolder folder;
    const std::wstring file = folder.File(L"handle.trc");
    auto trace = MakeTrace(file);
    const HMODULE module = trace->GetModuleHandleRaw();
    EXPECT_EQ(module, GetModuleHandleW(nullptr));
    char details[64];
    std::snprintf(details, sizeof details, "hReturn: 0x%08X",
                  static_cast<unsigned>(reinterpret_cast<uintptr_t>(module)));
    const auto lines = Lines(file);
    ASSERT_EQ(lines.size(), 2u);
    ExpectRecord(lines[0], "\tInfoCC\tCCVireoTrace\tGetModuleHandleRaw\tEnter\t\t");
    ExpectRecord(lines[1], std::string("\tInfoCC\tCCVireoTrace\tGetModuleHandleRaw\tLeave\t\t") + details);
}
