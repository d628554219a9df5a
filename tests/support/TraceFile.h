// Trace files read back (UTF-16LE after a byte-order mark, a record a CR LF line), the executable's
// trace object pointed at a file, a temporary folder and an environment variable for a scope.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "common/trace/ModuleTrace.h"

// The word a record of level 1-6 carries; other levels write no level column.
inline const char* const kTraceLevelWords[] = {"",        "Error",  "Warning",  "Info",
                                               "Verbose", "InfoCC", "VerboseCC"};

struct TraceFileRecord {
    std::string pid, tid, level, module, cls, method, category, text, details;
};

struct TraceFileContent {
    bool bom = false, narrowUnits = true; // every code unit fits a byte
    std::u16string units;                 // the code units after the byte-order mark
    std::vector<std::string> lines;       // the units as bytes, split at CR LF
    std::vector<TraceFileRecord> records;     // the lines that are one well-formed record
    std::vector<std::string> bad;         // the other lines
    std::string trailing;                 // text after the last CR LF
};

inline std::string Id4(DWORD id) {
    char text[16];
    std::snprintf(text, sizeof text, "%04lu", static_cast<unsigned long>(id));
    return text;
}

inline TraceFileContent ReadTraceFile(const std::filesystem::path& path, bool moduleColumn) {
    TraceFileContent c;
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    c.bom = bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE';
    std::string text;
    for (size_t i = c.bom ? 2 : 0; i + 1 < bytes.size(); i += 2) {
        c.units.push_back(static_cast<char16_t>(uint8_t(bytes[i]) | uint8_t(bytes[i + 1]) << 8));
        c.narrowUnits = c.narrowUnits && bytes[i + 1] == 0;
        text.push_back(bytes[i]);
    }
    static const std::regex head(R"(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d\.\d{3}\t\d{4,}\t\d{4,})");
    const auto levels = std::begin(kTraceLevelWords), end = std::end(kTraceLevelWords);
    const size_t m = moduleColumn ? 1 : 0;
    size_t from = 0;
    for (size_t stop; (stop = text.find("\r\n", from)) != std::string::npos; from = stop + 2) {
        const std::string& line = c.lines.emplace_back(text.substr(from, stop - from));
        std::vector<std::string> f;
        size_t at = 0;
        for (size_t tab; (tab = line.find('\t', at)) != std::string::npos; at = tab + 1)
            f.push_back(line.substr(at, tab - at));
        f.push_back(line.substr(at));
        if (f.size() == 8 + m) f.insert(f.begin() + 3, ""); // no level column
        if (f.size() == 9 + m && std::find(levels, end, f[3]) != end &&
            std::regex_match(f[0] + '\t' + f[1] + '\t' + f[2], head))
            c.records.push_back(
                {f[1], f[2], f[3], m ? f[4] : "", f[4 + m], f[5 + m], f[6 + m], f[7 + m], f[8 + m]});
        else
            c.bad.push_back(line);
    }
    c.trailing = text.substr(from);
    return c;
}

// A fresh folder below the temp folder, removed with its contents.
class TempFolder {
public:
    TempFolder() {
        static LONG counter = 0;
        path_ =
            std::filesystem::temp_directory_path() / ("korvix_" + std::to_string(GetCurrentProcessId()) +
                                                      "_" + std::to_string(InterlockedIncrement(&counter)));
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::filesystem::path& Path() const { return path_; }
    std::wstring File(const std::wstring& name) const { return (path_ / name).wstring(); }
    void Write(const std::string& name, const std::string& content) const {
        std::ofstream(path_ / name, std::ios::binary) << content;
    }

private:
    std::filesystem::path path_;
};

// The executable's trace object writes levels up to `level` into `file` while the capture
// lives; with the module column, modules loaded meanwhile join it.
class TraceCapture {
public:
    explicit TraceCapture(std::wstring file, unsigned level = 6, bool column = true)
        : file_(std::move(file)) {
        CCVireoTrace::Settings on;
        on.level = level;
        on.moduleColumn = column;
        on.fileName = file_.c_str();
        ModuleTraceObject().Apply(on);
    }
    ~TraceCapture() {
        CCVireoTrace::Settings off;
        off.enabled = false;
        ModuleTraceObject().Apply(off);
    }
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;
    TraceFileContent Read() const { return ReadTraceFile(file_, true); }

private:
    std::wstring file_;
};

// An environment variable of this process, set until the end of the scope.
class ScopedEnv {
public:
    ScopedEnv(const wchar_t* name, const std::wstring& value) : name_(name), old_(4096, L'\0') {
        old_.resize(GetEnvironmentVariableW(name, old_.data(), 4096));
        had_ = !old_.empty() || GetLastError() != ERROR_ENVVAR_NOT_FOUND;
        SetEnvironmentVariableW(name, value.c_str());
    }
    ~ScopedEnv() { SetEnvironmentVariableW(name_.c_str(), had_ ? old_.c_str() : nullptr); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::wstring name_, old_;
    bool had_ = false;
};
