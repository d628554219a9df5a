// Start-up of a trace object: joining the host executable's trace object, or
// reading the module's own registry key; configuration in code.
#include "CCVireoTrace.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>

#include "common/platform/ComWrappers.h"
#include "common/platform/Module.h"

namespace {

const wchar_t kDefaultFile[] = L"Trace.trc";

// A DWORD value counts only when it is stored as REG_DWORD.
bool ReadDword(HKEY key, const char* name, DWORD& value) {
    DWORD type = 0;
    DWORD data = 0;
    DWORD size = sizeof data;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) != ERROR_SUCCESS)
        return false;
    if (type != REG_DWORD || size != sizeof data) return false;
    value = data;
    return true;
}

// A string value counts only when it is stored as REG_SZ and fits `chars`.
bool ReadString(HKEY key, const char* name, char* value, DWORD chars) {
    DWORD type = 0;
    DWORD size = chars;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS)
        return false;
    if (type != REG_SZ) return false;
    // The stored data need not end in a zero.
    if (size >= chars && value[chars - 1] != '\0') return false;
    value[size < chars ? size : chars - 1] = '\0';
    return true;
}

// File name and extension of a module path.
template <class Char> const Char* FilePart(const Char* path) {
    const Char* part = path;
    for (const Char* p = path; *p; ++p) {
        if (*p == '\\' || *p == '/') part = p + 1;
    }
    return part;
}

// Replaces the first `token` in `text` (at most `chars` including the zero)
// by `number` written as "%04u". False when the result does not fit.
bool ReplaceFirst(wchar_t* text, size_t chars, const wchar_t* token, unsigned long number) {
    wchar_t* at = std::wcsstr(text, token);
    if (!at) return true;
    wchar_t digits[16];
    std::swprintf(digits, 16, L"%04lu", number);
    const size_t tokenLength = std::wcslen(token);
    const size_t digitsLength = std::wcslen(digits);
    const size_t length = std::wcslen(text);
    if (length - tokenLength + digitsLength >= chars) return false;
    std::wmemmove(at + digitsLength, at + tokenLength, length - (at - text) - tokenLength + 1);
    std::wmemcpy(at, digits, digitsLength);
    return true;
}

} // namespace

void CCVireoTrace::Reset() {
    firstWritePending_ = true;
    moduleColumn_ = false;
    clear_ = false;
    keepHistory_ = false;
    level_ = 0;
    sizeLimit_ = 0;
    bytesWritten_ = 0;
    timeLimit_ = 0;
    deadline_ = 0;
    lstrcpynW(fileName_, kDefaultFile, static_cast<int>(kNameChars));
}

void CCVireoTrace::PublishThreshold() {
    if (threshold_ == nullptr) return;
    unsigned value = 0;
    if (Enabled()) value = level_ < UINT_MAX ? level_ + 1 : UINT_MAX;
    threshold_->store(value, std::memory_order_relaxed);
}

void CCVireoTrace::Configure(const char* keyTemplate, DWORD flags, const char* baseKeyPath) {
    // Every way out of here leaves the gate matching the new configuration.
    struct Publish {
        CCVireoTrace* self;
        ~Publish() { self->PublishThreshold(); }
    } publish{this};
    std::snprintf(keyPath_, sizeof keyPath_, "%s%s", baseKeyPath, keyTemplate);
    if (Enabled()) return;
    Reset();
    if (AttachToProcessTrace("gg_ptrc", this, exportSlot_)) return;

    if (flags & FlagModuleColumn) {
        moduleColumn_ = true;
        CaptureModuleName();
    }
    clear_ = (flags & FlagClear) != 0;
    keepHistory_ = (flags & FlagKeepHistory) != 0;

    char path[kNameChars];
    ExpandKeyPath(keyPath_, path, sizeof path);
    lstrcpynA(keyPath_, path, static_cast<int>(kNameChars));
    RegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath_, 0, KEY_READ, key.Put()) != ERROR_SUCCESS) return;

    DWORD value = 0;
    if (ReadDword(key.Get(), "Trace", value) && value != 0) {
        enabled_.store(true, std::memory_order_relaxed);
        if (ReadDword(key.Get(), "TraceClear", value)) clear_ = value != 0;
        ReadTraceFile(key.Get());
    }
    value = 0;
    ReadDword(key.Get(), "TraceLevel", value);
    level_ = value;
    value = 0;
    ReadDword(key.Get(), "TraceGlobalEnable", value);
    moduleColumn_ = value > 0;
    if (moduleColumn_) CaptureModuleName();
    value = 0;
    ReadDword(key.Get(), "TraceKeepHistory", value);
    keepHistory_ = value > 0;
    value = 0;
    ReadDword(key.Get(), "TraceLimitSize", value);
    sizeLimit_ = value;
    value = 0;
    ReadDword(key.Get(), "TraceLimitTime", value);
    timeLimit_ = value;
    value = 0;
    ReadDword(key.Get(), "TraceDelaySecs", value);
    delaySecs_ = value;
    value = 0;
    if (ReadDword(key.Get(), "TraceInfo", value) && value != 0) {
        traceInfoShown_ = true;
        ShowTraceInfo();
    }
}

