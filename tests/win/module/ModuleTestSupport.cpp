#include "ModuleTestSupport.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <regex>
#include <algorithm>

namespace moduletest {

const wchar_t* const kKorvixTraceKey = L"Software\\Quarnex\\Common\\Tracing\\Korvix.dll\\1.05";

namespace {
std::wstring ExecutableFolder() {
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, n);
    return folder.substr(0, folder.find_last_of(L"\\/"));
}
} // namespace

std::wstring KorvixPath() {
    return ExecutableFolder() + L"\\Korvix.dll";
}

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text)
        out.push_back(c < 0x100 ? static_cast<char>(c) : '?');
    return out;
}

std::wstring Widen(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

// ---- KorvixModule ------------------------------------------------------------

KorvixModule::KorvixModule(const std::wstring& path) : library_(LoadLibraryW(path.c_str())) {}

HRESULT KorvixModule::Register() const {
    auto entry = Export<HRESULT(STDAPICALLTYPE*)()>("DllRegisterServer");
    return entry ? entry() : E_NOTIMPL;
}

HRESULT KorvixModule::Unregister() const {
    auto entry = Export<HRESULT(STDAPICALLTYPE*)()>("DllUnregisterServer");
    return entry ? entry() : E_NOTIMPL;
}

HRESULT KorvixModule::CanUnloadNow() const {
    auto entry = Export<HRESULT(STDAPICALLTYPE*)()>("DllCanUnloadNow");
    return entry ? entry() : E_NOTIMPL;
}

HRESULT KorvixModule::GetClassObject(REFCLSID clsid, REFIID iid, void** object) const {
    auto entry = Export<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>("DllGetClassObject");
    return entry ? entry(clsid, iid, object) : E_NOTIMPL;
}

// ---- TempFolder --------------------------------------------------------------

TempFolder::TempFolder(const std::string& tag) {
    static LONG counter = 0;
    const LONG n = InterlockedIncrement(&counter);
    path_ = fs::temp_directory_path() /
            ("korvix-" + tag + "-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(n));
    std::error_code ignored;
    fs::remove_all(path_, ignored);
    fs::create_directories(path_);
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::vector<fs::path> TempFolder::Files() const {
    std::vector<fs::path> files;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(path_, ignored))
        files.push_back(entry.path());
    return files;
}

// ---- ScopedEnvironment -------------------------------------------------------

ScopedEnvironment::ScopedEnvironment(const wchar_t* name, const wchar_t* value) : name_(name) {
    wchar_t buffer[32768];
    const DWORD n = GetEnvironmentVariableW(name, buffer, 32768);
    if (n > 0 && n < 32768) saved_ = std::wstring(buffer, n);
    SetEnvironmentVariableW(name, value);
}

ScopedEnvironment::~ScopedEnvironment() {
    SetEnvironmentVariableW(name_.c_str(), saved_ ? saved_->c_str() : nullptr);
}

// ---- Registry ----------------------------------------------------------------

ScopedHklmKey::ScopedHklmKey(const std::wstring& path) : path_(path) {
    // Find the outermost missing key so that the clean-up removes exactly
    // what this object created.
    size_t at = 0;
    while (true) {
        const size_t next = path.find(L'\\', at);
        const std::wstring prefix = path.substr(0, next);
        if (!KeyExists(HKEY_LOCAL_MACHINE, prefix)) {
            firstCreated_ = prefix;
            break;
        }
        if (next == std::wstring::npos) break;
        at = next + 1;
    }
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key_.Put(),
                    nullptr);
}

ScopedHklmKey::~ScopedHklmKey() {
    key_.Reset();
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, path_.c_str());
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, path_.c_str());
    // Parents created here go as well, innermost first, while they are empty.
    if (firstCreated_.empty()) return;
    std::wstring parent = path_;
    while (parent.size() > firstCreated_.size()) {
        parent = parent.substr(0, parent.find_last_of(L'\\'));
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, parent.c_str());
    }
}

