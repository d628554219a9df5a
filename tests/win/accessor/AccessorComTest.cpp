// TorvelAccess.dll as a client meets it: registered in the prefix, created by
// ProgID, then unregistered again.
#include <gtest/gtest.h>

#include <objbase.h>

#include <thread>

#include "AccessorTestSupport.h"
#include "Registration.h"
#include "common/assembly/ComponentInit.h"

namespace {

using RegisterFn = HRESULT(STDAPICALLTYPE*)();
using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

std::wstring ClsidKey() {
    wchar_t text[64];
    StringFromGUID2(CLSID_TorvelAccess, text, 64);
    return std::wstring(L"CLSID\\") + text;
}

bool KeyExists(const std::wstring& path) {
    RegKey key;
    return RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.Put()) == ERROR_SUCCESS;
}

std::wstring StringValue(const std::wstring& path, const wchar_t* name = nullptr) {
    wchar_t value[1024] = {};
    DWORD bytes = sizeof(value);
    if (RegGetValueW(HKEY_CLASSES_ROOT, path.c_str(), name, RRF_RT_REG_SZ, nullptr, value, &bytes) !=
        ERROR_SUCCESS) {
        return L"<missing>";
    }
    return value;
}

std::wstring Normalised(std::wstring path) {
    for (auto& c : path)
        c = c == L'/' ? L'\\' : static_cast<wchar_t>(towlower(c));
    return path;
}

// Loads the DLL and registers it; unregisters at the end of the test.
class RegisteredAccessor : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(apartment.Result()));
        dll.Reset(LoadLibraryW(dllPath.c_str()));
        ASSERT_NE(dll.Get(), nullptr);
        registerServer = reinterpret_cast<RegisterFn>(GetProcAddress(dll.Get(), "DllRegisterServer"));
        unregisterServer = reinterpret_cast<RegisterFn>(GetProcAddress(dll.Get(), "DllUnregisterServer"));
        canUnloadNow = reinterpret_cast<RegisterFn>(GetProcAddress(dll.Get(), "DllCanUnloadNow"));
        getClassObject = reinterpret_cast<GetClassObjectFn>(GetProcAddress(dll.Get(), "DllGetClassObject"));
        ASSERT_TRUE(registerServer && unregisterServer && canUnloadNow && getClassObject);
        ASSERT_EQ(registerServer(), S_OK);
    }
    void TearDown() override {
        if (unregisterServer) {
            EXPECT_EQ(unregisterServer(), S_OK);
        }
    }

    ComApartment apartment{COINIT_APARTMENTTHREADED};
    TableFileVariable noFile{nullptr};
    const std::wstring dllPath = Wide(KORVIX_ACCESSOR_DLL);
    LibraryHandle dll;
    RegisterFn registerServer = nullptr;
    RegisterFn unregisterServer = nullptr;
    RegisterFn canUnloadNow = nullptr;
    GetClassObjectFn getClassObject = nullptr;
};

} // namespace

TEST_F(RegisteredAccessor, RegistrationEntries) {
    const std::wstring clsid = ClsidKey();
    EXPECT_EQ(Normalised(StringValue(clsid + L"\\InprocServer32")), Normalised(dllPath));
    EXPECT_EQ(StringValue(clsid + L"\\InprocServer32", L"ThreadingModel"), L"Both");
    EXPECT_EQ(StringValue(clsid + L"\\ProgID"), L"AcTorvel.TorvelAccess.1");
    EXPECT_EQ(StringValue(clsid + L"\\VersionIndependentProgID"), L"AcTorvel.TorvelAccess");
    EXPECT_EQ(StringValue(L"AcTorvel.TorvelAccess\\CurVer"), L"AcTorvel.TorvelAccess.1");

    CLSID fromProgId{};
    ASSERT_EQ(CLSIDFromProgID(L"AcTorvel.TorvelAccess", &fromProgId), S_OK);
    EXPECT_TRUE(IsEqualCLSID(fromProgId, CLSID_TorvelAccess));
    ASSERT_EQ(CLSIDFromProgID(L"AcTorvel.TorvelAccess.1", &fromProgId), S_OK);
    EXPECT_TRUE(IsEqualCLSID(fromProgId, CLSID_TorvelAccess));
}

TEST_F(RegisteredAccessor, CreatedByProgIdServesTheTableFile) {
    const Bytes expected = ReadFile(RealTable("lenovo-thinkpad-t490-3.1.bin"));
    ASSERT_FALSE(expected.empty());
    TableFileVariable file(Wide(RealTable("lenovo-thinkpad-t490-3.1.bin")).c_str());

    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(L"AcTorvel.TorvelAccess", &clsid), S_OK);
    ComPtr<IDriverAccessRaw> raw;
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IDriverAccessRaw, raw.PutVoid()), S_OK);
    ComPtr<IComponentInit> init;
    ASSERT_EQ(raw.As(IID_IComponentInit, init), S_OK);
    VARIANT_BOOL ok = VARIANT_FALSE;
    Bstr name(L"Feature");
    EXPECT_EQ(init->Initialize(name.Get(), name.Get(), name.Get(), &ok), S_OK);
    EXPECT_EQ(ok, VARIANT_TRUE);

    HRESULT hr = E_FAIL;
    EXPECT_TRUE(ReadTable(raw.Get(), &hr) == expected);
    EXPECT_EQ(hr, S_OK);

    // The object keeps the DLL loaded.
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    init.Reset();
    raw.Reset();
    EXPECT_EQ(canUnloadNow(), S_OK);
}

