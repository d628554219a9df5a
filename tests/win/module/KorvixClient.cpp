// A client process for the tests of what Korvix.dll does at load and unload:
// it loads Korvix.dll from its own folder, uses it and unloads it before it
// exits, so that the module's static objects live their whole life here.
//   korvix_client query         one query before Initialize (not-initialised answer)
//   korvix_client init          ComponentInitialize, Initialize and two queries
//   korvix_client host FILE     as init, with this executable's trace object
//                               enabled first (FILE, level 4, module column on)
// Exit codes: 0 done, 2 bad arguments,
// 10 Korvix.dll not loaded, 11 no class object or object, 13 ComponentInitialize
// failed, 14 Initialize failed, 15 an unexpected answer, 20 Korvix.dll did not
// join the host's trace object, 21 it did not publish its own.
#include <windows.h>

#include <string>

#include "Korvix.h"
#include "common/platform/ComWrappers.h"
#include "common/trace/ModuleTrace.h"
#include "common/trace/Trace.h"

namespace {

template <class F> F Export(HMODULE module, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

int UseObject(HMODULE korvix, bool initialize) {
    ComApartment apartment;
    ComPtr<IClassFactory> factory;
    ComPtr<ISmBiosImpl> object;
    auto getClassObject =
        Export<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(korvix, "DllGetClassObject");
    if (!getClassObject || FAILED(getClassObject(CLSID_SmBiosImpl, IID_IClassFactory, factory.PutVoid())) ||
        FAILED(factory->CreateInstance(nullptr, IID_ISmBiosImpl, object.PutVoid())))
        return 11;
    Variant names, values;
    ULONG retVal = 99;
    if (!initialize)
        return object->GetFirstInstanceOfType(0, names.Get(), values.Get(), &retVal) == E_FAIL && retVal == 1
                   ? 0
                   : 15;
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
    const std::string mode = argc > 1 ? argv[1] : "";
    const bool host = mode == "host" && argc == 3;
    if (!host && mode != "query" && mode != "init") return 2;
    const std::string file = host ? argv[2] : "";
    const std::wstring hostFile(file.begin(), file.end());
    if (host) {
        CCVireoTrace::Settings settings;
        settings.fileName = hostFile.c_str();
        settings.level = 4;
        settings.moduleColumn = true;
        ModuleTraceObject().Apply(settings);
        Trace(TraceLevel::Info, "KorvixClient::Main", "Internal", "The host traces.", "");
    }
    int result = 0;
    {
        wchar_t path[MAX_PATH];
        std::wstring folder(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
        LibraryHandle korvix(LoadLibraryW((folder.substr(0, folder.rfind(L'\\')) + L"\\Korvix.dll").c_str()));
        if (!korvix.Get()) return 10;
        // A module that joined the host leaves its slot empty; one that did
        // not publishes its own trace object there.
        auto* slot = Export<void**>(korvix.Get(), "gg_ptrc");
        if (!slot || (!host && *slot == nullptr)) return 21;
        if (host && *slot != nullptr) return 20;
        result = UseObject(korvix.Get(), mode != "query");
    } // Korvix.dll unloads here, with its static objects
    if (host) Trace(TraceLevel::Info, "KorvixClient::Main", "Internal", "The host ends.", "");
    return result;
}
