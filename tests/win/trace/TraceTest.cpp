// The trace library: records, the level filter and long details, the first write, file
// switching and history names, error texts, and the configuration from the registry.
#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <sstream>

#include "Registry.h"
#include "TraceFile.h"

namespace fs = std::filesystem;

namespace {

const std::string kBaseKey = "Software\\Quarnex\\Common\\Tracing\\";

std::string ExeName() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return fs::path(path).filename().string();
}

CCVireoTrace::Settings Limits(DWORD bytes, DWORD minutes = 0, bool keepHistory = false, bool clear = false) {
    CCVireoTrace::Settings s;
    s.sizeLimit = bytes;
    s.timeLimitMinutes = minutes;
    s.keepHistory = keepHistory;
    s.clear = clear;
    return s;
}

// A trace object configured in code, by default for every level.
std::unique_ptr<CCVireoTrace> MakeTrace(const std::wstring& file, CCVireoTrace::Settings s = {}) {
    auto trace = std::make_unique<CCVireoTrace>("NoSuchKey", 0x24, "CCVireoTrace_PID_", kBaseKey.c_str());
    s.fileName = file.c_str();
    trace->Apply(s);
    return trace;
}

// A trace object configured from HKLM\<base>\<this exe>\<version>\<name>,
// with a stand-in for its module's gg_ptrc slot.
struct Configured {
    std::unique_ptr<CCVireoTrace*> slot = std::make_unique<CCVireoTrace*>();
    std::unique_ptr<CCVireoTrace> trace;
};
Configured FromRegistry(const std::string& name, DWORD flags = 0x24) {
    Configured c;
    c.trace = std::make_unique<CCVireoTrace>(("%ModuleName%\\%ModuleVersion%\\" + name).c_str(), flags,
                                             "CCVireoTrace_PID_", kBaseKey.c_str(), c.slot.get());
    return c;
}
std::string CaseKey(const std::string& name) {
    return kBaseKey + ExeName() + "\\3.05\\" + name; // this executable's version
}

std::string Summary(const CCVireoTrace& t) {
    return std::string(t.Enabled() ? "on" : "off") + " level " + std::to_string(t.Level()) + " size " +
           std::to_string(t.SizeLimit()) + " time " + std::to_string(t.TimeLimitMinutes()) + " delay " +
           std::to_string(t.DelaySeconds()) + (t.ModuleColumn() ? " column" : "") +
           (t.KeepHistory() ? " history" : "") + (t.ClearFlag() ? " clear" : "") + " " +
           fs::path(t.FileName()).string();
}

// Sets the values of `list`: "Name=7" a REG_DWORD, "Name:sz=text" a string
// (also expand), "Name:qword=7" the number as a REG_QWORD.
void SetValues(HklmKey& key, const std::string& list) {
    const std::map<std::string, DWORD> types = {
        {"", REG_DWORD}, {"sz", REG_SZ}, {"expand", REG_EXPAND_SZ}, {"qword", REG_QWORD}};
    std::istringstream in(list);
    for (std::string item; in >> item;) {
        const size_t colon = item.find(':'), equals = item.find('=');
        const std::string value = item.substr(equals + 1), name = item.substr(0, std::min(colon, equals)),
                          type = colon < equals ? item.substr(colon + 1, equals - colon - 1) : "";
        if (type == "sz" || type == "expand") {
            key.SetString(name.c_str(), value, types.at(type));
            continue;
        }
        const unsigned long long number = std::stoull(value);
        key.Set(name.c_str(), types.at(type), &number, type == "qword" ? 8 : 4);
    }
}

} // namespace

