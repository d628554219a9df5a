// Record writing: assembling a record, serialising writers, appending to the
// trace file and moving it into history.
#include "CCVireoTrace.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "common/platform/ComWrappers.h"

// MinGW's C99 formatter, named explicitly so that "%S" (wide string), "%I64X",
// "%zu" and "%p" work the same whatever the stdio settings of the including
// build are. It returns the full length on truncation, which drives the growth.
extern "C" int __cdecl __mingw_vsnprintf(char*, size_t, const char*, va_list);

namespace {

const char* const kLevelWords[] = {nullptr, "Error", "Warning", "Info", "Verbose", "InfoCC", "VerboseCC"};

const char kWarningRecord[] =
    "31.12.2030 23:59:59.999\t9999\t9999\twarning\tCCVireoTrace\tFileSwitch\tInternal\t"
    "MoveFileExW returned last error 0x%8.8lx, %s\n";
const char kErrorRecord[] =
    "31.12.2030 23:59:59.999\t9999\t9999\terror\tCCVireoTrace\tFileSwitch\tException\t"
    "MoveFileExW could not create file '%s'\n";
const char kAllocationFailed[] = "Buffer allocation failed, tracing was disabled";
const char kNoEndMarker[] = "No space for end marker left in buffer";

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

long long NowSeconds() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    ULARGE_INTEGER t;
    t.LowPart = ft.dwLowDateTime;
    t.HighPart = ft.dwHighDateTime;
    return static_cast<long long>(t.QuadPart / 10000000ULL) - 11644473600LL;
}

bool FileExists(const wchar_t* name) {
    return GetFileAttributesW(name) != INVALID_FILE_ATTRIBUTES;
}

// Wide to narrow for the record: characters up to U+00FF keep their value
// (the writer widens bytes back to the same code units), others become '?'.
size_t NarrowLatin1(const wchar_t* in, char* out, size_t outChars) {
    size_t n = 0;
    for (; in && *in && n + 1 < outChars; ++in)
        out[n++] = *in <= 0xFF ? static_cast<char>(*in) : '?';
    if (outChars) out[n] = '\0';
    return n;
}

} // namespace

CCVireoTrace::CCVireoTrace(const char* keyTemplate, DWORD flags, const char* semaphorePrefix,
                           const char* baseKeyPath, CCVireoTrace** exportSlot,
                           std::atomic<unsigned>* threshold)
    : exportSlot_(exportSlot), threshold_(threshold) {
    buffer_ = static_cast<char*>(std::malloc(kInitialBuffer));
    bufferSize_ = buffer_ ? kInitialBuffer : 0;
    if (semaphorePrefix) lstrcpynA(semaphorePrefix_, semaphorePrefix, static_cast<int>(kNameChars));
    Configure(keyTemplate ? keyTemplate : "", flags, baseKeyPath ? baseKeyPath : "");
}

CCVireoTrace::~CCVireoTrace() {
    enabled_.store(false, std::memory_order_relaxed);
    // Statements of static destructors that run later find tracing off.
    PublishThreshold();
    UniqueHandle semaphore(semaphore_.exchange(nullptr));
    std::free(buffer_);
    buffer_ = nullptr;
    bufferSize_ = 0;
}

void CCVireoTrace::Trace(unsigned level, const char* scope, const char* category, const char* text,
                         const char* details, ...) {
    if (!Wanted(level)) return;
    va_list args;
    va_start(args, details);
    TraceV(level, scope, category, text, details, args);
    va_end(args);
}

void CCVireoTrace::TraceV(unsigned level, const char* scope, const char* category, const char* text,
                          const char* details, va_list args) {
    if (!Wanted(level)) return;
    if (!AcquireSemaphore()) return;

    used_ = 0;
    if (!AppendHeader(level, scope, category, text) || !AppendDetails(details, args)) {
        enabled_.store(false, std::memory_order_relaxed);
        PublishThreshold();
        Append(kAllocationFailed, sizeof kAllocationFailed - 1);
        LeaveSemaphore();
        return;
    }
    // The end marker needs the LF and a terminating zero.
    if (bufferSize_ - used_ < 2) {
        Append(kNoEndMarker, sizeof kNoEndMarker - 1);
        LeaveSemaphore();
        return;
    }
    buffer_[used_++] = '\n';
    buffer_[used_] = '\0';
    Append(buffer_, used_);
    LeaveSemaphore();
}

// --- Serialising ----------------------------------------------------------

