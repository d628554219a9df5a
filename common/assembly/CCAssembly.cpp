// CCAssembly: construction, module identity, the named mutex and the
// initialisation entry points. The dependency table reader lives in
// CCAssemblyFeatureList.cpp, component creation in CCAssemblyCreate.cpp.
#include "CCAssembly.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "common/platform/Module.h"
#include "common/trace/MethodScope.h"

namespace {
const char kEnter[] = "Enter";
const char kLeave[] = "Leave";
const char kInternal[] = "Internal";
const char kFeatureDetails[] = "szFeatureName: %s szFeatureVersion: %s szContextName: %s";

const char* OrEmpty(const char* s) {
    return s ? s : "";
}

// The end of a method made of steps: the record of the step that failed, if
// one did, and the result in the Leave details.
bool Outcome(MethodScope& method, const char* failure) {
    if (failure) Trace(TraceLevel::Error, method.Scope(), kInternal, failure, "");
    method.Leave("bReturn: %d", failure == nullptr);
    return failure == nullptr;
}
} // namespace

CCAssembly::CCAssembly() {
    static const char kScope[] = "CCAssembly::CCAssembly";
    static const char kText[] = "An instance of CCAssembly has been constructed";
    Trace(TraceLevel::InfoCC, kScope, kEnter, kText, "");
    Trace(TraceLevel::InfoCC, kScope, kLeave, kText, "");
}

CCAssembly::~CCAssembly() {
    static const char kScope[] = "CCAssembly::~CCAssembly";
    static const char kText[] = "An instance of CCAssembly has been destructed";
    Trace(TraceLevel::InfoCC, kScope, kEnter, kText, "");
    m_mutex.Reset(); // closed, not released: a thread still owning it abandons it
    Trace(TraceLevel::InfoCC, kScope, kLeave, kText, "");
}

HMODULE CCAssembly::GetModuleHandleRaw() {
    MethodScope method("CCAssembly::GetModuleHandleRaw", MethodScope::Called{});
    const HMODULE module = ThisModule();
    method.Leave("hReturn: 0x%08X", static_cast<unsigned>(reinterpret_cast<uintptr_t>(module)));
    return module;
}

bool CCAssembly::CriticalEnter() {
    MethodScope method("CCAssembly::CriticalEnter", MethodScope::Called{});
    if (!m_mutex.Valid()) {
        char name[3 * kAssemblyStringSize];
        std::snprintf(name, sizeof name, "CCAssembly_PID_%8.8lx_%s_%s",
                      static_cast<unsigned long>(GetCurrentProcessId()), m_szModuleFileName, m_szFileVersion);
        HANDLE mutex = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name);
        if (!mutex) mutex = CreateMutexA(nullptr, FALSE, name);
        if (mutex) {
            m_mutex.Reset(mutex);
        } else {
            Trace(TraceLevel::Error, method.Scope(), kInternal, "Error creating mutex", "GetLastError: %d",
                  static_cast<int>(GetLastError()));
        }
    }
    bool acquired = false;
    if (m_mutex.Valid()) acquired = WaitForSingleObject(m_mutex.Get(), INFINITE) == WAIT_OBJECT_0;
    method.Leave("bReturn: %d", acquired);
    return acquired;
}

void CCAssembly::CriticalLeave() {
    MethodScope method("CCAssembly::CriticalLeave", MethodScope::Called{});
    if (m_mutex.Valid()) ReleaseMutex(m_mutex.Get());
}

bool CCAssembly::InitializeFileNames() {
    MethodScope method("CCAssembly::InitializeFileNames", MethodScope::Called{"InitializeFileName"});
    bool result = false;
    char path[kAssemblyStringSize] = {};
    const DWORD length = GetModuleFileNameA(GetModuleHandleRaw(), path, kAssemblyStringSize);
    if (length == 0 || length >= kAssemblyStringSize) {
        // A path cut at the buffer's end names another file: treated as a failure.
        const DWORD error = length == 0 ? GetLastError() : static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER);
        Trace(TraceLevel::Error, method.Scope(), kInternal, "GetModuleFileName failed", "LastErr=0x%8.8lx",
              static_cast<unsigned long>(error));
    } else {
        AssemblyCopyString(m_szModulePath, path);
        std::snprintf(m_szConfigFilePath, kAssemblyStringSize, "%s%s", m_szModulePath, ".config.xml");
        WIN32_FIND_DATAA found{};
        FindHandle search(FindFirstFileA(m_szModulePath, &found));
        if (search.Valid()) {
            AssemblyCopyString(m_szModuleFileName, found.cFileName);
            result = true;
        } else {
            Trace(TraceLevel::Error, method.Scope(), kInternal, "::FindFirstFile failed", "LastErr=0x%8.8lx",
                  static_cast<unsigned long>(GetLastError()));
        }
    }
    method.Leave("bReturn: %d", result);
    return result;
}