TEST_F(RegisteredAccessor, UsableFromAnotherApartment) {
    ComPtr<IDriverServices> services;
    ASSERT_EQ(CoCreateInstance(CLSID_TorvelAccess, nullptr, CLSCTX_INPROC_SERVER, IID_IDriverServices,
                               services.PutVoid()),
              S_OK);
    IStream* stream = nullptr;
    ASSERT_EQ(CoMarshalInterThreadInterfaceInStream(IID_IDriverServices, services.Get(), &stream), S_OK);
    HRESULT unmarshaled = E_FAIL, started = E_FAIL;
    ULONG status = 99;
    IDriverServices* seen = nullptr;
    std::thread worker([&] {
        ComApartment mta(COINIT_MULTITHREADED);
        ComPtr<IDriverServices> there;
        unmarshaled = CoGetInterfaceAndReleaseStream(stream, IID_IDriverServices, there.PutVoid());
        if (SUCCEEDED(unmarshaled)) {
            seen = there.Get();
            started = there->Start(&status);
        }
    });
    worker.join();
    ASSERT_EQ(unmarshaled, S_OK);
    EXPECT_EQ(started, S_OK);
    EXPECT_EQ(status, 0u);
    // The free-threaded marshaler hands over the object itself, no proxy.
    EXPECT_EQ(seen, services.Get());
    EXPECT_EQ(services->Start(&status), S_OK);
    EXPECT_EQ(status, static_cast<ULONG>(DA_STATUS_ALREADY_RUNNING));
}

TEST_F(RegisteredAccessor, ClassObject) {
    ComPtr<IClassFactory> factory;
    EXPECT_EQ(getClassObject(IID_IDispatch, IID_IClassFactory, factory.PutVoid()), CLASS_E_CLASSNOTAVAILABLE);
    ASSERT_EQ(getClassObject(CLSID_TorvelAccess, IID_IClassFactory, factory.PutVoid()), S_OK);
    ComPtr<IUnknown> outer;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, outer.PutVoid()), S_OK);
    ComPtr<IUnknown> aggregated;
    EXPECT_EQ(factory->CreateInstance(outer.Get(), IID_IUnknown, aggregated.PutVoid()),
              CLASS_E_NOAGGREGATION);
    outer.Reset();

    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    factory->LockServer(FALSE);
    factory.Reset();
    EXPECT_EQ(canUnloadNow(), S_OK);
}

TEST_F(RegisteredAccessor, UnregistrationRemovesItsKeysOnly) {
    ASSERT_EQ(unregisterServer(), S_OK);
    EXPECT_FALSE(KeyExists(ClsidKey()));
    EXPECT_FALSE(KeyExists(L"AcTorvel.TorvelAccess"));
    EXPECT_FALSE(KeyExists(L"AcTorvel.TorvelAccess.1"));
    CLSID clsid{};
    EXPECT_TRUE(FAILED(CLSIDFromProgID(L"AcTorvel.TorvelAccess", &clsid)));
    ComPtr<IDriverAccessRaw> raw;
    EXPECT_TRUE(FAILED(
        CoCreateInstance(CLSID_TorvelAccess, nullptr, CLSCTX_ALL, IID_IDriverAccessRaw, raw.PutVoid())));
    // Unregistering twice is no error.
    EXPECT_EQ(unregisterServer(), S_OK);

    // A versioned ProgID that another class has taken over is left alone.
    ASSERT_EQ(registerServer(), S_OK);
    {
        RegKey key;
        ASSERT_EQ(
            RegOpenKeyExW(HKEY_CLASSES_ROOT, L"AcTorvel.TorvelAccess.1\\CLSID", 0, KEY_SET_VALUE, key.Put()),
            ERROR_SUCCESS);
        const wchar_t other[] = L"{00000000-1111-2222-3333-444444444444}";
        ASSERT_EQ(RegSetValueExW(key.Get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(other),
                                 sizeof(other)),
                  ERROR_SUCCESS);
    }
    EXPECT_EQ(unregisterServer(), S_OK);
    EXPECT_TRUE(KeyExists(L"AcTorvel.TorvelAccess.1"));
    EXPECT_FALSE(KeyExists(L"AcTorvel.TorvelAccess"));
    EXPECT_FALSE(KeyExists(ClsidKey()));
    EXPECT_EQ(RegDeleteTreeW(HKEY_CLASSES_ROOT, L"AcTorvel.TorvelAccess.1"), ERROR_SUCCESS);
}

TEST(AccessorDll, VersionResource) {
    const std::wstring path = Wide(KORVIX_ACCESSOR_DLL);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, info.data()));
    wchar_t* text = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\StringFileInfo\\040904b0\\OriginalFilename",
                               reinterpret_cast<void**>(&text), &length));
    EXPECT_STREQ(text, L"TorvelAccess.dll");
    VS_FIXEDFILEINFO* fixed = nullptr;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(HIWORD(fixed->dwFileVersionMS), 1u);
}
