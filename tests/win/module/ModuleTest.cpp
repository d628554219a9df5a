// Korvix.dll as a COM server: registration and its removal, the class object
// and the other exports, trace configuration at load (in korvix_client, a
// process that loads, uses and unloads the module), and the script sample.
#include <map>
#include <optional>
#include <sstream>
#include <thread>

#include "../trace/TraceFileReader.h"
#include "ComponentInstall.h"
#include "Korvix.h"
#include "TableBuilder.h"

using namespace kit;

namespace {

const std::string kKorvixTraceKey = "Software\\Quarnex\\Common\\Tracing\\Korvix.dll\\1.05";

std::wstring Widen(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}
std::wstring GuidText(REFGUID guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}
const std::wstring kClsid = GuidText(CLSID_SmBiosImpl), kLibId = GuidText(LIBID_Korvix);
const std::wstring kClassKey = L"CLSID\\" + kClsid;

std::wstring Quoted(const std::wstring& text) {
    return L"\"" + text + L"\"";
}
std::wstring KorvixPath() {
    return (BinFolder() / L"Korvix.dll").wstring();
}
std::wstring SystemProgram(const wchar_t* name) {
    wchar_t folder[MAX_PATH];
    return std::wstring(folder, GetSystemDirectoryW(folder, MAX_PATH)) + L"\\" + name;
}
// A REG_SZ value below HKEY_CLASSES_ROOT ("" names the default value); "<no key>" for a missing key.
std::optional<std::wstring> ClassesValue(const std::wstring& path, const wchar_t* name = L"") {
    RegKey key;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.Put()) != ERROR_SUCCESS)
        return L"<no key>";
    wchar_t buffer[2048];
    DWORD size = sizeof buffer;
    if (RegGetValueW(key.Get(), nullptr, name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS)
        return std::nullopt;
    return std::wstring(buffer);
}

// Korvix.dll (or a copy) loaded into this process, and its exports.
class KorvixModule {
public:
    explicit KorvixModule(const std::wstring& path = KorvixPath()) : library_(LoadLibraryW(path.c_str())) {}
    HMODULE Handle() const { return library_.Get(); }
    template <class F> F Export(const char* name) const {
        return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(library_.Get(), name)));
    }
    HRESULT Call(const char* name) const {
        auto entry = Export<HRESULT(STDAPICALLTYPE*)()>(name);
        return entry ? entry() : E_NOTIMPL;
    }
    HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** object) const {
        return Export<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>("DllGetClassObject")(clsid, iid,
                                                                                               object);
    }

private:
    LibraryHandle library_;
};

// A copy of Korvix.dll whose full path is exactly `length` characters long.
class ModuleCopy {
public:
    explicit ModuleCopy(size_t length) {
        std::wstring folder = root_.Path().wstring();
        while (folder.size() + 11 < length) { // 11: "\Korvix.dll"
            // A backslash and up to 120 characters, never leaving a rest of one.
            const size_t remaining = length - 11 - folder.size();
            folder += L"\\" + std::wstring(remaining <= 121   ? remaining - 1
                                           : remaining >= 123 ? 120
                                                              : 100,
                                           L'p');
            CreateDirectoryW((L"\\\\?\\" + folder).c_str(), nullptr);
        }
        path_ = folder + L"\\Korvix.dll";
        EXPECT_TRUE(CopyFileW(KorvixPath().c_str(), (L"\\\\?\\" + path_).c_str(), FALSE));
    }
    ~ModuleCopy() {
        DeleteFileW((L"\\\\?\\" + path_).c_str());
        for (std::wstring f = path_; f.resize(f.rfind(L'\\')), f.size() > root_.Path().wstring().size();)
            RemoveDirectoryW((L"\\\\?\\" + f).c_str());
    }
    const std::wstring& Path() const { return path_; }

private:
    TempFolder root_;
    std::wstring path_;
};

// Nothing of the component's own registration is present before and after
// each case; a failed check must not leave it registered for others.
class Registration : public ::testing::Test {
protected:
    void SetUp() override { ExpectNothingRegistered(); }
    void TearDown() override {
        ExpectNothingRegistered();
        UnRegisterTypeLib(LIBID_Korvix, 1, 0, LOCALE_NEUTRAL, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
        for (const std::wstring& key : OwnKeys()) {
            RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
            RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
        }
    }
    static std::vector<std::wstring> OwnKeys() {
        return {L"Korvix.SmBiosImpl.1.05", L"Korvix.SmBiosImpl", kClassKey,
                L"AppID\\" + kLibId,       L"AppID\\Korvix.DLL", L"TypeLib\\" + kLibId};
    }
    static void ExpectNothingRegistered() {
        for (const std::wstring& key : OwnKeys())
            EXPECT_EQ(ClassesValue(key), L"<no key>") << std::string(key.begin(), key.end());
    }

    ComApartment apartment{COINIT_APARTMENTTHREADED};
    KorvixModule module;
};

} // namespace

