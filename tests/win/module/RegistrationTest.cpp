// Registration of Korvix.dll: the keys and values the scripts write under
// HKEY_CLASSES_ROOT, the type library, what unregistration removes and keeps,
// the caller's thread locale, a module path that fills the path buffer, and
// regsvr32.
#include <gtest/gtest.h>

#include <fstream>

#include "Korvix.h"
#include "ModuleTestSupport.h"

using namespace moduletest;

namespace {

std::wstring GuidText(REFGUID guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

const std::wstring kClsid = GuidText(CLSID_SmBiosImpl);
const std::wstring kLibId = GuidText(LIBID_Korvix);
const std::wstring kClassKey = L"CLSID\\" + kClsid;
const wchar_t kFriendlyName[] = L"CSmBiosImpl Object";

std::wstring Quoted(const std::wstring& path) {
    return L"\"" + path + L"\"";
}

std::optional<std::wstring> ClassesValue(const std::wstring& path, const wchar_t* name = L"") {
    return StringValue(HKEY_CLASSES_ROOT, path, name);
}

bool ClassesKey(const std::wstring& path) {
    return KeyExists(HKEY_CLASSES_ROOT, path);
}

// Nothing of the component's own registration is present.
void ExpectNothingRegistered() {
    EXPECT_FALSE(ClassesKey(L"Korvix.SmBiosImpl.1.05"));
    EXPECT_FALSE(ClassesKey(L"Korvix.SmBiosImpl"));
    EXPECT_FALSE(ClassesKey(kClassKey));
    EXPECT_FALSE(ClassesKey(L"AppID\\" + kLibId));
    EXPECT_FALSE(ClassesKey(L"AppID\\Korvix.DLL"));
    EXPECT_FALSE(ClassesKey(L"TypeLib\\" + kLibId));
}

// Registers the module for one test and unregisters it at the end.
class Registered {
public:
    explicit Registered(const KorvixModule& module) : module_(module), result_(module.Register()) {}
    ~Registered() {
        if (SUCCEEDED(result_)) module_.Unregister();
    }
    HRESULT Result() const { return result_; }

private:
    const KorvixModule& module_;
    HRESULT result_;
};

class Registration : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(module.Handle(), nullptr);
        // Registrations left by another test would make every check here moot.
        ExpectNothingRegistered();
    }
    void TearDown() override {
        ExpectNothingRegistered();
        // A failed check must not leave the component registered for others.
#ifdef _WIN64
        UnRegisterTypeLib(LIBID_Korvix, 1, 0, LOCALE_NEUTRAL, SYS_WIN64);
#else
        UnRegisterTypeLib(LIBID_Korvix, 1, 0, LOCALE_NEUTRAL, SYS_WIN32);
#endif
        const std::wstring keys[] = {L"Korvix.SmBiosImpl.1.05", L"Korvix.SmBiosImpl", kClassKey,
                                     L"AppID\\" + kLibId, L"AppID\\Korvix.DLL"};
        for (const std::wstring& key : keys) {
            RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
            RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
        }
    }

    ComApartment apartment{COINIT_APARTMENTTHREADED};
    KorvixModule module;
};

// A copy of Korvix.dll whose full path is exactly `length` characters long.
class ModuleCopy {
public:
    explicit ModuleCopy(size_t length) : root_("path") {
        std::wstring folder = root_.Path().wstring();
        const size_t folderChars = length - std::wstring(L"\\Korvix.dll").size();
        while (folder.size() < folderChars) {
            // A backslash and up to 120 characters, never leaving a rest of one.
            const size_t remaining = folderChars - folder.size();
            size_t segment = remaining - 1;
            if (segment > 120) segment = remaining - 121 >= 2 ? 120 : 100;
            folder += L"\\" + std::wstring(segment, L'p');
            CreateDirectoryW((L"\\\\?\\" + folder).c_str(), nullptr);
        }
        path_ = folder + L"\\Korvix.dll";
        copied_ = CopyFileW(KorvixPath().c_str(), (L"\\\\?\\" + path_).c_str(), FALSE) != FALSE;
    }
    ~ModuleCopy() {
        DeleteFileW((L"\\\\?\\" + path_).c_str());
        std::wstring folder = path_.substr(0, path_.find_last_of(L'\\'));
        while (folder.size() > root_.Path().wstring().size()) {
            RemoveDirectoryW((L"\\\\?\\" + folder).c_str());
            folder = folder.substr(0, folder.find_last_of(L'\\'));
        }
    }
    const std::wstring& Path() const { return path_; }
    bool Copied() const { return copied_; }

private:
    TempFolder root_;
    std::wstring path_;
    bool copied_ = false;
};

std::wstring LoadedPath(HMODULE module) {
    wchar_t path[1024];
    const DWORD n = GetModuleFileNameW(module, path, 1024);
    return std::wstring(path, n);
}

} // namespace

