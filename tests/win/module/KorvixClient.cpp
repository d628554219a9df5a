// A small client process for the tests of what Korvix.dll does at load and
// unload. It loads Korvix.dll from its own folder, uses it and unloads it
// again before it exits, so that the module's static objects run their whole
// life inside this process.
//
//   korvix_client objects [--host FILE LEVEL] [--init]
//       Creates a CSmBiosImpl through the class object. With --init it is
//       given the feature context and initialised (the component and the
//       driver-access component must be installed), then queried; without,
//       one query is made before Initialize. With --host this executable's
//       own trace object is enabled first (file, level, module column on), so
//       that Korvix.dll joins it.
//   korvix_client dllinit FEATURE VERSION CONTEXT
//       Calls DllInitialize and, when it succeeds, DllUninitialize.
//
// Exit codes: 0 done (dllinit: DllInitialize returned true), 1 DllInitialize
// returned false, 2 bad arguments, 10 Korvix.dll not loaded, 11 no class
// object, 12 no object, 13 ComponentInitialize reported failure,
// 14 Initialize failed, 15 a query gave an unexpected answer, 20 Korvix.dll
// did not join the host's trace object, 21 it did not publish its own.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "Korvix.h"
#include "common/platform/ComWrappers.h"
#include "common/trace/ModuleTrace.h"
#include "common/trace/Trace.h"

namespace {

std::wstring OwnFolder() {
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, n);
    return folder.substr(0, folder.find_last_of(L"\\/"));
}

std::wstring Widen(const char* text) {
    std::string s(text);
    return std::wstring(s.begin(), s.end());
}

int UseObject(HMODULE korvix, bool initialize) {
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto getClassObject = reinterpret_cast<GetClassObject>(
        reinterpret_cast<void*>(GetProcAddress(korvix, "DllGetClassObject")));
    ComApartment apartment;
    ComPtr<IClassFactory> factory;
    if (!getClassObject || FAILED(getClassObject(CLSID_SmBiosImpl, IID_IClassFactory, factory.PutVoid())))
        return 11;
    ComPtr<ISmBiosImpl> object;
    if (FAILED(factory->CreateInstance(nullptr, IID_ISmBiosImpl, object.PutVoid()))) return 12;

    Variant names, values;
    ULONG retVal = 99;
    if (!initialize) {
        const HRESULT hr = object->GetFirstInstanceOfType(0, names.Get(), values.Get(), &retVal);
        return hr == E_FAIL && retVal == 1 ? 0 : 15;
    }
    Bstr feature(L"Korvix"), version(L"1.05"), context(L"Client");
    VARIANT_BOOL ok = 0;
    if (FAILED(object->ComponentInitialize(feature.Get(), version.Get(), context.Get(), &ok)) || ok != 1)
        return 13;
    if (object->Initialize() != S_OK) return 14;
    if (object->GetFirstInstanceOfType(1, names.Get(), values.Get(), &retVal) != S_OK || retVal != 0)
        return 15;
    if (object->EnumAllInstances(0, names.Put(), values.Put(), &retVal) != S_OK || retVal != 0) return 15;
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const std::string mode = argv[1];
    bool host = false, initialize = false;
    std::wstring hostFile;
    unsigned hostLevel = 0;
    for (int i = 2; mode == "objects" && i < argc; ++i) {
        if (std::strcmp(argv[i], "--init") == 0) {
            initialize = true;
        } else if (std::strcmp(argv[i], "--host") == 0 && i + 2 < argc) {
            host = true;
            hostFile = Widen(argv[++i]);
            hostLevel = static_cast<unsigned>(std::atoi(argv[++i]));
        } else {
            return 2;
        }
    }
    if (mode != "objects" && !(mode == "dllinit" && argc == 5)) return 2;

    if (host) {
        CCVireoTrace::Settings settings;
        settings.fileName = hostFile.c_str();
        settings.level = hostLevel;
        settings.moduleColumn = true;
        ModuleTraceObject().Apply(settings);
        Trace(TraceLevel::Info, "KorvixClient::Main", "Internal", "The host traces.", "");
    }

    int result = 0;
    {
        LibraryHandle korvix(LoadLibraryW((OwnFolder() + L"\\Korvix.dll").c_str()));
        if (!korvix.Get()) return 10;
        auto* slot = reinterpret_cast<void**>(GetProcAddress(korvix.Get(), "gg_ptrc"));
        if (!slot) return 21;
        // A module that joined the host leaves its slot empty; one that did
        // not publishes its own trace object there.
        if (host && *slot != nullptr) return 20;
        if (!host && *slot == nullptr) return 21;

        if (mode == "objects") {
            result = UseObject(korvix.Get(), initialize);
        } else {
            using DllInitialize = bool (*)(const char*, const char*, const char*);
            using DllUninitialize = bool (*)();
            auto init = reinterpret_cast<DllInitialize>(
                reinterpret_cast<void*>(GetProcAddress(korvix.Get(), "DllInitialize")));
            auto uninit = reinterpret_cast<DllUninitialize>(
                reinterpret_cast<void*>(GetProcAddress(korvix.Get(), "DllUninitialize")));
            if (!init || !uninit) return 10;
            ComApartment apartment; // the dependency table is read through COM
            result = init(argv[2], argv[3], argv[4]) ? 0 : 1;
            if (result == 0) uninit();
        }
    } // Korvix.dll unloads here, with its static objects
    if (host) Trace(TraceLevel::Info, "KorvixClient::Main", "Internal", "The host ends.", "");
    return result;
}