void CCVireoTrace::BuildSemaphoreName(char* name, size_t chars) const {
    int n = std::snprintf(name, chars, "%s%8.8lx_", semaphorePrefix_, GetCurrentProcessId());
    size_t length = n < 0 ? 0 : (static_cast<size_t>(n) < chars ? static_cast<size_t>(n) : chars - 1);
    const size_t limit = chars < kNameChars ? chars - 1 : kNameChars - 1;
    for (const wchar_t* p = fileName_; *p && length < limit; ++p) {
        if (std::wcschr(L"<>:\"/\\|", *p)) continue;
        char narrow[8];
        BOOL lossy = FALSE;
        int bytes =
            WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, p, 1, narrow, sizeof narrow, nullptr, &lossy);
        if (bytes <= 0 || lossy || length + bytes > limit) continue;
        std::memcpy(name + length, narrow, bytes);
        length += bytes;
    }
    name[length] = '\0';
}

bool CCVireoTrace::AcquireSemaphore() {
    HANDLE semaphore = semaphore_.load(std::memory_order_acquire);
    if (!semaphore) {
        char name[kNameChars];
        BuildSemaphoreName(name, sizeof name);
        UniqueHandle opened(OpenSemaphoreA(SEMAPHORE_ALL_ACCESS, FALSE, name));
        if (!opened.Valid()) opened.Reset(CreateSemaphoreA(nullptr, 1, 1, name));
        if (!opened.Valid()) return false;
        HANDLE expected = nullptr;
        // Another thread of this object may have opened it meanwhile: keep one handle.
        if (semaphore_.compare_exchange_strong(expected, opened.Get())) {
            semaphore = opened.Detach();
        } else {
            semaphore = expected;
        }
    }
    return WaitForSingleObject(semaphore, INFINITE) == WAIT_OBJECT_0;
}

void CCVireoTrace::LeaveSemaphore() {
    ::ReleaseSemaphore(semaphore_.load(std::memory_order_acquire), 1, nullptr);
}

// --- Assembling a record -----------------------------------------------------

bool CCVireoTrace::Reserve(size_t bytes) {
    if (bytes <= bufferSize_) return true;
    size_t size = bufferSize_ ? bufferSize_ : kInitialBuffer;
    while (size < bytes) {
        if (size > (static_cast<size_t>(-1) >> 1)) return false;
        size *= 2;
    }
    char* grown = static_cast<char*>(std::realloc(buffer_, size));
    if (!grown) return false;
    buffer_ = grown;
    bufferSize_ = size;
    return true;
}

bool CCVireoTrace::AppendText(const char* text, size_t length) {
    if (!Reserve(used_ + length + 1)) return false;
    std::memcpy(buffer_ + used_, text, length);
    used_ += length;
    buffer_[used_] = '\0';
    return true;
}

bool CCVireoTrace::AppendHeader(unsigned level, const char* scope, const char* category, const char* text) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    char head[96];
    int n = std::snprintf(head, sizeof head, "%02u.%02u.%04u %02u:%02u:%02u.%03u\t%04lu\t%04lu", now.wDay,
                          now.wMonth, now.wYear, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds,
                          GetCurrentProcessId(), GetCurrentThreadId());
    if (n < 0 || !AppendText(head, static_cast<size_t>(n))) return false;
    if (level >= 1 && level <= 6) {
        if (!AppendText("\t", 1) || !AppendText(kLevelWords[level], std::strlen(kLevelWords[level])))
            return false;
    }
    if (moduleColumn_) {
        char module[kNameChars];
        size_t length = NarrowLatin1(moduleName_, module, sizeof module);
        if (!AppendText("\t", 1) || !AppendText(module, length)) return false;
    }

    // Class is the part before the first "::" (at most 259 characters).
    if (!scope) scope = "";
    const char* separator = std::strstr(scope, "::");
    const char* className = "<global>";
    size_t classLength = 8;
    const char* method = scope;
    if (separator) {
        className = scope;
        classLength = static_cast<size_t>(separator - scope);
        if (classLength > kNameChars - 1) classLength = kNameChars - 1;
        method = separator + 2;
    }
    const char* fields[] = {method, category ? category : "", text ? text : ""};
    if (!AppendText("\t", 1) || !AppendText(className, classLength)) return false;
    for (const char* field : fields) {
        if (!AppendText("\t", 1) || !AppendText(field, std::strlen(field))) return false;
    }
    return AppendText("\t", 1);
}

bool CCVireoTrace::AppendDetails(const char* format, va_list args) {
    if (!format || !*format) return true;
    for (;;) {
        const size_t room = bufferSize_ - used_;
        va_list copy;
        va_copy(copy, args);
        int n = __mingw_vsnprintf(buffer_ + used_, room, format, copy);
        va_end(copy);
        if (n < 0) {
            // An argument that cannot be converted: keep what was formatted.
            buffer_[bufferSize_ - 1] = '\0';
            used_ += std::strlen(buffer_ + used_);
            return true;
        }
        if (static_cast<size_t>(n) < room) {
            used_ += static_cast<size_t>(n);
            return true;
        }
        if (bufferSize_ > (static_cast<size_t>(-1) >> 1)) return false;
        char* grown = static_cast<char*>(std::realloc(buffer_, bufferSize_ * 2));
        if (!grown) return false;
        buffer_ = grown;
        bufferSize_ *= 2;
    }
}

