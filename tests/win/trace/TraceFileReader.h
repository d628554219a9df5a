// Shared by the Windows tests of trace files, the module and the assemblies:
// trace files read back record by record, a temporary folder, and HKLM values
// that are put back at the end.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "common/platform/ComWrappers.h"

namespace kit {

namespace fs = std::filesystem;

struct TraceFile {
    bool bom = false;               // starts with FF FE
    std::u16string units;           // code units after the byte-order mark
    std::string text;               // the units as bytes ('?' above 0xFF)
    std::vector<std::string> lines; // split at CR LF; a rest without CR LF is the last line
};

inline TraceFile ReadTraceFile(const fs::path& path) {
    TraceFile file;
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    file.bom = bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE';
    for (size_t i = file.bom ? 2 : 0; i + 1 < bytes.size(); i += 2) {
        const unsigned low = static_cast<unsigned char>(bytes[i]),
                       high = static_cast<unsigned char>(bytes[i + 1]);
        const char16_t unit = static_cast<char16_t>(low | high << 8);
        file.units.push_back(unit);
        file.text.push_back(unit <= 0xFF ? static_cast<char>(unit) : '?');
    }
    size_t from = 0;
    for (size_t at; (at = file.text.find("\r\n", from)) != std::string::npos; from = at + 2)
        file.lines.push_back(file.text.substr(from, at - from));
    if (from < file.text.size()) file.lines.push_back(file.text.substr(from));
    return file;
}

inline std::vector<std::string> Lines(const fs::path& path) {
    return ReadTraceFile(path).lines;
}

// What follows time stamp, process id and thread id; a marked copy of the line
// when these are not there.
inline std::string Tail(const std::string& line) {
    static const std::regex head(R"(\d{2}\.\d{2}\.\d{4} \d{2}:\d{2}:\d{2}\.\d{3}\t\d{4,}\t\d{4,}\t)");
    size_t at = 0;
    for (int tab = 0; tab < 3 && at != std::string::npos; ++tab)
        if ((at = line.find('\t', at)) != std::string::npos) ++at;
    if (at == std::string::npos || !std::regex_match(line.begin(), line.begin() + at, head))
        return "<not a record> " + line.substr(0, 200);
    return line.substr(at);
}

struct Record {
    std::string level, module, cls, method, category, text, details;
};

// Records of a file with a known level and exactly the expected columns;
// the other lines go to `bad`.
inline std::vector<Record> Records(const fs::path& path, bool moduleColumn,
                                   std::vector<std::string>* bad = nullptr) {
    static const std::regex level("Error|Warning|Info|Verbose|InfoCC|VerboseCC");
    std::vector<Record> records;
    for (const std::string& line : Lines(path)) {
        std::vector<std::string> f;
        const std::string tail = Tail(line);
        size_t from = 0;
        for (size_t at; (at = tail.find('\t', from)) != std::string::npos; from = at + 1)
            f.push_back(tail.substr(from, at - from));
        f.push_back(tail.substr(from));
        if (f.size() == (moduleColumn ? 7u : 6u) && std::regex_match(f[0], level)) {
            if (!moduleColumn) f.insert(f.begin() + 1, "");
            records.push_back({f[0], f[1], f[2], f[3], f[4], f[5], f[6]});
        } else if (bad) {
            bad->push_back(line);
        }
    }
    return records;
}

// Index of the first record at or after `from` whose class, method, category
// and text equal the given ones ("" matches any); -1 when there is none.
inline int Find(const std::vector<Record>& records, const std::string& cls, const std::string& method,
                const std::string& category, const std::string& text, int from = 0) {
    auto same = [](const std::string& want, const std::string& got) { return want.empty() || want == got; };
    for (int i = std::max(from, 0); i < static_cast<int>(records.size()); ++i) {
        const Record& r = records[i];
        if (same(cls, r.cls) && same(method, r.method) && same(category, r.category) && same(text, r.text))
            return i;
    }
    return -1;
}

inline std::string Id4(DWORD id) {
    char text[16];
    snprintf(text, sizeof text, "%04lu", static_cast<unsigned long>(id));
    return text;
}

// A fresh folder below the temp folder, removed with its contents.
class TempFolder {
public:
    TempFolder() {
        static LONG counter = 0;
        path_ = fs::temp_directory_path() / ("korvix_" + std::to_string(GetCurrentProcessId()) + "_" +
                                             std::to_string(InterlockedIncrement(&counter)));
        std::error_code ignored;
        fs::remove_all(path_, ignored);
        fs::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const fs::path& Path() const { return path_; }
    std::string Narrow() const { return path_.string(); }
    std::wstring File(const std::wstring& name) const { return (path_ / name).wstring(); }
    std::string Write(const std::string& name, const std::string& content) const {
        std::ofstream(path_ / name, std::ios::binary) << content;
        return (path_ / name).string();
    }

private:
    fs::path path_;
};

// A key below HKEY_LOCAL_MACHINE, created when missing. Values set or removed
// through it are put back at the end; then the key and the parents it created
// go, as far as nothing else lives in them.
class HklmKey {
public:
    explicit HklmKey(const std::string& path) : path_(path) {
        for (size_t at = 0; created_.empty();) {
            const size_t next = path.find('\\', at);
            HKEY probe = nullptr;
            if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.substr(0, next).c_str(), 0, KEY_READ, &probe) !=
                ERROR_SUCCESS)
                created_ = path.substr(0, next);
            else
                RegCloseKey(probe);
            if (next == std::string::npos) break;
            at = next + 1;
        }
        EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  key_.Put(), nullptr),
                  ERROR_SUCCESS)
            << path;
    }
    ~HklmKey() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->present)
                RegSetValueExA(key_.Get(), it->name.c_str(), 0, it->type,
                               reinterpret_cast<const BYTE*>(it->data.data()),
                               static_cast<DWORD>(it->data.size()));
            else
                RegDeleteValueA(key_.Get(), it->name.c_str());
        }
        key_.Reset();
        for (std::string key = path_; !created_.empty() && key.size() >= created_.size();) {
            if (RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str()) != ERROR_SUCCESS) break;
            key.resize(key.rfind('\\'));
        }
    }
    HklmKey(const HklmKey&) = delete;
    HklmKey& operator=(const HklmKey&) = delete;

    void Set(const char* name, DWORD type, const void* data, DWORD size) {
        Save(name);
        EXPECT_EQ(RegSetValueExA(key_.Get(), name, 0, type, static_cast<const BYTE*>(data), size),
                  ERROR_SUCCESS)
            << name;
    }
    void SetDword(const char* name, DWORD value) { Set(name, REG_DWORD, &value, sizeof value); }
    void SetString(const char* name, const std::string& value, DWORD type = REG_SZ) {
        Set(name, type, value.c_str(), static_cast<DWORD>(value.size() + 1));
    }
    void Remove(const char* name) {
        Save(name);
        RegDeleteValueA(key_.Get(), name);
    }

