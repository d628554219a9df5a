// Helpers for the trace tests: private folders, trace objects configured in
// code, reading trace files back, registry keys that clean up after themselves.
#pragma once

#include <windows.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/trace/CCVireoTrace.h"

namespace tracetest {

namespace fs = std::filesystem;

// A new, empty folder below the temp folder, named after the running test and
// the process; removed with everything in it at the end.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const fs::path& Path() const { return path_; }
    std::wstring File(const std::wstring& name) const { return (path_ / name).wstring(); }

private:
    fs::path path_;
};

// A trace object that reads no registry value (its key does not exist) and
// does not touch the binary's gg_ptrc slot, configured in code to write every
// level into `file`; `adjust` changes the settings before they are applied.
std::unique_ptr<CCVireoTrace> MakeTrace(const std::wstring& file,
                                        const std::function<void(CCVireoTrace::Settings&)>& adjust = {});

struct TraceFile {
    bool exists = false;
    bool bom = false;     // starts with FF FE
    std::u16string units; // code units after the byte-order mark
    size_t byteSize = 0;
};
TraceFile ReadTraceFile(const std::wstring& path);

// Code units to bytes (each unit must be <= 0xFF, else '?').
std::string Narrow(const std::u16string& units);
// The records of a file: split at CR LF, the last (empty) piece dropped.
std::vector<std::string> Lines(const std::wstring& path);
// Bytes the writer counted for a file: every unit but the BOM and the CRs it inserted.
size_t CountedBytes(const TraceFile& file);

// Regex for the fixed start of a record: time stamp, process id, thread id.
extern const char* const kStampPattern;
std::string Pid4();
std::string Tid4();

// Creates an empty file.
void Touch(const std::wstring& path, const std::string& content = "");

// A key below HKEY_LOCAL_MACHINE created for one test and deleted with its
// subtree at the end; the empty parents it created go too.
class TestRegKey {
public:
    explicit TestRegKey(const std::string& path);
    ~TestRegKey();
    TestRegKey(const TestRegKey&) = delete;
    TestRegKey& operator=(const TestRegKey&) = delete;

    void SetDword(const char* name, DWORD value);
    void SetString(const char* name, const std::string& value, DWORD type = REG_SZ);
    void SetRaw(const char* name, DWORD type, const void* data, DWORD size);

private:
    std::string path_;
    HKEY key_ = nullptr;
};

// Base key of the system's trace configuration.
extern const char* const kBaseKey;
// This test executable's name and version as the key template expands them.
std::string ExeName();
std::string ExeVersionKey();
// Folder of this test executable (host, guest and message stand-ins live there).
fs::path BinFolder();

} // namespace tracetest