void CCVireoTrace::ReadTraceFile(HKEY key) {
    char raw[kNameChars];
    if (!ReadString(key, "TraceFile", raw, sizeof raw) || raw[0] == '\0') return;
    char expanded[kNameChars];
    const DWORD needed = ExpandEnvironmentStringsA(raw, expanded, sizeof expanded);
    if (needed == 0 || needed > sizeof expanded) return; // keeps "Trace.trc"
    wchar_t wide[kNameChars];
    if (MultiByteToWideChar(CP_ACP, 0, expanded, -1, wide, static_cast<int>(kNameChars)) == 0) return;
    if (!ReplaceFirst(wide, kNameChars, L"%PID%", GetCurrentProcessId())) return;
    if (!ReplaceFirst(wide, kNameChars, L"%TID%", GetCurrentThreadId())) return;
    lstrcpynW(fileName_, wide, static_cast<int>(kNameChars));
}

bool CCVireoTrace::AttachToProcessTrace(const char* exportName, CCVireoTrace* self,
                                        CCVireoTrace** exportSlot) {
    auto* hostSlot = reinterpret_cast<CCVireoTrace**>(GetProcAddress(GetModuleHandleW(nullptr), exportName));
    CCVireoTrace* host = hostSlot ? *hostSlot : nullptr;
    if (!host || host == self || !host->Enabled() || !host->moduleColumn_) {
        if (exportSlot) *exportSlot = self;
        return false;
    }

    self->clear_ = host->clear_;
    self->firstWritePending_ = host->firstWritePending_;
    self->keepHistory_ = host->keepHistory_;
    self->traceInfoShown_ = host->traceInfoShown_;
    self->moduleColumn_ = true;

    // Same semaphore as the host; when the handle cannot be duplicated the
    // first record opens it by name, which is the same.
    HANDLE duplicate = nullptr;
    if (HANDLE hostSemaphore = host->SemaphoreHandle()) {
        if (!DuplicateHandle(GetCurrentProcess(), hostSemaphore, GetCurrentProcess(), &duplicate, 0, FALSE,
                             DUPLICATE_SAME_ACCESS))
            duplicate = nullptr;
    }
    UniqueHandle previous(self->semaphore_.exchange(duplicate));

    self->CaptureModuleName();
    lstrcpynW(self->fileName_, host->fileName_, static_cast<int>(kNameChars));
    self->level_ = host->level_;
    self->sizeLimit_ = host->sizeLimit_;
    self->bytesWritten_ = host->bytesWritten_;
    self->timeLimit_ = host->timeLimit_;
    self->deadline_ = host->deadline_;
    self->enabled_.store(true, std::memory_order_relaxed);
    self->PublishThreshold();
    return true;
}

