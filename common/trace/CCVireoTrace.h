// The trace writer shared by every module of the component family.
//
// One object per module (see ModuleTrace.h) decides once, at module load,
// whether the module traces: it joins the trace object that the process's main
// executable exports as "gg_ptrc", or reads the module's own registry key below
// HKEY_LOCAL_MACHINE. When enabled, every Trace() call that passes the level
// filter appends one tab-separated UTF-16LE record to the trace file. Writers of
// one process that name the same file are serialised by a named semaphore; the
// file is opened and closed for every record and moved into history files by
// size or age.
//
// Objects of other modules read this object's fields when they join it, so the
// layout is part of the contract: fixed-size name buffers, no library types.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdarg>
#include <cstddef>

class CCVireoTrace {
public:
    // What a host or a test can set in code instead of through the registry.
    struct Settings {
        bool enabled = true;
        unsigned level = 6;
        const wchar_t* fileName = L"Trace.trc";
        DWORD sizeLimit = 0;        // bytes; 0 = none
        DWORD timeLimitMinutes = 0; // 0 = none
        bool moduleColumn = false;
        bool clear = false;
        bool keepHistory = false;
    };

    enum Flags : DWORD {
        FlagModuleColumn = 0x01,
        FlagClear = 0x02,
        FlagReserved = 0x04,
        FlagKeepHistory = 0x10,
        FlagTraceValueDecides = 0x20,
    };

    static constexpr size_t kNameChars = MAX_PATH;   // file name, module name, key path
    static constexpr size_t kInitialBuffer = 4096;   // record buffer at start
    static constexpr size_t kErrorTextBuffer = 4096; // GetErrorText result

    // Builds the object and configures it at once (registry or host object).
    // `exportSlot` is this module's exported "gg_ptrc" slot; the object stores
    // its own address there when it does not join a host object. Null: no slot.
    // `threshold`, when given, is kept at one more than the level this object
    // records (0 while it is off): the binary's inline Trace() gate.
    CCVireoTrace(const char* keyTemplate, DWORD flags, const char* semaphorePrefix, const char* baseKeyPath,
                 CCVireoTrace** exportSlot = nullptr, std::atomic<unsigned>* threshold = nullptr);
    ~CCVireoTrace();
    CCVireoTrace(const CCVireoTrace&) = delete;
    CCVireoTrace& operator=(const CCVireoTrace&) = delete;

    // Joins the enabled, module-column trace object exported by the main
    // executable under `exportName`. Returns false (and stores `self` into
    // `exportSlot`) when there is none to join.
    virtual bool AttachToProcessTrace(const char* exportName, CCVireoTrace* self, CCVireoTrace** exportSlot);
    // Reads the configuration once; does nothing while tracing is enabled.
    virtual void Configure(const char* keyTemplate, DWORD flags, const char* baseKeyPath);

    // Replaces the configuration in code. Call it only while no other thread
    // traces through this object (e.g. at start-up of a host or a test).
    void Apply(const Settings& settings);

    // The filter every record passes first; nothing else is done when false.
    bool Wanted(unsigned level) const { return enabled_.load(std::memory_order_relaxed) && level <= level_; }
    void Trace(unsigned level, const char* scope, const char* category, const char* text, const char* details,
               ...);
    void TraceV(unsigned level, const char* scope, const char* category, const char* text,
                const char* details, va_list args);

    // Text for an HRESULT or Win32 error code; valid until the next call.
    static const char* GetErrorText(DWORD code);
    // Handle of the module that contains this code (0 when unknown).
    HMODULE GetModuleHandleRaw();

    // Read-only view of the configuration, for hosts and tests.
    bool Enabled() const { return enabled_.load(std::memory_order_relaxed); }
    unsigned Level() const { return level_; }
    const wchar_t* FileName() const { return fileName_; }
    const wchar_t* ModuleName() const { return moduleName_; }
    bool ModuleColumn() const { return moduleColumn_; }
    bool ClearFlag() const { return clear_; }
    bool KeepHistory() const { return keepHistory_; }
    bool FirstWritePending() const { return firstWritePending_; }
    DWORD SizeLimit() const { return sizeLimit_; }
    DWORD TimeLimitMinutes() const { return timeLimit_; }
    DWORD DelaySeconds() const { return delaySecs_; }
    DWORD BytesWritten() const { return bytesWritten_; }
    bool TraceInfoShown() const { return traceInfoShown_; }
    const char* KeyPath() const { return keyPath_; }
    HANDLE SemaphoreHandle() const { return semaphore_.load(std::memory_order_acquire); }

private:
    void Reset();
    void PublishThreshold();
    void CaptureModuleName();
    void ExpandKeyPath(const char* path, char* out, size_t outChars);
    void ReadTraceFile(HKEY key);
    void ShowTraceInfo();

    bool AcquireSemaphore();
    void LeaveSemaphore();
    void BuildSemaphoreName(char* name, size_t chars) const;

    bool Reserve(size_t bytes);
    bool AppendText(const char* text, size_t length);
    bool AppendHeader(unsigned level, const char* scope, const char* category, const char* text);
    bool AppendDetails(const char* format, va_list args);

    void Append(const char* data, size_t length);
    void WriteUnits(const char* data, size_t length);
    void CreateTraceFile();
    bool FileSwitch(const char* pending, size_t pendingLength);
    void HistoryName(wchar_t* out, size_t chars) const;

    // Layout below is read by joining objects of other modules.
    std::atomic<bool> enabled_{false};
    bool moduleColumn_ = false;
    bool clear_ = false;
    bool firstWritePending_ = true;
    bool keepHistory_ = false;
    bool traceInfoShown_ = false;
    unsigned level_ = 0;
    DWORD sizeLimit_ = 0;
    DWORD bytesWritten_ = 0;
    DWORD timeLimit_ = 0;
    DWORD delaySecs_ = 0;
    long long deadline_ = 0; // seconds since 1970-01-01 UTC
    wchar_t fileName_[kNameChars] = {};
    wchar_t moduleName_[kNameChars] = {};
    char semaphorePrefix_[kNameChars] = {};
    char keyPath_[kNameChars] = {};
    std::atomic<HANDLE> semaphore_{nullptr};
    CCVireoTrace** exportSlot_ = nullptr;

    // The record being assembled; guarded by the semaphore.
    char* buffer_ = nullptr;
    size_t bufferSize_ = 0;
    size_t used_ = 0;

    std::atomic<unsigned>* threshold_ = nullptr;
};