// Fields, level words and filter, with and without the module column; the
// scope splits at its first "::", a class is cut to 259 characters. Below the
// level or disabled, nothing is formatted (the bad argument would crash).
TEST(TraceFileRecord, FieldsLevelsAndScopes) {
    TempFolder folder;
    for (bool column : {false, true}) {
        const std::wstring file = folder.File(column ? L"column.trc" : L"plain.trc");
        CCVireoTrace::Settings settings;
        settings.level = 5;
        settings.moduleColumn = column;
        auto trace = MakeTrace(file, settings);
        for (unsigned level : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 0xFFFFFFFFu})
            trace->Trace(level, "Outer::Inner::Method", "Enter", "text", "%u", level);
        trace->Trace(1, "DllMain", "Internal", "", "");
        trace->Trace(1, (std::string(300, 'K') + "::M").c_str(), "Internal", "", "");
        const TraceFileContent c = ReadTraceFile(file, column);
        EXPECT_TRUE(c.bom && c.narrowUnits && c.bad.empty() && c.trailing.empty());
        ASSERT_EQ(c.records.size(), 8u); // levels 0 to 5 pass the filter
        for (unsigned level = 0; level <= 5; ++level) {
            const TraceFileRecord& r = c.records[level];
            EXPECT_EQ(r.pid + " " + r.tid, Id4(GetCurrentProcessId()) + " " + Id4(GetCurrentThreadId()));
            EXPECT_EQ(r.level, kTraceLevelWords[level]); // none for level 0
            EXPECT_EQ(r.module, column ? ExeName() : "");
            EXPECT_EQ(r.cls + "|" + r.method + "|" + r.category + "|" + r.text + "|" + r.details,
                      "Outer|Inner::Method|Enter|text|" + std::to_string(level));
        }
        EXPECT_TRUE(c.records[6].method == "DllMain" && !c.records[6].cls.empty());
        EXPECT_EQ(c.records[7].cls, std::string(259, 'K'));
    }
    const std::wstring file = folder.File(L"off.trc");
    CCVireoTrace::Settings off, low;
    off.enabled = false;
    low.level = 2;
    MakeTrace(file, off)->Trace(1, "C::M", "", "", "%s", 1);
    MakeTrace(file, low)->Trace(3, "C::M", "", "", "%s", 1);
    EXPECT_FALSE(fs::exists(file));
}

// Details of any length are written whole; bytes are widened one by one and
// every LF becomes CR LF. Details that leave no room for the end marker drop
// their record; a bare message without line end stands in its place.
TEST(TraceFileRecord, LongAndWidenedDetailsAndTheEndMarkerEdge) {
    TempFolder folder;
    const std::wstring file = folder.File(L"details.trc");
    auto trace = MakeTrace(file);
    trace->Trace(2, "C::M", "Internal", "", "");
    const size_t header = ReadTraceFile(file, false).lines.at(0).size();
    const std::string fits(4094 - header, 'f'), over(4095 - header, 'x'), huge(3 * 4096 + 500, 'h');
    for (const std::string* details : {&fits, &over, &huge})
        trace->Trace(2, "C::M", "Internal", "", "%s", details->c_str());
    trace->Trace(2, "C::M", "Internal", "", "\x80|\xFF|a\nb|%S|%I64X|%%", L"\u00E9t", 0x123456789ABCDEF0ULL);
    const TraceFileContent c = ReadTraceFile(file, false);
    ASSERT_EQ(c.lines.size(), 5u);
    EXPECT_EQ(c.records.at(1).details, fits);
    EXPECT_EQ(c.lines[2].find(std::string(10, 'x')), std::string::npos);
    EXPECT_FALSE(isdigit(static_cast<unsigned char>(c.lines[2][0]))) << "a bare message, not a record";
    EXPECT_EQ(c.lines[2].substr(c.lines[2].size() - huge.size() - 1), "\t" + huge);
    const std::u16string tail = u"\t\t\u0080|\u00FF|a\r\nb|\u00E9t|123456789ABCDEF0|%\r\n";
    ASSERT_GE(c.units.size(), tail.size());
    EXPECT_EQ(c.units.substr(c.units.size() - tail.size()), tail);
}

// A record buffer that cannot grow: the note that tracing stopped stands in the
// record's place, and tracing and its gate stay off until configured again.
static bool g_reallocFails = false;
extern "C" void* __real_realloc(void* p, size_t n);
extern "C" void* __wrap_realloc(void* p, size_t n) {
    return g_reallocFails ? nullptr : __real_realloc(p, n);
}

TEST(TraceFileRecord, ABufferThatCannotGrowStopsTracing) {
    TempFolder folder;
    const std::wstring file = folder.File(L"nomem.trc");
    std::atomic<unsigned> gate{0};
    CCVireoTrace trace("NoSuchKey", 0x24, "CCVireoTrace_PID_", kBaseKey.c_str(), nullptr, &gate);
    CCVireoTrace::Settings s;
    s.fileName = file.c_str();
    trace.Apply(s);
    trace.Trace(2, "C::M", "Internal", "before", "");
    EXPECT_GT(gate.load(), 2u);
    g_reallocFails = true;
    trace.Trace(2, "C::M", "Internal", "", "%s", std::string(3 * 4096, 'h').c_str());
    g_reallocFails = false;
    trace.Trace(2, "C::M", "Internal", "after", "");
    const TraceFileContent c = ReadTraceFile(file, false);
    ASSERT_EQ(c.records.size(), 1u);
    EXPECT_EQ(c.records[0].text, "before");
    EXPECT_TRUE(c.trailing.find("tracing was disabled") != std::string::npos) << c.trailing;
    EXPECT_TRUE(!trace.Enabled() && gate.load() == 0);
}