// --- Appending -------------------------------------------------------------------

void CCVireoTrace::Append(const char* data, size_t length) {
    if (firstWritePending_) {
        if (clear_ || !FileExists(fileName_)) CreateTraceFile();
        firstWritePending_ = false;
    }
    if (sizeLimit_ && bytesWritten_ > sizeLimit_) {
        if (FileSwitch(data, length)) return;
    } else if (timeLimit_ && NowSeconds() > deadline_) {
        bool written = FileSwitch(data, length);
        deadline_ = NowSeconds() + static_cast<long long>(timeLimit_) * 60;
        if (written) return;
    }
    WriteUnits(data, length);
}

void CCVireoTrace::WriteUnits(const char* data, size_t length) {
    UniqueHandle file(CreateFileW(fileName_, FILE_APPEND_DATA, kShareAll, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) return;
    // Every byte becomes the one UTF-16 code unit of the same value; LF is
    // preceded by CR.
    wchar_t units[1024];
    size_t count = 0;
    for (size_t i = 0; i < length; ++i) {
        const unsigned char byte = static_cast<unsigned char>(data[i]);
        if (byte == '\n') units[count++] = L'\r';
        units[count++] = static_cast<wchar_t>(byte);
        if (count >= sizeof units / sizeof units[0] - 1 || i + 1 == length) {
            DWORD done = 0;
            WriteFile(file.Get(), units, static_cast<DWORD>(count * sizeof(wchar_t)), &done, nullptr);
            count = 0;
        }
    }
    bytesWritten_ += static_cast<DWORD>(2 * length);
}

void CCVireoTrace::CreateTraceFile() {
    UniqueHandle file(CreateFileW(fileName_, GENERIC_WRITE, kShareAll, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) return;
    static const unsigned char bom[] = {0xFF, 0xFE};
    DWORD done = 0;
    WriteFile(file.Get(), bom, sizeof bom, &done, nullptr);
    if (sizeLimit_) bytesWritten_ = 2;
    if (timeLimit_) deadline_ = NowSeconds() + static_cast<long long>(timeLimit_) * 60;
}

void CCVireoTrace::HistoryName(wchar_t* out, size_t chars) const {
    static const wchar_t kTraceTxt[] = L".trace.txt";
    const size_t kTraceTxtLength = sizeof kTraceTxt / sizeof kTraceTxt[0] - 1;
    const size_t length = std::wcslen(fileName_);
    size_t baseLength = length;
    const wchar_t* extension = L"";
    if (length >= kTraceTxtLength && _wcsicmp(fileName_ + length - kTraceTxtLength, kTraceTxt) == 0) {
        baseLength = length - kTraceTxtLength;
        extension = kTraceTxt;
    } else if (const wchar_t* dot = std::wcsrchr(fileName_, L'.')) {
        baseLength = static_cast<size_t>(dot - fileName_);
        extension = dot;
    }
    auto format = [&](int number) {
        if (number < 0) {
            std::swprintf(out, chars, L"%.*ls_aaa%ls", static_cast<int>(baseLength), fileName_, extension);
        } else {
            std::swprintf(out, chars, L"%.*ls_%3.3d%ls", static_cast<int>(baseLength), fileName_, number,
                          extension);
        }
    };
    format(0);
    if (!keepHistory_) return;
    for (int number = 0; FileExists(out);) {
        if (number == 999) {
            format(-1);
            return;
        }
        format(++number);
    }
}

// Returns true when `pending` (the record that triggered the switch) has been
// written already, which happens before the fixed records of a failed move.
bool CCVireoTrace::FileSwitch(const char* pending, size_t pendingLength) {
    wchar_t history[kNameChars + 16];
    HistoryName(history, sizeof history / sizeof history[0]);
    const BOOL moved = MoveFileExW(
        fileName_, history, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH);
    const DWORD error = GetLastError();
    if (moved && FileExists(history)) {
        CreateTraceFile();
        return false;
    }

    // The fixed records go straight to the file: no limit check, so they
    // cannot start another switch.
    WriteUnits(pending, pendingLength);
    char record[sizeof kWarningRecord + kErrorTextBuffer + kNameChars + 64];
    int n;
    if (!moved) {
        n = std::snprintf(record, sizeof record, kWarningRecord, static_cast<unsigned long>(error),
                          GetErrorText(error));
        if (n > 0) WriteUnits(record, std::strlen(record));
    }
    char narrowHistory[kNameChars + 16];
    NarrowLatin1(history, narrowHistory, sizeof narrowHistory);
    n = std::snprintf(record, sizeof record, kErrorRecord, narrowHistory);
    if (n > 0) WriteUnits(record, std::strlen(record));
    return true;
}
