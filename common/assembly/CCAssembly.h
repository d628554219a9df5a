// The component model object every component of the family carries: which
// module it lives in (path, file name, file version), where the dependency
// tables are, for which feature, feature version and context it has been
// initialised, the dependencies that feature's table lists, and the creation
// of sibling components by version-independent ProgID.
//
// Typical use inside a component:
//   m_assembly.Initialize(feature, version, context);        // reads the table
//   m_assembly.CoCreateInstance("AcTorvel.TorvelAccess", reinterpret_cast<void**>(&p),
//                               nullptr, CLSCTX_ALL, IID_IDriverAccessRaw);
//
// Nothing here throws; failures are bool/HRESULT results plus trace records.
#pragma once

#include <windows.h>

#include "common/assembly/DependencyMap.h"
#include "common/platform/ComWrappers.h"
#include "common/platform/CriticalSection.h"

class CCAssembly {
public:
    CCAssembly();
    CCAssembly(const CCAssembly&) = delete;
    CCAssembly& operator=(const CCAssembly&) = delete;
    // Closes the mutex handle (without releasing the mutex).
    ~CCAssembly();

    // Allocation base of the module holding this code (the EXE or DLL the
    // library is linked into); 0 when the memory query fails.
    HMODULE GetModuleHandleRaw();

    // Opens or creates the per-process mutex "CCAssembly_PID_<pid>_<file>_<version>"
    // on first use and waits for it without time-out. True only when acquired.
    bool CriticalEnter();
    // Releases the mutex; failure (not owned) is ignored.
    void CriticalLeave();

    // Identity: module path, configuration file path and module file name.
    bool InitializeFileNames();
    // "FileVersion" of the module's version resource (Translation block, else 040904b0).
    bool InitializeFileVersion();
    // HKLM "SOFTWARE\Quarnex\Common" value "DependencyTables", environment variables expanded.
    bool InitializeDependencyTablesPath();
    // The three above, stopping at the first failure.
    bool InitializeCommon();

    // Records the feature context and reads "<tables>\<feature>_<version>.xml"
    // into the dependency maps. Callers hold the lock (Initialize, DllInitialize).
    bool InitializeFeature(const char* szFeatureName, const char* szFeatureVersion,
                           const char* szContextName);
    bool InitializeFeatureList();

    // InitializeCommon then InitializeFeature, under the lock.
    bool Initialize(const char* szFeatureName, const char* szFeatureVersion, const char* szContextName);
    // As Initialize, but also acquires the named mutex between the two steps;
    // the calling thread owns it until it calls DllUninitialize.
    bool DllInitialize(const char* szFeatureName, const char* szFeatureVersion, const char* szContextName);
    // Releases the mutex; always true.
    bool DllUninitialize();

    // Version-independent ProgID -> versioned ProgID (through the COM
    // dependency map, letter case ignored) -> class id. E_FAIL before
    // initialisation, CLASS_E_CLASSNOTAVAILABLE for a ProgID not in the table.
    HRESULT CLSIDFromProgID(const char* szProgID, CLSID* pClsid);
    // Creates the component named by its version-independent ProgID, hands
    // out `riid` in *ppv and initialises it for this assembly's feature
    // context through IComponentInit. *ppv is cleared on entry; once the
    // requested interface has been obtained it stays set (one reference)
    // even when IComponentInit fails, so the caller releases any non-null
    // *ppv. A component that answers VARIANT_FALSE with a success code gives
    // E_UNEXPECTED.
    HRESULT CoCreateInstance(const char* szProgID, void** ppv, IUnknown* pUnkOuter, DWORD dwClsContext,
                             REFIID riid);

    bool IsInitialized() const { return m_bInitialized; }
    const char* ModulePath() const { return m_szModulePath; }
    const char* ConfigFilePath() const { return m_szConfigFilePath; }
    const char* DependencyTablesPath() const { return m_szDependencyTablesPath; }
    const char* FeatureName() const { return m_szFeatureName; }
    const char* FeatureVersion() const { return m_szFeatureVersion; }
    const char* ContextName() const { return m_szContextName; }
    const char* ModuleFileName() const { return m_szModuleFileName; }
    const char* FileVersion() const { return m_szFileVersion; }
    const char* ComponentRoot() const { return m_szComponentRoot; }
    // COM dependencies keyed by version-independent ProgID, other
    // dependencies keyed by name. Entries accumulate over initialisations.
    const CCDependencyMap& ComDependencies() const { return m_comDependencies; }
    const CCDependencyMap& Win32Dependencies() const { return m_win32Dependencies; }

private:
    // The body of InitializeFeatureList: load, queries, component root, maps.
    bool ReadDependencyTable(const char* szFileName);
    void ReadComponentRoot();

    bool m_bInitialized = false;
    char m_szModulePath[kAssemblyStringSize] = {};
    char m_szConfigFilePath[kAssemblyStringSize] = {};
    char m_szDependencyTablesPath[kAssemblyStringSize] = {};
    char m_szFeatureName[kAssemblyStringSize] = {};
    char m_szFeatureVersion[kAssemblyStringSize] = {};
    char m_szContextName[kAssemblyStringSize] = {};
    char m_szModuleFileName[kAssemblyStringSize] = {};
    char m_szFileVersion[kAssemblyStringSize] = {};
    char m_szComponentRoot[kAssemblyStringSize] = {};
    CCDependencyMap m_win32Dependencies;
    CCDependencyMap m_comDependencies;
    CriticalSection m_lock;
    UniqueHandle m_mutex;
};