bool CCAssembly::InitializeFileVersion() {
    MethodScope method("CCAssembly::InitializeFileVersion", MethodScope::Called{});
    bool result = false;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(m_szModulePath, &ignored);
    std::unique_ptr<char[]> block(size ? new (std::nothrow) char[size] : nullptr);
    if (block && GetFileVersionInfoA(m_szModulePath, 0, size, block.get())) {
        char subBlock[64] = "\\StringFileInfo\\040904b0\\";
        void* translation = nullptr;
        UINT translationLength = 0;
        if (VerQueryValueA(block.get(), "\\VarFileInfo\\Translation", &translation, &translationLength) &&
            translation && translationLength >= 2 * sizeof(WORD)) {
            const WORD* pair = static_cast<const WORD*>(translation);
            std::snprintf(subBlock, sizeof subBlock, "\\StringFileInfo\\%04x%04x\\", pair[0], pair[1]);
        }
        char query[96];
        std::snprintf(query, sizeof query, "%sFileVersion", subBlock);
        void* value = nullptr;
        UINT valueLength = 0;
        if (VerQueryValueA(block.get(), query, &value, &valueLength) && value) {
            // valueLength counts characters; the value need not be terminated within it.
            const size_t length = valueLength < kAssemblyStringSize ? valueLength : kAssemblyStringSize - 1;
            std::memcpy(m_szFileVersion, value, length);
            m_szFileVersion[length] = '\0';
            m_szFileVersion[strnlen(m_szFileVersion, length)] = '\0';
            result = true;
        } else {
            Trace(TraceLevel::Error, method.Scope(), kInternal,
                  "VerQueryValue failed when retrieving the fileversion from the resources", "");
        }
    }
    method.Leave("bReturn: %d", result);
    return result;
}

bool CCAssembly::InitializeDependencyTablesPath() {
    static const char kFailure[] = "Error accessing registry for getting deptables path";
    MethodScope method("CCAssembly::InitializeDependencyTablesPath", MethodScope::Called{});
    bool result = false;
    char raw[kAssemblyStringSize + 1];
    long error = AssemblyReadCommonValue("DependencyTables", raw);
    if (error == ERROR_SUCCESS) result = AssemblyExpandString(raw, m_szDependencyTablesPath, &error);
    if (!result)
        Trace(TraceLevel::Error, method.Scope(), kInternal, kFailure, "Error: %d", static_cast<int>(error));
    method.Leave("bReturn: %d", result);
    return result;
}

bool CCAssembly::InitializeCommon() {
    MethodScope method("CCAssembly::InitializeCommon", MethodScope::Called{});
    return Outcome(method, !InitializeFileNames()              ? "InitializeFileNames failed"
                           : !InitializeFileVersion()          ? "InitializeFileVersion failed"
                           : !InitializeDependencyTablesPath() ? "InitializeDependencyTablesPath failed"
                                                               : nullptr);
}

bool CCAssembly::InitializeFeature(const char* szFeatureName, const char* szFeatureVersion,
                                   const char* szContextName) {
    MethodScope method("CCAssembly::InitializeFeature", MethodScope::Called{}, kFeatureDetails,
                       OrEmpty(szFeatureName), OrEmpty(szFeatureVersion), OrEmpty(szContextName));
    AssemblyCopyString(m_szFeatureName, szFeatureName);
    AssemblyCopyString(m_szFeatureVersion, szFeatureVersion);
    AssemblyCopyString(m_szContextName, szContextName);
    if (!InitializeFeatureList()) return Outcome(method, "InitializeFeatureList failed");
    m_bInitialized = true;
    return Outcome(method, nullptr);
}

bool CCAssembly::Initialize(const char* szFeatureName, const char* szFeatureVersion,
                            const char* szContextName) {
    MethodScope method("CCAssembly::Initialize", MethodScope::Called{}, kFeatureDetails,
                       OrEmpty(szFeatureName), OrEmpty(szFeatureVersion), OrEmpty(szContextName));
    CriticalSectionHold hold(m_lock);
    return Outcome(method, !InitializeCommon() ? "InitializeCommon failed"
                           : !InitializeFeature(szFeatureName, szFeatureVersion, szContextName)
                               ? "InitializeFeature failed"
                               : nullptr);
}

bool CCAssembly::DllInitialize(const char* szFeatureName, const char* szFeatureVersion,
                               const char* szContextName) {
    MethodScope method("CCAssembly::DllInitialize", MethodScope::Called{}, kFeatureDetails,
                       OrEmpty(szFeatureName), OrEmpty(szFeatureVersion), OrEmpty(szContextName));
    bool result;
    {
        CriticalSectionHold hold(m_lock);
        result = InitializeCommon();
    }
    if (result) {
        // Taken outside the lock: a thread waiting here must not block others'
        // initialisation. Its outcome does not decide the result.
        CriticalEnter();
        CriticalSectionHold hold(m_lock);
        result = InitializeFeature(szFeatureName, szFeatureVersion, szContextName);
        if (!result) Trace(TraceLevel::Error, method.Scope(), kInternal, "Initialize Feature failed", "");
    }
    method.Leave("bReturn: %d", result);
    return result;
}

bool CCAssembly::DllUninitialize() {
    MethodScope method("CCAssembly::DllUninitialize", MethodScope::Called{});
    CriticalLeave();
    method.Leave("bReturn: %d", 1);
    return true;
}