TEST_F(Registration, WritesTheProgIdsClassKeyAndAppId) {
    Registered registered(module);
    ASSERT_EQ(registered.Result(), S_OK);

    EXPECT_EQ(ClassesValue(L"Korvix.SmBiosImpl.1.05"), kFriendlyName);
    EXPECT_EQ(ClassesValue(L"Korvix.SmBiosImpl.1.05\\CLSID"), kClsid);
    EXPECT_EQ(ClassesValue(L"Korvix.SmBiosImpl"), kFriendlyName);
    EXPECT_EQ(ClassesValue(L"Korvix.SmBiosImpl\\CLSID"), kClsid);
    EXPECT_EQ(ClassesValue(L"Korvix.SmBiosImpl\\CurVer"), L"Korvix.SmBiosImpl.1.05");

    EXPECT_EQ(ClassesValue(kClassKey), kFriendlyName);
    EXPECT_EQ(ClassesValue(kClassKey + L"\\ProgID"), L"Korvix.SmBiosImpl.1.05");
    EXPECT_EQ(ClassesValue(kClassKey + L"\\VersionIndependentProgID"), L"Korvix.SmBiosImpl");
    EXPECT_TRUE(ClassesKey(kClassKey + L"\\Programmable"));
    EXPECT_EQ(ClassesValue(kClassKey + L"\\Programmable"), std::nullopt) << "a key without value";
    // The server key is named by the module type and holds the quoted path.
    EXPECT_EQ(ClassesValue(kClassKey + L"\\InprocServer32"), Quoted(KorvixPath()));
    EXPECT_EQ(ClassesValue(kClassKey + L"\\InprocServer32", L"ThreadingModel"), L"both");
    EXPECT_FALSE(ClassesKey(kClassKey + L"\\LocalServer32"));
    EXPECT_FALSE(ClassesKey(kClassKey + L"\\%MODULETYPE%"));
    EXPECT_EQ(ClassesValue(kClassKey, L"AppID"), kLibId);
    EXPECT_EQ(ClassesValue(kClassKey + L"\\TypeLib"), kLibId);

    EXPECT_EQ(ClassesValue(L"AppID\\" + kLibId), L"Korvix");
    EXPECT_EQ(ClassesValue(L"AppID\\Korvix.DLL", L"AppID"), kLibId);

    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID(L"Korvix.SmBiosImpl", &clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_SmBiosImpl);
}

TEST_F(Registration, RegistersTheTypeLibraryWithItsHelpStrings) {
    Registered registered(module);
    ASSERT_EQ(registered.Result(), S_OK);
    EXPECT_EQ(ClassesValue(L"TypeLib\\" + kLibId + L"\\1.0"), L"Korvix 1.0 Type Library");
#ifdef _WIN64
    EXPECT_EQ(ClassesValue(L"TypeLib\\" + kLibId + L"\\1.0\\0\\win64"), KorvixPath());
#else
    EXPECT_EQ(ClassesValue(L"TypeLib\\" + kLibId + L"\\1.0\\0\\win32"), KorvixPath());
#endif
    EXPECT_EQ(ClassesValue(L"Interface\\" + GuidText(IID_ISmBiosImpl) + L"\\TypeLib"), kLibId);

    ComPtr<ITypeLib> lib;
    ASSERT_EQ(LoadRegTypeLib(LIBID_Korvix, 1, 0, LOCALE_NEUTRAL, lib.Put()), S_OK);
    auto helpString = [](ITypeInfo* info, MEMBERID member) {
        Bstr name, doc;
        if (FAILED(info->GetDocumentation(member, name.Put(), doc.Put(), nullptr, nullptr)))
            return std::wstring(L"<none>");
        return std::wstring(doc.Get() ? doc.Get() : L"");
    };
    Bstr libName, libDoc;
    ASSERT_EQ(lib->GetDocumentation(-1, libName.Put(), libDoc.Put(), nullptr, nullptr), S_OK);
    EXPECT_STREQ(libDoc.Get(), L"Korvix 1.0 Type Library");

    ComPtr<ITypeInfo> smBios, smBiosImpl, coclass;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(IID_ISmBios, smBios.Put()), S_OK);
    ASSERT_EQ(lib->GetTypeInfoOfGuid(IID_ISmBiosImpl, smBiosImpl.Put()), S_OK);
    ASSERT_EQ(lib->GetTypeInfoOfGuid(CLSID_SmBiosImpl, coclass.Put()), S_OK);
    EXPECT_EQ(helpString(smBios.Get(), MEMBERID_NIL), L"ISMBios Interface");
    EXPECT_EQ(helpString(smBiosImpl.Get(), MEMBERID_NIL), L"ISmBiosImpl Interface");
    EXPECT_EQ(helpString(coclass.Get(), MEMBERID_NIL), L"SmBiosImpl Class");

    // Every method of ISmBiosImpl, by its dispatch id, reads "method <name>".
    const wchar_t* const methods[] = {
        L"ComponentInitialize",   L"Initialize",          L"GetAllInstancesOfType", L"GetFirstInstanceOfType",
        L"StartTypeInstanceEnum", L"GetNextTypeInstance", L"EnumAllInstances",      L"FindInstanceByHandle"};
    for (MEMBERID id = 1; id <= 8; ++id) {
        Bstr name, doc;
        ASSERT_EQ(smBiosImpl->GetDocumentation(id, name.Put(), doc.Put(), nullptr, nullptr), S_OK) << id;
        EXPECT_STREQ(name.Get(), methods[id - 1]);
        EXPECT_EQ(std::wstring(doc.Get()), std::wstring(L"method ") + methods[id - 1]);
    }
}