TEST_F(Registration, WritesKeysAndTypeLibraryAndUnregistrationRemovesThem) {
    ASSERT_EQ(module.Call("DllRegisterServer"), S_OK);
    const std::wstring name = L"CSmBiosImpl Object", progId = L"Korvix.SmBiosImpl.1.05";
    const std::tuple<std::wstring, const wchar_t*, std::optional<std::wstring>> rows[] = {
        {progId, L"", name},
        {progId + L"\\CLSID", L"", kClsid},
        {L"Korvix.SmBiosImpl", L"", name},
        {L"Korvix.SmBiosImpl\\CLSID", L"", kClsid},
        {L"Korvix.SmBiosImpl\\CurVer", L"", progId},
        {kClassKey, L"", name},
        {kClassKey, L"AppID", kLibId},
        {kClassKey + L"\\ProgID", L"", progId},
        {kClassKey + L"\\VersionIndependentProgID", L"", L"Korvix.SmBiosImpl"},
        {kClassKey + L"\\Programmable", L"", std::nullopt}, // a key without value
        {kClassKey + L"\\InprocServer32", L"", Quoted(KorvixPath())},
        {kClassKey + L"\\InprocServer32", L"ThreadingModel", L"both"},
        {kClassKey + L"\\LocalServer32", L"", L"<no key>"},
        {kClassKey + L"\\TypeLib", L"", kLibId},
        {L"AppID\\" + kLibId, L"", L"Korvix"},
        {L"AppID\\Korvix.DLL", L"AppID", kLibId},
        {L"TypeLib\\" + kLibId + L"\\1.0", L"", L"Korvix 1.0 Type Library"},
        {L"TypeLib\\" + kLibId + (sizeof(void*) == 8 ? L"\\1.0\\0\\win64" : L"\\1.0\\0\\win32"), L"",
         KorvixPath()},
        {L"Interface\\" + GuidText(IID_ISmBiosImpl) + L"\\TypeLib", L"", kLibId},
    };
    for (const auto& [path, value, expected] : rows)
        EXPECT_EQ(ClassesValue(path, value), expected) << std::string(path.begin(), path.end());
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID(L"Korvix.SmBiosImpl", &clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_SmBiosImpl);

    // The type library's help strings; each method of ISmBiosImpl reads "method <name>".
    ComPtr<ITypeLib> lib;
    ASSERT_EQ(LoadRegTypeLib(LIBID_Korvix, 1, 0, LOCALE_NEUTRAL, lib.Put()), S_OK);
    auto help = [&](REFGUID guid, MEMBERID member) {
        ComPtr<ITypeInfo> info;
        Bstr name, doc;
        if (FAILED(lib->GetTypeInfoOfGuid(guid, info.Put())) ||
            FAILED(info->GetDocumentation(member, name.Put(), doc.Put(), nullptr, nullptr)))
            return std::wstring(L"<none>");
        return (member == MEMBERID_NIL ? L"" : std::wstring(name.Get()) + L": ") +
               (doc.Get() ? doc.Get() : L"");
    };
    EXPECT_EQ(help(IID_ISmBios, MEMBERID_NIL), L"ISMBios Interface");
    EXPECT_EQ(help(IID_ISmBiosImpl, MEMBERID_NIL), L"ISmBiosImpl Interface");
    EXPECT_EQ(help(CLSID_SmBiosImpl, MEMBERID_NIL), L"SmBiosImpl Class");
    const wchar_t* const methods[] = {
        L"ComponentInitialize",   L"Initialize",          L"GetAllInstancesOfType", L"GetFirstInstanceOfType",
        L"StartTypeInstanceEnum", L"GetNextTypeInstance", L"EnumAllInstances",      L"FindInstanceByHandle"};
    for (MEMBERID id = 1; id <= 8; ++id)
        EXPECT_EQ(help(IID_ISmBiosImpl, id), std::wstring(methods[id - 1]) + L": method " + methods[id - 1]);
    lib.Reset();

    // Entries that others add below the class key go with it; the shared keys stay.
    for (const wchar_t* sub :
         {L"\\Implemented Categories\\{40FC6ED4-2438-11CF-A3DB-080036F12502}", L"\\Programmable\\X"})
        ASSERT_EQ(RegSetValueW(HKEY_CLASSES_ROOT, (kClassKey + sub).c_str(), REG_SZ, L"", 0), ERROR_SUCCESS);
    EXPECT_EQ(module.Call("DllUnregisterServer"), S_OK);
    EXPECT_TRUE(FAILED(LoadRegTypeLib(LIBID_Korvix, 1, 0, LOCALE_NEUTRAL, lib.Put())));
    EXPECT_TRUE(ClassesValue(L"AppID") != L"<no key>" && ClassesValue(L"CLSID") != L"<no key>");
    EXPECT_TRUE(FAILED(CLSIDFromProgID(L"Korvix.SmBiosImpl", &clsid)));
}

