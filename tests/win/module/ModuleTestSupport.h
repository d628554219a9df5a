// Helpers for the tests of Korvix.dll as a COM server and of its use from
// several threads: the built module, child processes, registry values that
// clean up after themselves, and trace files read back record by record.
#pragma once

#include <windows.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/platform/ComWrappers.h"

namespace moduletest {

namespace fs = std::filesystem;

// Key of Korvix.dll's own trace configuration below HKEY_LOCAL_MACHINE.
extern const wchar_t* const kKorvixTraceKey;

// Full path of the built Korvix.dll (beside the test executable).
std::wstring KorvixPath();
std::string Narrow(const std::wstring& text);
std::wstring Widen(const std::string& text);

// Korvix.dll loaded into this process and its exports.
class KorvixModule {
public:
    explicit KorvixModule(const std::wstring& path = KorvixPath());
    HMODULE Handle() const { return library_.Get(); }
    template <class F> F Export(const char* name) const {
        return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(library_.Get(), name)));
    }
    HRESULT Register() const;
    HRESULT Unregister() const;
    HRESULT CanUnloadNow() const;
    HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** object) const;

private:
    LibraryHandle library_;
};

// A new, empty folder below the temp folder; removed with its contents.
class TempFolder {
public:
    explicit TempFolder(const std::string& tag);
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const fs::path& Path() const { return path_; }
    std::wstring File(const std::wstring& name) const { return (path_ / name).wstring(); }
    std::vector<fs::path> Files() const;

private:
    fs::path path_;
};

// Sets (or with nullptr removes) an environment variable of this process,
// which child processes inherit, and restores the old value at the end.
class ScopedEnvironment {
public:
    ScopedEnvironment(const wchar_t* name, const wchar_t* value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::wstring name_;
    std::optional<std::wstring> saved_;
};

// A key below HKEY_LOCAL_MACHINE created for one test and deleted with its
// subtree at the end, together with the parents that it had to create.
class ScopedHklmKey {
public:
    explicit ScopedHklmKey(const std::wstring& path);
    ~ScopedHklmKey();
    ScopedHklmKey(const ScopedHklmKey&) = delete;
    ScopedHklmKey& operator=(const ScopedHklmKey&) = delete;
    bool Valid() const { return key_.Get() != nullptr; }
    void SetDword(const wchar_t* name, DWORD value);
    void SetString(const wchar_t* name, const std::wstring& value);

private:
    std::wstring path_;
    std::wstring firstCreated_; // outermost key that did not exist before
    RegKey key_;
};

// Removes one value for the lifetime of the object and puts it back after.
class ScopedValueRemoval {
public:
    ScopedValueRemoval(HKEY root, const std::wstring& path, const wchar_t* name);
    ~ScopedValueRemoval();
    ScopedValueRemoval(const ScopedValueRemoval&) = delete;
    ScopedValueRemoval& operator=(const ScopedValueRemoval&) = delete;

private:
    HKEY root_;
    std::wstring path_, name_;
    DWORD type_ = 0;
    std::vector<BYTE> data_;
    bool had_ = false;
};

bool KeyExists(HKEY root, const std::wstring& path);
// A REG_SZ value ("" names the default value); nullopt when missing.
std::optional<std::wstring> StringValue(HKEY root, const std::wstring& path, const wchar_t* name);

struct ProcessResult {
    bool started = false;
    bool finished = false; // within the time-out
    DWORD exitCode = 0;
    DWORD processId = 0;
    std::string output; // stdout and stderr, as written
};
// Runs a command line (program path quoted by the caller as needed) with an
// optional current directory; the child inherits the environment.
ProcessResult RunProcess(const std::wstring& commandLine, const std::wstring& directory = L"",
                         DWORD timeoutMs = 60000);
// Path of a program of the Windows system folder, e.g. L"cscript.exe".
std::wstring SystemProgram(const wchar_t* name);

// One record of a trace file, split into its columns.
struct TraceRecord {
    std::string stamp, pid, tid, level, module, cls, method, category, text, details;
};
struct TraceFileContent {
    bool exists = false;
    bool bom = false;
    bool wide = true;               // every code unit fits a byte
    std::vector<std::string> lines; // split at CR LF
    std::string trailing;           // text after the last CR LF
};
TraceFileContent ReadTraceFile(const fs::path& path);
// Splits a line; false when it is not exactly one well-formed record.
bool ParseRecord(const std::string& line, bool moduleColumn, TraceRecord& record);
// The records of a file; lines that do not parse are returned in `bad`.
std::vector<TraceRecord> Records(const fs::path& path, bool moduleColumn,
                                 std::vector<std::string>* bad = nullptr);
// Index of the first record at or after `from` that matches; -1 if none.
int Find(const std::vector<TraceRecord>& records, const std::string& cls, const std::string& method,
         const std::string& category, const std::string& text, int from = 0);
// Number of records whose text equals `text`.
int CountText(const std::vector<TraceRecord>& records, const std::string& text);
// "%04u" of a process or thread id.
std::string Id4(DWORD id);

} // namespace moduletest