void CCVireoTrace::Apply(const Settings& settings) {
    enabled_.store(false, std::memory_order_relaxed);
    Reset();
    // The semaphore's name follows the file name: open it again at the next record.
    UniqueHandle previous(semaphore_.exchange(nullptr));
    level_ = settings.level;
    lstrcpynW(fileName_, settings.fileName ? settings.fileName : kDefaultFile, static_cast<int>(kNameChars));
    sizeLimit_ = settings.sizeLimit;
    timeLimit_ = settings.timeLimitMinutes;
    clear_ = settings.clear;
    keepHistory_ = settings.keepHistory;
    moduleColumn_ = settings.moduleColumn;
    if (moduleColumn_) CaptureModuleName();
    enabled_.store(settings.enabled, std::memory_order_relaxed);
    PublishThreshold();
}

HMODULE CCVireoTrace::GetModuleHandleRaw() {
    Trace(5, "CCVireoTrace::GetModuleHandleRaw", "Enter", "", "");
    const HMODULE module = ThisModule();
    Trace(5, "CCVireoTrace::GetModuleHandleRaw", "Leave", "", "hReturn: 0x%08X",
          static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(module)));
    return module;
}

void CCVireoTrace::CaptureModuleName() {
    wchar_t path[kNameChars] = {};
    HMODULE module = GetModuleHandleRaw();
    DWORD length = module ? GetModuleFileNameW(module, path, static_cast<DWORD>(kNameChars)) : 0;
    if (length == 0 || length >= kNameChars) path[0] = L'\0';
    lstrcpynW(moduleName_, FilePart(path), static_cast<int>(kNameChars));
}

void CCVireoTrace::ExpandKeyPath(const char* path, char* out, size_t outChars) {
    // Module name and version, both empty when the version resource is unreadable.
    char name[kNameChars] = {};
    char version[32] = {};
    char modulePath[kNameChars] = {};
    HMODULE module = GetModuleHandleRaw();
    DWORD length = module ? GetModuleFileNameA(module, modulePath, sizeof modulePath) : 0;
    if (length > 0 && length < sizeof modulePath) {
        DWORD ignored = 0;
        DWORD size = GetFileVersionInfoSizeA(modulePath, &ignored);
        std::unique_ptr<char[]> info(size ? new (std::nothrow) char[size] : nullptr);
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT fixedSize = 0;
        if (info && GetFileVersionInfoA(modulePath, 0, size, info.get()) &&
            VerQueryValueA(info.get(), "\\", reinterpret_cast<void**>(&fixed), &fixedSize) && fixed &&
            fixedSize >= sizeof *fixed) {
            lstrcpynA(name, FilePart(modulePath), sizeof name);
            std::snprintf(version, sizeof version, "%d.%2.2d",
                          static_cast<int>(HIWORD(fixed->dwFileVersionMS)),
                          static_cast<int>(LOWORD(fixed->dwFileVersionMS)));
        }
    }

    size_t used = 0;
    auto put = [&](const char* text, size_t count) {
        for (size_t i = 0; i < count && used + 1 < outChars; ++i)
            out[used++] = text[i];
    };
    for (const char* p = path; *p;) {
        if (*p != '%') {
            put(p++, 1);
            continue;
        }
        if (p[1] == '%') {
            put("%", 1);
            p += 2;
            continue;
        }
        const char* close = std::strchr(p + 1, '%');
        if (!close) { // a lone '%' stays as it is
            put(p++, 1);
            continue;
        }
        const size_t tokenLength = static_cast<size_t>(close - p - 1);
        if (tokenLength == 10 && _strnicmp(p + 1, "ModuleName", 10) == 0) {
            put(name, std::strlen(name));
        } else if (tokenLength == 13 && _strnicmp(p + 1, "ModuleVersion", 13) == 0) {
            put(version, std::strlen(version));
        }
        p = close + 1;
    }
    if (outChars) out[used] = '\0';
}

void CCVireoTrace::ShowTraceInfo() {
    char text[kNameChars];
    if (Enabled()) {
        std::snprintf(text, sizeof text, "Enable_By_RegKey: TRACE ENABLED:\r\nFile='%ls'", fileName_);
    } else {
        std::snprintf(text, sizeof text, "Enable_By_RegKey: trace disabled");
    }
    MessageBoxA(nullptr, text, "CCVireoTrace", MB_OK);
}