TEST_F(Registration, KeepsTheCallersThreadLocaleAndFailsOnAFullPathBuffer) {
    const LCID german = MAKELCID(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), SORT_DEFAULT),
               before = GetThreadLocale();
    ASSERT_TRUE(SetThreadLocale(german));
    EXPECT_EQ(module.Call("DllRegisterServer"), S_OK);
    EXPECT_EQ(GetThreadLocale(), german);
    EXPECT_EQ(module.Call("DllUnregisterServer"), S_OK);
    EXPECT_EQ(GetThreadLocale(), german);
    SetThreadLocale(before);

    // A module path that fills the path buffer fails before anything is
    // written; one character less leaves room for the terminator.
    for (size_t length : {MAX_PATH, MAX_PATH - 1}) {
        ModuleCopy copy(length);
        KorvixModule longModule(copy.Path());
        ASSERT_NE(longModule.Handle(), nullptr);
        const HRESULT expected = length == MAX_PATH ? HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER) : S_OK;
        EXPECT_EQ(longModule.Call("DllRegisterServer"), expected);
        EXPECT_EQ(ClassesValue(kClassKey + L"\\InprocServer32"),
                  length == MAX_PATH ? L"<no key>" : Quoted(copy.Path()));
        EXPECT_EQ(longModule.Call("DllUnregisterServer"), expected);
    }
}