// The first record appends to an existing file, truncates it with the clear
// flag or, with a time limit, switches it first (a file the object creates
// itself starts the clock); a file that cannot be written loses its records.
TEST(TraceFile, FirstWrite) {
    // File, whether it exists, clear flag, time limit, lines it then has, history file.
    const std::tuple<const wchar_t*, bool, bool, DWORD, size_t, const wchar_t*> rows[] = {
        {L"append.trc", true, false, 0, 3, nullptr},
        {L"clear.trc", true, true, 0, 2, nullptr},
        {L"timed.trc", true, false, 5, 2, L"timed_000.trc"},
        {L"fresh.trc", false, false, 5, 2, nullptr},
        {L"missing\\lost.trc", false, false, 5, 0, nullptr}};
    for (const auto& [name, existing, clear, minutes, lines, history] : rows) {
        SCOPED_TRACE(name);
        TempFolder folder;
        if (existing) std::ofstream(folder.Path() / name, std::ios::binary).write("o\0l\0d\0\r\0\n\0", 10);
        auto trace = MakeTrace(folder.File(name), Limits(0, minutes, false, clear));
        for (const char* details : {"one", "two"})
            trace->Trace(1, "C::M", "Internal", "", details);
        const TraceFileContent c = ReadTraceFile(folder.File(name), false);
        ASSERT_EQ(c.lines.size(), lines);
        if (lines == 0) continue;
        EXPECT_EQ(c.bom, lines != 3); // the old file had none
        EXPECT_EQ(c.lines[0] == "old", lines == 3);
        EXPECT_EQ(c.records.back().details, "two");
        if (history) EXPECT_EQ(ReadTraceFile(folder.File(history), false).lines.at(0), "old");
    }
}

// The first record that finds the file past its size limit moves it to the
// history name and starts a new file with itself.
TEST(TraceFile, SizeLimitSwitchesToTheHistoryName) {
    // File, history files Trace_000.trc... that exist, keep-history flag, history name.
    const std::tuple<const wchar_t*, int, bool, const wchar_t*> rows[] = {
        {L"Trace.trc", 1, false, L"Trace_000.trc"}, // replaced without history
        {L"Trace.trc", 2, true, L"Trace_002.trc"},  // else the next free number
        {L"Trace.trc", 1000, true, L"Trace_aaa.trc"}, {L"x.TRACE.TXT", 0, false, L"x_000.trace.txt"},
        {L"a.b.log", 0, false, L"a.b_000.log"},       {L"NoExtension", 0, false, L"NoExtension_000"}};
    for (const auto& [name, taken, keep, history] : rows) {
        SCOPED_TRACE(history);
        TempFolder folder;
        for (int i = 0; i < taken; ++i) {
            wchar_t file[32];
            swprintf(file, 32, L"Trace_%03d.trc", i);
            std::ofstream(folder.Path() / file);
        }
        auto trace = MakeTrace(folder.File(name), Limits(1000, 0, keep));
        size_t written = 0;
        while (written < 100 && !ReadTraceFile(folder.File(history), false).bom)
            trace->Trace(3, "Writer::Run", "Internal", "", "record %04d", static_cast<int>(written++));
        const TraceFileContent old = ReadTraceFile(folder.File(history), false),
                               fresh = ReadTraceFile(folder.File(name), false);
        ASSERT_TRUE(old.bom && fresh.bom);
        // Counted: 2 for the byte-order mark, 2 a byte, the inserted CRs not.
        const size_t counted = 2 + 2 * (old.units.size() - old.lines.size());
        EXPECT_GT(counted, 1000u);
        EXPECT_LE(counted - 2 * (old.lines.back().size() + 1), 1000u);
        EXPECT_EQ(old.records.size() + 1, written);
        ASSERT_EQ(fresh.records.size(), 1u);
        EXPECT_EQ(fresh.records[0].details, "record " + Id4(static_cast<DWORD>(written - 1)));
        EXPECT_EQ(trace->BytesWritten(), 2 + 2 * (fresh.lines[0].size() + 1));
    }
}