TEST_F(Registration, UnregistrationRemovesTheEntriesButKeepsTheSharedKeys) {
    ASSERT_EQ(module.Register(), S_OK);
    // Entries that others add below the class key go with it.
    RegKey added;
    ASSERT_EQ(RegCreateKeyExW(
                  HKEY_CLASSES_ROOT,
                  (kClassKey + L"\\Implemented Categories\\{40FC6ED4-2438-11CF-A3DB-080036F12502}").c_str(),
                  0, nullptr, 0, KEY_ALL_ACCESS, nullptr, added.Put(), nullptr),
              ERROR_SUCCESS);
    added.Reset();
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, (kClassKey + L"\\Programmable\\Extra").c_str(), 0, nullptr,
                              0, KEY_ALL_ACCESS, nullptr, added.Put(), nullptr),
              ERROR_SUCCESS);
    added.Reset();

    EXPECT_EQ(module.Unregister(), S_OK);
    EXPECT_FALSE(ClassesKey(L"Korvix.SmBiosImpl.1.05"));
    EXPECT_FALSE(ClassesKey(L"Korvix.SmBiosImpl"));
    EXPECT_FALSE(ClassesKey(kClassKey + L"\\Programmable"));
    EXPECT_FALSE(ClassesKey(kClassKey));
    EXPECT_FALSE(ClassesKey(L"AppID\\" + kLibId));
    EXPECT_FALSE(ClassesKey(L"AppID\\Korvix.DLL"));
    ComPtr<ITypeLib> lib;
    EXPECT_TRUE(FAILED(LoadRegTypeLib(LIBID_Korvix, 1, 0, LOCALE_NEUTRAL, lib.Put())));
    EXPECT_TRUE(ClassesKey(L"AppID"));
    EXPECT_TRUE(ClassesKey(L"CLSID"));
    CLSID clsid{};
    EXPECT_TRUE(FAILED(CLSIDFromProgID(L"Korvix.SmBiosImpl", &clsid)));
}

TEST_F(Registration, CallersThreadLocaleIsRestored) {
    const LCID german = MAKELCID(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), SORT_DEFAULT);
    const LCID before = GetThreadLocale();
    ASSERT_TRUE(SetThreadLocale(german));
    EXPECT_EQ(module.Register(), S_OK);
    EXPECT_EQ(GetThreadLocale(), german);
    EXPECT_EQ(module.Unregister(), S_OK);
    EXPECT_EQ(GetThreadLocale(), german);
    SetThreadLocale(before);
}

TEST_F(Registration, ModulePathThatFillsThePathBufferFailsBeforeAnythingIsWritten) {
    {
        ModuleCopy copy(MAX_PATH);
        ASSERT_TRUE(copy.Copied());
        KorvixModule longModule(copy.Path());
        ASSERT_NE(longModule.Handle(), nullptr);
        ASSERT_EQ(LoadedPath(longModule.Handle()).size(), size_t{MAX_PATH});
        EXPECT_EQ(longModule.Register(), HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
        ExpectNothingRegistered();
        EXPECT_EQ(longModule.Unregister(), HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
    }
    {
        // One character less leaves room for the terminator.
        ModuleCopy copy(MAX_PATH - 1);
        ASSERT_TRUE(copy.Copied());
        KorvixModule longModule(copy.Path());
        ASSERT_NE(longModule.Handle(), nullptr);
        ASSERT_EQ(LoadedPath(longModule.Handle()), copy.Path());
        ASSERT_EQ(longModule.Register(), S_OK);
        EXPECT_EQ(ClassesValue(kClassKey + L"\\InprocServer32"), Quoted(copy.Path()));
        EXPECT_EQ(longModule.Unregister(), S_OK);
    }
}

TEST_F(Registration, Regsvr32RegistersUnregistersAndReportsAFailingServer) {
    const std::wstring regsvr32 = L"\"" + SystemProgram(L"regsvr32.exe") + L"\" /s ";
    ProcessResult run = RunProcess(regsvr32 + Quoted(KorvixPath()));
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_EQ(ClassesValue(kClassKey + L"\\InprocServer32"), Quoted(KorvixPath()));

    run = RunProcess(regsvr32 + L"/u " + Quoted(KorvixPath()));
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_FALSE(ClassesKey(kClassKey));

    // A server whose registration fails: regsvr32 reports the failed entry point.
    ModuleCopy copy(MAX_PATH);
    ASSERT_TRUE(copy.Copied());
    run = RunProcess(regsvr32 + Quoted(copy.Path()));
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 5u) << run.output;
}