TEST(ModuleExports, ServeOnlyTheComponentClassFromOneCachedFactoryWithoutAggregation) {
    ComApartment apartment;
    KorvixModule module;
    ComPtr<IClassFactory> factory, again;
    ASSERT_NE(module.Handle(), nullptr);
    ASSERT_EQ(module.GetClassObject(CLSID_SmBiosImpl, IID_IClassFactory, factory.PutVoid()), S_OK);
    void* object = reinterpret_cast<void*>(1);
    const CLSID foreign = {0x6b0f7e8a, 0x44d2, 0x4c61, {0x9e, 0x7b, 0x3f, 0x0c, 0x2a, 0x9d, 0x5e, 0x11}};
    EXPECT_EQ(module.GetClassObject(foreign, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(module.GetClassObject(IID_ISmBiosImpl, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
    ASSERT_EQ(module.GetClassObject(CLSID_SmBiosImpl, IID_IClassFactory, again.PutVoid()), S_OK);
    EXPECT_EQ(again.Get(), factory.Get());
    EXPECT_EQ(module.GetClassObject(CLSID_SmBiosImpl, IID_ISmBiosImpl, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);

    // Objects and server locks keep the module loaded; aggregation is refused.
    EXPECT_EQ(module.Call("DllCanUnloadNow"), S_OK);
    {
        ComPtr<ISmBiosImpl> first, second;
        ComPtr<IDispatch> dispatch; // a second interface holds no extra count
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_ISmBiosImpl, first.PutVoid()), S_OK);
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_ISmBiosImpl, second.PutVoid()), S_OK);
        EXPECT_EQ(factory->CreateInstance(first.Get(), IID_IUnknown, &object), CLASS_E_NOAGGREGATION);
        EXPECT_EQ(object, nullptr);
        Variant names, values;
        ULONG retVal = 99; // a fresh object answers, but only the not-initialised result
        EXPECT_EQ(first->GetFirstInstanceOfType(0, names.Get(), values.Get(), &retVal), E_FAIL);
        EXPECT_EQ(retVal, 1u);
        first.Reset();
        ASSERT_EQ(second.As(IID_IDispatch, dispatch), S_OK);
        second.Reset();
        EXPECT_EQ(module.Call("DllCanUnloadNow"), S_FALSE) << "one object is still alive";
    }
    EXPECT_EQ(module.Call("DllCanUnloadNow"), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(module.Call("DllCanUnloadNow"), S_FALSE) << "two locks, one released";
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(module.Call("DllCanUnloadNow"), S_OK);
}

// DllInitialize takes the mutex "CCAssembly_PID_<pid>_Korvix.dll_1.5.0.0"
// and holds it until DllUninitialize, also when the feature has no table;
// without a "DependencyTables" value it fails before taking it.
TEST(ModuleExports, TraceSlotAndDllInitializeHoldingTheAssemblyMutex) {
    ComApartment apartment; // the dependency table is read through COM
    ComponentInstall install;
    ASSERT_EQ(install.Error(), "");
    KorvixModule module;
    auto* slot = module.Export<void**>("gg_ptrc");
    ASSERT_NE(slot, nullptr);
    EXPECT_NE(*slot, nullptr); // this executable exports no enabled trace object to join
    auto init = module.Export<bool (*)(const char*, const char*, const char*)>("DllInitialize");
    auto uninit = module.Export<bool (*)()>("DllUninitialize");
    ASSERT_TRUE(init && uninit);
    char mutex[128];
    snprintf(mutex, sizeof mutex, "CCAssembly_PID_%8.8lx_Korvix.dll_1.5.0.0", GetCurrentProcessId());
    auto otherThreadAcquires = [&] {
        DWORD wait = WAIT_FAILED;
        std::thread([&] {
            UniqueHandle handle(OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, mutex));
            if (handle.Valid() &&
                ((wait = WaitForSingleObject(handle.Get(), 0)) == WAIT_OBJECT_0 || wait == WAIT_ABANDONED))
                ReleaseMutex(handle.Get());
        }).join();
        return wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
    };
    {
        HklmKey common("SOFTWARE\\Quarnex\\Common");
        common.Remove("DependencyTables");
        EXPECT_FALSE(
            init(ComponentInstall::kFeature, ComponentInstall::kVersion, ComponentInstall::kContext));
        EXPECT_FALSE(UniqueHandle(OpenMutexA(SYNCHRONIZE, FALSE, mutex)).Valid()) << "the mutex is not made";
        EXPECT_TRUE(uninit());
    }
    for (const char* feature : {ComponentInstall::kFeature, "NoSuchFeature"}) {
        EXPECT_EQ(init(feature, ComponentInstall::kVersion, ComponentInstall::kContext),
                  feature == ComponentInstall::kFeature);
        EXPECT_FALSE(otherThreadAcquires()) << feature;
        EXPECT_TRUE(uninit());
        EXPECT_TRUE(otherThreadAcquires()) << feature;
    }
}

// Korvix.dll configures its tracing once, while it loads: from its own key,
// or by joining the trace object of the host executable.
class KorvixTrace : public ::testing::Test {
protected:
    ProcessResult Client(const std::wstring& arguments) {
        return RunProcess(Quoted((BinFolder() / L"korvix_client.exe").wstring()) + L" " + arguments,
                          folder.Path().wstring());
    }
    void Configure(const char* file, DWORD level = 6) {
        key.emplace(kKorvixTraceKey);
        key->SetDword("Trace", 1);
        key->SetDword("TraceLevel", level);
        key->SetString("TraceFile", folder.Path().string() + file);
    }
    TempFolder folder;
    std::optional<HklmKey> key;
};

TEST_F(KorvixTrace, WrongTypeNoLevelOrNoKeyWritesNothing) {
    EXPECT_EQ(Client(L"query").exitCode, 0u);
    Configure("\\korvix-%PID%.trc", 0);
    EXPECT_EQ(Client(L"query").exitCode, 0u); // on, but level 0 passes nothing
    key->SetString("Trace", "1");             // of the wrong type
    key->SetDword("TraceLevel", 6);
    EXPECT_EQ(Client(L"query").exitCode, 0u);
    EXPECT_TRUE(fs::is_empty(folder.Path())) << "not even the default Trace.trc";
}

TEST_F(KorvixTrace, OwnKeyTracesTheModulesLifeAndTheObjectsCalls) {
    ComponentInstall install;
    ASSERT_EQ(install.Error(), "");
    ScopedEnv table(L"KORVIX_SMBIOS_TABLE", Widen(TestDataPath("real/dell-poweredge-r640-3.0.bin")));
    Configure("\\korvix-%PID%.trc");
    const ProcessResult run = Client(L"init");
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    const TraceFile content = ReadTraceFile(folder.Path() / ("korvix-" + Id4(run.processId) + ".trc"));
    EXPECT_TRUE(content.bom);
    EXPECT_EQ(content.text.substr(content.text.size() - 2), "\r\n");
    std::vector<std::string> bad;
    const auto records = Records(folder.Path() / ("korvix-" + Id4(run.processId) + ".trc"), false, &bad);
    EXPECT_TRUE(bad.empty()) << bad.front();
    for (const std::string& line : content.lines)
        ASSERT_EQ(line.substr(23, Id4(run.processId).size() + 2), "\t" + Id4(run.processId) + "\t") << line;

    // The module object is made before anything else, the module-wide
    // assembly after it; at unload the assembly goes first, the module object last.
    const int made =
        Find(records, "CKorvixModule", "CKorvixModule", "Leave", "A CKorvixModule object was constructed.");
    ASSERT_GT(made, Find(records, "CKorvixModule", "CKorvixModule", "Enter",
                         "A CKorvixModule object is being constructed."));
    EXPECT_EQ(records[made - 1].level + " " + records[made - 1].text,
              "Info A CKorvixModule object is being constructed.");
    EXPECT_GT(Find(records, "CSmBiosImpl", "", "", ""), made);
    EXPECT_GT(
        Find(records, "CCAssembly", "CCAssembly", "Enter", "An instance of CCAssembly has been constructed"),
        made);
    const int query = Find(records, "CSmBiosImpl", "GetFirstInstanceOfType", "Enter",
                           "Method GetFirstInstanceOfType has been entered.");
    ASSERT_GT(query, made);
    EXPECT_EQ(records[query].details, "bType: 1");
    const int answered = Find(records, "CSmBiosImpl", "GetFirstInstanceOfType", "Leave", "", query);
    ASSERT_GT(answered, query);
    EXPECT_EQ(records[answered].text + " " + records[answered].details,
              "Method GetFirstInstanceOfType has been left. RetVal: 0, hRes: 0x0");
    const int acquired =
        Find(records, "CSmBiosImpl", "Initialize", "Internal", "Getting SMBios data succeeded");
    ASSERT_GE(acquired, 0);
    EXPECT_EQ(records[acquired].level, "Verbose");
    EXPECT_GE(Find(records, "CSmBiosImpl", "EnumAllInstances", "Enter",
                   "Method EnumAllInstances has been entered."),
              0);
    const size_t n = records.size();
    ASSERT_GE(n, 3u);
    EXPECT_EQ(records[n - 3].method, "~CCAssembly");
    EXPECT_EQ(records[n - 2].category + " " + records[n - 2].text,
              "Enter A CKorvixModule object is being destructed.");
    EXPECT_EQ(records[n - 1].method + " " + records[n - 1].category + " " + records[n - 1].text,
              "~CKorvixModule Leave A CKorvixModule object was destructed.");
}

TEST_F(KorvixTrace, HostTraceObjectIsJoinedAndTheModulesKeyIsNotRead) {
    ComponentInstall install;
    ASSERT_EQ(install.Error(), "");
    ScopedEnv table(L"KORVIX_SMBIOS_TABLE", Widen(TestDataPath("real/dell-poweredge-r640-3.0.bin")));
    Configure("\\own-%PID%.trc"); // what the module would use if it read its own key
    const std::wstring hostFile = folder.File(L"host.trc");
    const ProcessResult run = Client(L"host " + Quoted(hostFile));
    ASSERT_EQ(run.exitCode, 0u) << "20: the module did not join; " << run.output;
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.Path()), fs::directory_iterator()), 1)
        << "only the host's";
    std::vector<std::string> bad;
    const auto records = Records(hostFile, true, &bad);
    EXPECT_TRUE(bad.empty()) << bad.front();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.front().module + " " + records.front().text, "korvix_client.exe The host traces.");
    EXPECT_EQ(records.back().module + " " + records.back().text, "korvix_client.exe The host ends.");
    int fromKorvix = 0;
    for (const Record& r : records) {
        fromKorvix += r.module == "Korvix.dll";
        EXPECT_TRUE(r.level != "InfoCC" && r.level != "VerboseCC") << "above level 4: " << r.method;
    }
    EXPECT_GT(fromKorvix, 0);
    const int made = Find(records, "CKorvixModule", "CKorvixModule", "Enter", "");
    const int acquired =
        Find(records, "CSmBiosImpl", "Initialize", "Internal", "Getting SMBios data succeeded");
    const int destructed = Find(records, "CKorvixModule", "~CKorvixModule", "Leave", "");
    ASSERT_TRUE(made >= 0 && acquired > made && destructed > acquired);
    for (int i : {made, acquired, destructed})
        EXPECT_EQ(records[i].module, "Korvix.dll");
}

