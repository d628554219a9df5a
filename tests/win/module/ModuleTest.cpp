// Korvix.dll as a COM server: the registration of both component DLLs, and
// the module loaded, used and unloaded: tracing and the exports.
#include <gtest/gtest.h>

#include <optional>

#include "ComponentInstall.h"
#include "DriverAccess.h"
#include "Korvix.h"
#include "Registry.h"
#include "TableBuilder.h"
#include "TraceFile.h"

namespace {

std::wstring Guid(REFGUID guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}
std::wstring Bin(const wchar_t* dll) {
    return ComponentInstall::BinaryFolder() + L"\\" + dll;
}
using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

} // namespace

// Both DLLs write their keys as plain strings (a REG_EXPAND_SZ does not
// pass) that lead from either ProgID to the class and its server, keep the
// caller's thread locale, and remove the keys again with what others added
// below the class key.
TEST(Registration, BothComponentsWriteConsistentKeysAndRemoveThem) {
    ComApartment apartment{COINIT_APARTMENTTHREADED};
    const LCID german = MAKELCID(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), SORT_DEFAULT);
    ASSERT_TRUE(SetThreadLocale(german));
    const std::wstring libId = Guid(LIBID_Korvix);
    const std::tuple<const wchar_t*, CLSID, std::wstring> rows[] = {
        {L"Korvix.dll", CLSID_SmBiosImpl, L"\"" + Bin(L"Korvix.dll") + L"\""},
        {L"TorvelAccess.dll", CLSID_TorvelAccess, Bin(L"TorvelAccess.dll")}};
    for (const auto& [file, clsid, server] : rows) {
        SCOPED_TRACE(*file);
        const Dll dll(Bin(file));
        ASSERT_EQ(dll.Call("DllRegisterServer"), S_OK);
        EXPECT_EQ(GetThreadLocale(), german);
        const std::wstring key = L"CLSID\\" + Guid(clsid);
        const auto name = ReadSz(key), versioned = ReadSz(key + L"\\ProgID"),
                   progId = ReadSz(key + L"\\VersionIndependentProgID");
        ASSERT_TRUE(name && versioned && progId && !name->empty());
        EXPECT_EQ(ReadSz(*progId + L"\\CurVer"), versioned);
        for (const std::wstring& id : {*progId, *versioned}) {
            EXPECT_EQ(ReadSz(id), name);
            EXPECT_EQ(ReadSz(id + L"\\CLSID"), Guid(clsid));
        }
        EXPECT_EQ(ReadSz(key + L"\\InprocServer32"), server);
        const auto model = ReadSz(key + L"\\InprocServer32", L"ThreadingModel");
        EXPECT_TRUE(model && _wcsicmp(model->c_str(), L"both") == 0);
        if (clsid == CLSID_SmBiosImpl) { // and its application identity and type library
            EXPECT_EQ(*progId, L"Korvix.SmBiosImpl");
            EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, key + L"\\Programmable") && ReadSz(L"AppID\\" + libId));
            using Value = std::pair<std::wstring, const wchar_t*>;
            for (const auto& [path, value] :
                 {Value(key, L"AppID"), Value(L"AppID\\Korvix.DLL", L"AppID"),
                  Value(key + L"\\TypeLib", nullptr),
                  Value(L"Interface\\" + Guid(IID_ISmBiosImpl) + L"\\TypeLib", nullptr)})
                EXPECT_EQ(ReadSz(path, value), libId) << std::filesystem::path(path).string();
            EXPECT_EQ(
                ReadSz(L"TypeLib\\" + libId + (sizeof(void*) == 8 ? L"\\1.0\\0\\win64" : L"\\1.0\\0\\win32")),
                Bin(file));
        }
        ASSERT_EQ(
            RegSetValueW(HKEY_CLASSES_ROOT, (key + L"\\Implemented Categories\\{0}").c_str(), REG_SZ, L"", 0),
            ERROR_SUCCESS);
        EXPECT_EQ(dll.Call("DllUnregisterServer"), S_OK);
        for (const std::wstring& gone : {key, *progId, *versioned, L"AppID\\" + libId, L"TypeLib\\" + libId})
            EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, gone)) << std::filesystem::path(gone).string();
        EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID") && KeyExists(HKEY_CLASSES_ROOT, L"AppID"));
    }
}