void ScopedHklmKey::SetDword(const wchar_t* name, DWORD value) {
    RegSetValueExW(key_.Get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

void ScopedHklmKey::SetString(const wchar_t* name, const std::wstring& value) {
    RegSetValueExW(key_.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

ScopedValueRemoval::ScopedValueRemoval(HKEY root, const std::wstring& path, const wchar_t* name)
    : root_(root), path_(path), name_(name) {
    RegKey key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_ALL_ACCESS, key.Put()) != ERROR_SUCCESS) return;
    DWORD size = 0;
    if (RegQueryValueExW(key.Get(), name, nullptr, &type_, nullptr, &size) == ERROR_SUCCESS) {
        data_.resize(size);
        had_ = RegQueryValueExW(key.Get(), name, nullptr, &type_, data_.data(), &size) == ERROR_SUCCESS;
    }
    RegDeleteValueW(key.Get(), name);
}

ScopedValueRemoval::~ScopedValueRemoval() {
    if (!had_) return;
    RegKey key;
    if (RegOpenKeyExW(root_, path_.c_str(), 0, KEY_ALL_ACCESS, key.Put()) == ERROR_SUCCESS)
        RegSetValueExW(key.Get(), name_.c_str(), 0, type_, data_.data(), static_cast<DWORD>(data_.size()));
}

bool KeyExists(HKEY root, const std::wstring& path) {
    RegKey key;
    return RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.Put()) == ERROR_SUCCESS;
}

std::optional<std::wstring> StringValue(HKEY root, const std::wstring& path, const wchar_t* name) {
    wchar_t buffer[2048];
    DWORD size = sizeof buffer;
    if (RegGetValueW(root, path.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS)
        return std::nullopt;
    return std::wstring(buffer);
}

// ---- Processes ---------------------------------------------------------------

ProcessResult RunProcess(const std::wstring& commandLine, const std::wstring& directory, DWORD timeoutMs) {
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
    startup.hStdOutput = writeEnd.Get();
    startup.hStdError = writeEnd.Get();
    PROCESS_INFORMATION info{};
    std::wstring line = commandLine;
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        directory.empty() ? nullptr : directory.c_str(), &startup, &info))
        return result;
    UniqueHandle process(info.hProcess), thread(info.hThread);
    writeEnd.Reset(); // the child holds the only write end now
    result.started = true;
    result.processId = info.dwProcessId;

    // Drain the pipe while the child runs so that it never blocks on a full
    // pipe. The end of the output is not waited for: a process the child
    // starts (Wine's desktop process, for one) may inherit the write end and
    // keep the pipe open long after the child has gone.
    std::string output;
    auto drain = [&] {
        DWORD available = 0;
        char buffer[4096];
        while (PeekNamedPipe(readEnd.Get(), nullptr, 0, nullptr, &available, nullptr) && available > 0) {
            DWORD n = 0;
            if (!ReadFile(readEnd.Get(), buffer, std::min<DWORD>(available, sizeof buffer), &n, nullptr))
                break;
            output.append(buffer, n);
        }
    };
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!result.finished && GetTickCount64() < deadline) {
        result.finished = WaitForSingleObject(process.Get(), 10) == WAIT_OBJECT_0;
        drain();
    }
    if (!result.finished) TerminateProcess(process.Get(), 99);
    WaitForSingleObject(process.Get(), INFINITE);
    drain();
    GetExitCodeProcess(process.Get(), &result.exitCode);
    result.output = output;
    return result;
}

std::wstring SystemProgram(const wchar_t* name) {
    wchar_t folder[MAX_PATH];
    const UINT n = GetSystemDirectoryW(folder, MAX_PATH);
    return std::wstring(folder, n) + L"\\" + name;
}

// ---- Trace files -------------------------------------------------------------

TraceFileContent ReadTraceFile(const fs::path& path) {
    TraceFileContent content;
    std::ifstream in(path, std::ios::binary);
    if (!in) return content;
    content.exists = true;
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t start = 0;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        content.bom = true;
        start = 2;
    }
    std::string text;
    for (size_t i = start; i + 1 < bytes.size(); i += 2) {
        if (bytes[i + 1] != 0) content.wide = false;
        text.push_back(bytes[i]);
    }
    size_t from = 0;
    for (size_t at; (at = text.find("\r\n", from)) != std::string::npos; from = at + 2)
        content.lines.push_back(text.substr(from, at - from));
    content.trailing = text.substr(from);
    return content;
}

bool ParseRecord(const std::string& line, bool moduleColumn, TraceRecord& record) {
    static const std::regex stamp(R"(\d{2}\.\d{2}\.\d{4} \d{2}:\d{2}:\d{2}\.\d{3})");
    static const std::regex id(R"(\d{4,})");
    static const char* const levels[] = {"Error", "Warning", "Info", "Verbose", "InfoCC", "VerboseCC"};
    std::vector<std::string> fields;
    size_t from = 0;
    for (size_t at; (at = line.find('\t', from)) != std::string::npos; from = at + 1)
        fields.push_back(line.substr(from, at - from));
    fields.push_back(line.substr(from));
    if (fields.size() != (moduleColumn ? 10u : 9u)) return false;
    if (line.find_first_of("\r\n") != std::string::npos) return false;
    size_t i = 0;
    record.stamp = fields[i++];
    record.pid = fields[i++];
    record.tid = fields[i++];
    record.level = fields[i++];
    record.module = moduleColumn ? fields[i++] : std::string();
    record.cls = fields[i++];
    record.method = fields[i++];
    record.category = fields[i++];
    record.text = fields[i++];
    record.details = fields[i++];
    bool knownLevel = false;
    for (const char* level : levels)
        knownLevel = knownLevel || record.level == level;
    return knownLevel && std::regex_match(record.stamp, stamp) && std::regex_match(record.pid, id) &&
           std::regex_match(record.tid, id) && !record.cls.empty() && !record.method.empty() &&
           !record.category.empty() && (!moduleColumn || !record.module.empty());
}

std::vector<TraceRecord> Records(const fs::path& path, bool moduleColumn, std::vector<std::string>* bad) {
    std::vector<TraceRecord> records;
    for (const std::string& line : ReadTraceFile(path).lines) {
        TraceRecord record;
        if (ParseRecord(line, moduleColumn, record))
            records.push_back(record);
        else if (bad)
            bad->push_back(line);
    }
    return records;
}

int Find(const std::vector<TraceRecord>& records, const std::string& cls, const std::string& method,
         const std::string& category, const std::string& text, int from) {
    for (int i = from; i < static_cast<int>(records.size()); ++i) {
        const TraceRecord& r = records[i];
        if (r.cls == cls && r.method == method && r.category == category && r.text == text) return i;
    }
    return -1;
}

int CountText(const std::vector<TraceRecord>& records, const std::string& text) {
    int n = 0;
    for (const TraceRecord& r : records)
        n += r.text == text ? 1 : 0;
    return n;
}

std::string Id4(DWORD id) {
    char text[16];
    std::snprintf(text, sizeof text, "%04lu", static_cast<unsigned long>(id));
    return text;
}

} // namespace moduletest