// The VBScript sample run by cscript against the installed component lists
// what a C++ client reads from the same table.
TEST(ScriptSample, ListsEveryDecodedStructureOfARealTableAndReportsAFailedInitialize) {
    ComApartment apartment;
    ComponentInstall install;
    ASSERT_EQ(install.Error(), "");
    std::wstring sample = Widen(KORVIX_SAMPLES_DIR "/korvix-demo.vbs");
    std::replace(sample.begin(), sample.end(), L'/', L'\\');
    const std::wstring command = Quoted(SystemProgram(L"cscript.exe")) + L" //nologo " + Quoted(sample);
    {
        // A board with a chassis that lists a contained element (a byte array).
        ScopedEnv table(L"KORVIX_SMBIOS_TABLE", Widen(TestDataPath("real/msi-ms7816-2.8.bin")));
        const ProcessResult run = RunProcess(command);
        EXPECT_EQ(run.exitCode, 0u) << run.output;
        std::vector<std::string> lines;
        std::istringstream in(run.output);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line.substr(0, line.find_last_not_of('\r') + 1));
        for (const char* expected :
             {"Structure 0: type 0, handle 0x0000", "    Vendor = American Megatrends Inc.",
              "    ReleaseDate = 07/13/2018", "Structure 1: type 1, handle 0x0001", "    Manufacturer = MSI",
              "    Product = H87-G43 (MS-7816)", "    NrContainedElements = 1",
              "    ContainedElements0 = (byte array)"})
            EXPECT_TRUE(std::find(lines.begin(), lines.end(), expected) != lines.end()) << expected << "\n"
                                                                                        << run.output;

        // Every structure line agrees with a C++ client, and none is missing.
        std::map<unsigned, std::pair<unsigned, unsigned>> listed, decoded; // index: type, handle
        const std::regex header(R"(Structure (\d+): type (\d+), handle 0x([0-9A-F]{4}))");
        std::smatch m;
        for (const std::string& line : lines)
            if (std::regex_match(line, m, header))
                listed[std::stoul(m[1])] =
                    std::pair<unsigned, unsigned>(std::stoul(m[2]), std::stoul(m[3], nullptr, 16));
        ComPtr<ISmBiosImpl> object;
        ASSERT_EQ(CoCreateInstance(CLSID_SmBiosImpl, nullptr, CLSCTX_INPROC_SERVER, IID_ISmBiosImpl,
                                   object.PutVoid()),
                  S_OK);
        Bstr feature(ComponentInstall::kFeatureW), version(ComponentInstall::kVersionW),
            context(ComponentInstall::kContextW);
        VARIANT_BOOL ok = 0;
        object->ComponentInitialize(feature.Get(), version.Get(), context.Get(), &ok);
        ASSERT_EQ(object->Initialize(), S_OK);
        ULONG retVal = 0;
        for (unsigned index = 0; index < 0x10000 && retVal != 3; ++index) {
            Variant names, values, type, handle;
            LONG at[] = {0, 2};
            if (object->EnumAllInstances(index, names.Get(), values.Get(), &retVal) != S_OK || retVal != 0)
                continue;
            SafeArrayGetElement(values->parray, &at[0], type.Get());
            SafeArrayGetElement(values->parray, &at[1], handle.Get());
            decoded[index] = {type->bVal, handle->uiVal};
        }
        EXPECT_EQ(listed, decoded);
        ASSERT_FALSE(decoded.empty() || lines.empty());
        EXPECT_EQ(lines.back(), std::to_string(decoded.size()) + " structure(s) decoded");
    }
    ScopedEnv table(L"KORVIX_SMBIOS_TABLE", L"Z:\\no\\such\\table.bin");
    const ProcessResult run = RunProcess(command);
    EXPECT_EQ(run.exitCode, 3u) << run.output;
    EXPECT_EQ(run.output.rfind("Initialize failed: error 0x", 0), 0u) << run.output;
}