// Korvix.dll configures its tracing while it loads: from its own key, or by
// joining this executable's trace object (its own key then unread). The
// module object's records come first and last, around all others. The class
// object serves the component's class only; DllInitialize answers for the
// installed feature.
TEST(ModuleLife, TracingFromLoadToUnloadAndTheExports) {
    ComponentInstall install;
    ASSERT_EQ(install.Error(), "");
    ScopedEnv table(L"KORVIX_SMBIOS_TABLE",
                    std::filesystem::path(TestDataPath("real/dell-poweredge-r640-3.0.bin")));
    TempFolder folder;
    HklmKey key("Software\\Quarnex\\Common\\Tracing\\Korvix.dll\\" KORVIX_VERSION); // major.minor as %d.%02d
    key.SetDword("Trace", 1);
    key.SetDword("TraceLevel", 6);
    key.SetString("TraceFile", (folder.Path() / "own-%PID%.trc").string());
    for (bool host : {false, true}) {
        SCOPED_TRACE(host ? "host" : "own key");
        std::optional<TraceCapture> capture;
        if (host) capture.emplace(folder.File(L"host.trc"), 4);
        {
            ComApartment apartment;
            const Dll korvix(Bin(L"Korvix.dll"));
            const auto slot = korvix.Export<void**>("gg_ptrc");
            ASSERT_TRUE(slot && (*slot == nullptr) == host) << "a module that joins leaves its slot empty";
            const auto get = korvix.Export<GetClassObject>("DllGetClassObject");
            ComPtr<IClassFactory> factory;
            ComPtr<ISmBiosImpl> object;
            void* none = reinterpret_cast<void*>(1);
            EXPECT_EQ(get(IID_ISmBiosImpl, IID_IClassFactory, &none), CLASS_E_CLASSNOTAVAILABLE);
            EXPECT_EQ(none, nullptr);
            ASSERT_EQ(get(CLSID_SmBiosImpl, IID_IClassFactory, factory.PutVoid()), S_OK);
            ASSERT_EQ(factory->CreateInstance(nullptr, IID_ISmBiosImpl, object.PutVoid()), S_OK);
            Bstr feature(ComponentInstall::kFeatureW), version(ComponentInstall::kVersionW),
                context(ComponentInstall::kContextW);
            VARIANT_BOOL ok = VARIANT_FALSE;
            EXPECT_EQ(object->ComponentInitialize(feature.Get(), version.Get(), context.Get(), &ok), S_OK);
            EXPECT_TRUE(ok && object->Initialize() == S_OK);
            const auto init = korvix.Export<bool (*)(const char*, const char*, const char*)>("DllInitialize");
            const auto uninit = korvix.Export<bool (*)()>("DllUninitialize");
            for (const char* feature : {ComponentInstall::kFeature, "NoSuchFeature"}) {
                EXPECT_EQ(init(feature, ComponentInstall::kVersion, ComponentInstall::kContext),
                          feature[0] == 'K');
                EXPECT_TRUE(uninit());
            }
        }
        ASSERT_EQ(GetModuleHandleW(L"Korvix.dll"), nullptr);
        const TraceFileContent c = ReadTraceFile(
            folder.Path() / (host ? "host.trc" : "own-" + Id4(GetCurrentProcessId()) + ".trc"), host);
        EXPECT_TRUE(c.bom && c.bad.empty() && c.trailing.empty());
        std::vector<TraceFileRecord> records;
        for (const TraceFileRecord& r : c.records) {
            EXPECT_EQ(r.pid, Id4(GetCurrentProcessId()));
            EXPECT_TRUE(!host || (r.level != kTraceLevelWords[5] && r.level != kTraceLevelWords[6]));
            if (!host || r.module == "Korvix.dll") records.push_back(r);
        }
        ASSERT_GT(records.size(), 4u);
        EXPECT_EQ(records.front().cls + " " + records.front().category, "CKorvixModule Enter");
        EXPECT_EQ(records.back().cls + " " + records.back().category, "CKorvixModule Leave");
        const auto is = [](const char* cls) { return [=](const TraceFileRecord& r) { return r.cls == cls; }; };
        EXPECT_TRUE(std::any_of(records.begin(), records.end(), is("CSmBiosImpl")));
        // The object's methods name themselves in their Enter and Leave texts.
        for (const std::string m : {"FinalConstruct", "ComponentInitialize", "FinalRelease"})
            for (const char* what : {" has been entered.", " has been left."})
                EXPECT_EQ(std::count_if(records.begin(), records.end(),
                                        [&](auto& r) { return r.text == "Method " + m + what; }),
                          1)
                    << m + what;
        EXPECT_EQ(std::count_if(records.begin(), records.end(), is("CKorvixModule")), 4);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Path()), {}), host ? 2 : 1);
    }
}