private:
    struct Saved {
        std::string name;
        bool present = false;
        DWORD type = 0;
        std::string data;
    };
    void Save(const char* name) {
        Saved saved{name};
        DWORD size = 0;
        if (RegQueryValueExA(key_.Get(), name, nullptr, &saved.type, nullptr, &size) == ERROR_SUCCESS) {
            saved.data.resize(size);
            saved.present =
                RegQueryValueExA(key_.Get(), name, nullptr, &saved.type,
                                 reinterpret_cast<BYTE*>(saved.data.data()), &size) == ERROR_SUCCESS;
        }
        saved_.push_back(saved);
    }

    std::string path_;
    std::string created_; // outermost key that did not exist before
    RegKey key_;
    std::vector<Saved> saved_;
};

// Sets an environment variable of this process (children inherit it) and
// puts the old value back at the end.
class ScopedEnv {
public:
    ScopedEnv(const wchar_t* name, const std::wstring& value) : name_(name) {
        wchar_t old[4096];
        const DWORD n = GetEnvironmentVariableW(name, old, 4096);
        had_ = n > 0 && n < 4096;
        if (had_) old_.assign(old, n);
        SetEnvironmentVariableW(name, value.c_str());
    }
    ~ScopedEnv() { SetEnvironmentVariableW(name_.c_str(), had_ ? old_.c_str() : nullptr); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::wstring name_, old_;
    bool had_ = false;
};

struct ProcessResult {
    bool finished = false; // within the time-out
    DWORD exitCode = 0, processId = 0;
    std::string output; // stdout and stderr
};

// Runs a command line (the caller quotes the program) in `directory`; the
// child inherits the environment.
inline ProcessResult RunProcess(std::wstring commandLine, const std::wstring& directory = L"",
                                DWORD timeoutMs = 60000) {
    ProcessResult result;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readRaw = nullptr, writeRaw = nullptr;
    if (!CreatePipe(&readRaw, &writeRaw, &inherit, 0)) return result;
    UniqueHandle readEnd(readRaw), writeEnd(writeRaw);
    SetHandleInformation(readEnd.Get(), HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = startup.hStdError = writeEnd.Get();
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        directory.empty() ? nullptr : directory.c_str(), &startup, &info))
        return result;
    UniqueHandle process(info.hProcess), thread(info.hThread);
    writeEnd.Reset();
    result.processId = info.dwProcessId;
    // Drained while the child runs; its end is not waited for, as a process
    // the child starts (Wine's desktop) may hold the write end long after.
    auto drain = [&] {
        DWORD available = 0, n = 0;
        char buffer[4096];
        while (PeekNamedPipe(readEnd.Get(), nullptr, 0, nullptr, &available, nullptr) && available > 0 &&
               ReadFile(readEnd.Get(), buffer, std::min<DWORD>(available, sizeof buffer), &n, nullptr))
            result.output.append(buffer, n);
    };
    for (const ULONGLONG deadline = GetTickCount64() + timeoutMs;
         !result.finished && GetTickCount64() < deadline; drain())
        result.finished = WaitForSingleObject(process.Get(), 10) == WAIT_OBJECT_0;
    if (!result.finished) TerminateProcess(process.Get(), 99);
    WaitForSingleObject(process.Get(), INFINITE);
    drain();
    GetExitCodeProcess(process.Get(), &result.exitCode);
    return result;
}

// Folder of the running executable.
inline fs::path BinFolder() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return fs::path(path).parent_path();
}

} // namespace kit