// System texts (facility 8 by its low 16 bits) without their line break, the
// WMI table, and for message-queuing codes (facility 14) MQUTIL.DLL (then the
// system table, NETMSG.DLL and wmiutils.dll, which have none of these codes);
// texts are cut to 4095 characters.
TEST(TraceErrorText, SystemWmiAndMessageLibraryTexts) {
    const std::string five = CCVireoTrace::GetErrorText(5), unknown = CCVireoTrace::GetErrorText(0x12345678u);
    EXPECT_TRUE(five.size() > 5 && five != unknown && five.find_first_of("\r\n") == std::string::npos)
        << five;
    const std::pair<DWORD, std::string> rows[] = {
        {0x80080005u, five}, {0xC00E0001u, "Text of the library."}, {0xC00E0002u, std::string(4095, 'L')}};
    for (const auto& [code, text] : rows)
        EXPECT_EQ(CCVireoTrace::GetErrorText(code), text) << std::hex << code;
    // In the WMI table, unlike the codes before, between and after its ranges.
    EXPECT_NE(CCVireoTrace::GetErrorText(0x80041002u), unknown);
    for (DWORD code : {0xC00E0003u, 0x80041000u, 0x8004104Au, 0x80043003u})
        EXPECT_EQ(CCVireoTrace::GetErrorText(code), unknown) << std::hex << code;
}

// The values of the module's key: a DWORD counts as REG_DWORD only, a string
// as REG_SZ only; "TraceClear" only when present and tracing is on,
// "TraceGlobalEnable" and "TraceKeepHistory" whenever the key opens.
// "TraceFile": environment variables, then the first %PID% and %TID%; an
// expansion beyond the name buffer keeps the default. An enabled host without
// the module column is not joined (one with it is: see the module's tests).
TEST(TraceConfiguration, RegistryValuesTypesAndDefaults) {
    TempFolder folder;
    ScopedEnv dir(L"KORVIX_TRACE_DIR", folder.Path().wstring()), big(L"KORVIX_BIG", std::wstring(300, L'd'));
    TraceCapture host(folder.File(L"host.trc"), 6, false);
    const std::string none = " Trace.trc", // the default file name
        ids = Id4(GetCurrentProcessId()) + "_%PID%_" + Id4(GetCurrentThreadId());
    const std::pair<const char*, std::string> rows[] = {
        {nullptr, "off level 0 size 0 time 0 delay 0 column history clear" + none},
        {"Trace=1", "on level 0 size 0 time 0 delay 0 clear" + none},
        {"Trace=1 TraceClear=0", "on level 0 size 0 time 0 delay 0" + none},
        {"Trace:sz=1 TraceLevel=6 TraceGlobalEnable=1",
         "off level 6 size 0 time 0 delay 0 column clear" + none},
        {"Trace=1 TraceLevel:sz=6 TraceFile=1 TraceLimitSize:qword=4000 TraceKeepHistory:qword=1 "
         "TraceGlobalEnable:qword=1 TraceClear:sz=0 TraceLimitTime:expand=9",
         "on level 0 size 0 time 0 delay 0 clear" + none},
        {"Trace=1 TraceClear=1 TraceLevel=6 TraceGlobalEnable=1 TraceKeepHistory=1 TraceLimitSize=5000 "
         "TraceLimitTime=7 TraceDelaySecs=9 TraceFile:sz=%KORVIX_TRACE_DIR%\\all.trc",
         "on level 6 size 5000 time 7 delay 9 column history clear " + (folder.Path() / "all.trc").string()},
        {"Trace=1 TraceFile:sz=%KORVIX_TRACE_DIR%\\run_%PID%_%PID%_%TID%.trc",
         "on level 0 size 0 time 0 delay 0 clear " + (folder.Path() / ("run_" + ids + ".trc")).string()},
        {"Trace=1 TraceFile:sz=%KORVIX_BIG%.trc", "on level 0 size 0 time 0 delay 0 clear" + none}};
    int number = 0;
    for (const auto& [values, expected] : rows) {
        const std::string name = "Values" + std::to_string(++number);
        std::unique_ptr<HklmKey> key(values ? new HklmKey(CaseKey(name)) : nullptr);
        if (key) SetValues(*key, values);
        Configured c = FromRegistry(name, 0x24 | CCVireoTrace::FlagModuleColumn | CCVireoTrace::FlagClear |
                                              CCVireoTrace::FlagKeepHistory);
        EXPECT_EQ(Summary(*c.trace), expected);
        EXPECT_EQ(*c.slot, c.trace.get()) << "not joined: its own address in the slot";
    }
    // The key template: "%%", names in any case, unknown ones dropped; cut to 259 characters.
    std::string name = "%%%Unknown%", expanded = "%";
    for (int i = 0; i < 30; ++i, expanded += ExeName())
        name += "%MODULEname%";
    EXPECT_EQ(FromRegistry(name).trace->KeyPath(), CaseKey(expanded).substr(0, 259));
}
