// The driver-access component: the object used directly (traced into the
// in-memory recorder), and TorvelAccess.dll registered and created through COM.
#include <gtest/gtest.h>

#include <shlwapi.h>

#include <filesystem>
#include <fstream>
#include <thread>
#include <tuple>

#include "DriverAccess.h"
#include "TableBuilder.h"
#include "TableFile.h"
#include "TableSource.h"
#include "TorvelAccess.h"
#include "TraceRecorder.h"
#include "common/conversion/CCVariantConversion.h"
#include "common/platform/ComWrappers.h"

namespace {

const std::string kTableA = TestDataPath("real/dell-poweredge-r640-3.0.bin");
const std::string kTableB = TestDataPath("real/surface-laptop3-amd-3.2.bin");
constexpr ULONG kSize = DA_IOCTL_GET_SMBIOS_SIZE, kTable = DA_IOCTL_GET_SMBIOS_TABLE;
const std::wstring kClsid = L"{AE21CB74-3FF4-4A89-87F8-810D347B57BA}", kClsidKey = L"CLSID\\" + kClsid;

// Names the table file through KORVIX_SMBIOS_TABLE (nullptr: unset) until the end of the scope.
struct TableVariable {
    explicit TableVariable(const wchar_t* value) {
        SetEnvironmentVariableW(CTableSource::kEnvironmentVariable, value);
    }
    explicit TableVariable(const std::filesystem::path& path) : TableVariable(path.c_str()) {}
    ~TableVariable() { SetEnvironmentVariableW(CTableSource::kEnvironmentVariable, nullptr); }
};

// A file in the temp folder (of `size` bytes when given: sparse), deleted at the end.
struct TempFile {
    explicit TempFile(const Bytes& content, uint64_t size = 0) {
        static int serial = 0;
        path = std::filesystem::temp_directory_path() /
               ("korvix-accessor-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial));
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(content.data()), content.size());
        if (size) std::filesystem::resize_file(path, size);
    }
    ~TempFile() { std::filesystem::remove(path); }
    std::filesystem::path path;
};

// The "SmBiosTableFile" value until the end of the scope; the keys on its
// path are removed again when nothing else is in them.
struct RegistryValue {
    RegistryValue(const std::wstring& file, DWORD type) {
        EXPECT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, CTableSource::kRegistryKey,
                                  CTableSource::kRegistryValue, type, file.c_str(),
                                  static_cast<DWORD>((file.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }
    ~RegistryValue() {
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, CTableSource::kRegistryKey, CTableSource::kRegistryValue);
        for (const wchar_t* key :
             {CTableSource::kRegistryKey, L"SOFTWARE\\Quarnex\\Common", L"SOFTWARE\\Quarnex"})
            SHDeleteEmptyKeyW(HKEY_LOCAL_MACHINE, key);
    }
};

// An HRESULT with its status (and bytes returned).
std::tuple<HRESULT, ULONG, ULONG> Outcome(HRESULT hr, ULONG status, ULONG returned = 0) {
    return {hr, status, returned};
}

struct Answer {
    HRESULT hr;
    ULONG status;
    ULONG returned; // bytes returned; ~0 when not VT_UI4
    VARTYPE outputType;
    Bytes bytes; // the output as bytes
    std::tuple<HRESULT, ULONG, ULONG> Result() const { return {hr, status, returned}; }
    ULONG Size() const {
        return bytes.size() == 4 ? bytes[0] | bytes[1] << 8 | bytes[2] << 16 | bytes[3] << 24 : 0;
    }
};

// One RawRequest with an empty input, the output prepared as VT_UI4 0.
Answer Request(IDriverAccessRaw* raw, ULONG code, ULONG outputSize) {
    Variant input, output, returned;
    V_VT(output.Get()) = VT_UI4;
    V_UI4(output.Get()) = 0;
    V_VT(returned.Get()) = VT_UI4;
    Answer a{E_UNEXPECTED, 99, ~0ul, VT_EMPTY, {}};
    a.hr = raw->RawRequest(code, input.Get(), 0, output.Get(), outputSize, returned.Get(), &a.status);
    a.outputType = V_VT(output.Get());
    if (V_VT(returned.Get()) == VT_UI4) a.returned = V_UI4(returned.Get());
    DWORD count = 0;
    CCVariantConversion<unsigned char> conversion(output.Get());
    if (const unsigned char* bytes = conversion.GetBufferPointer(&count))
        a.bytes.assign(bytes, bytes + count);
    return a;
}

// A whole session: Start, Open, size, table, Close, Stop. The table, or
// empty when a step fails.
Bytes ReadTable(IDriverAccessRaw* raw) {
    ComPtr<IDriverServices> services;
    ULONG status = 0;
    Bytes table;
    if (FAILED(raw->QueryInterface(IID_IDriverServices, services.PutVoid())) ||
        FAILED(services->Start(&status)) || FAILED(services->Open(0, 0, &status)))
        return table;
    const ULONG size = Request(raw, kSize, 4).Size();
    const Answer answer = Request(raw, kTable, size);
    if (SUCCEEDED(answer.hr) && answer.returned == size) table = answer.bytes;
    services->Close(&status);
    services->Stop(&status);
    return table;
}

// An object made directly, and TorvelAccess.dll loaded and registered for
// the length of the test.
class Accessor : public ::testing::Test {
protected:
    using Entry = HRESULT(STDAPICALLTYPE*)();
    template <typename F> F Export(const char* name) {
        return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(dll.Get(), name)));
    }
    void SetUp() override {
        ASSERT_HRESULT_SUCCEEDED(CTorvelAccess::Create(nullptr, IID_IDriverAccessRaw, raw.PutVoid()));
        ASSERT_HRESULT_SUCCEEDED(raw.As(IID_IDriverServices, services));
        ASSERT_TRUE(SUCCEEDED(apartment.Result()) && registerServer && unregisterServer && canUnloadNow);
        ASSERT_EQ(registerServer(), S_OK);
        TraceRecorder::Clear();
    }
    void TearDown() override { EXPECT_EQ(unregisterServer(), S_OK); }
    void StartAndOpen() {
        ASSERT_EQ(WithStatus(services->Start(&status)), ok);
        ASSERT_EQ(WithStatus(services->Open(0, 0, &status)), ok);
    }
    // The HRESULT of a call that took &status, and that status.
    std::tuple<HRESULT, ULONG, ULONG> WithStatus(HRESULT hr) const { return {hr, status, 0}; }
    // The details of the error record with this text, or "<none>".
    static std::string Failure(const std::string& text) {
        for (const auto& r : TraceRecorder::Records())
            if (r.level == 1 && r.text == text) return r.details;
        return "<none>";
    }
    static std::wstring Value(const std::wstring& path, const wchar_t* name = nullptr) {
        wchar_t value[1024] = L"<missing>";
        DWORD bytes = sizeof(value);
        RegGetValueW(HKEY_CLASSES_ROOT, path.c_str(), name, RRF_RT_REG_SZ, nullptr, value, &bytes);
        return value;
    }

    TableVariable unset{nullptr};
    ComApartment apartment{COINIT_APARTMENTTHREADED};
    const std::wstring path = std::filesystem::path(KORVIX_ACCESSOR_DLL);
    LibraryHandle dll{LoadLibraryW(path.c_str())};
    Entry registerServer = Export<Entry>("DllRegisterServer");
    Entry unregisterServer = Export<Entry>("DllUnregisterServer");
    Entry canUnloadNow = Export<Entry>("DllCanUnloadNow");
    ComPtr<IDriverAccessRaw> raw;
    ComPtr<IDriverServices> services;
    ULONG status = 99;
    const std::tuple<HRESULT, ULONG, ULONG> ok{S_OK, 0, 0};
};

} // namespace

TEST_F(Accessor, SessionServesTheTableFileByteForByteAndRecordsTheFeatureContext) {
    TableVariable file(kTableA);
    const Bytes expected = ReadFile(kTableA);
    const ULONG size = static_cast<ULONG>(expected.size());
    const HRESULT notRunning = HRESULT_FROM_WIN32(ERROR_SERVICE_NOT_ACTIVE),
                  notOpen = HRESULT_FROM_WIN32(ERROR_NOT_READY);
    // Requests need Start and Open; Open needs Start.
    EXPECT_EQ(Request(raw.Get(), kSize, 4).Result(), Outcome(notRunning, DA_STATUS_NOT_RUNNING));
    EXPECT_EQ(WithStatus(services->Open(0, 0, &status)), Outcome(notRunning, DA_STATUS_NOT_RUNNING));
    EXPECT_EQ(WithStatus(services->Start(&status)), ok);
    EXPECT_EQ(WithStatus(services->Start(&status)), Outcome(S_OK, DA_STATUS_ALREADY_RUNNING));
    EXPECT_EQ(Request(raw.Get(), kSize, 4).Result(), Outcome(notOpen, DA_STATUS_NOT_OPEN));
    EXPECT_EQ(WithStatus(services->Open(1, 0, &status)), Outcome(E_INVALIDARG, DA_STATUS_INVALID_REQUEST));
    EXPECT_EQ(WithStatus(services->Open(0, 0, &status)), ok);

    Answer a = Request(raw.Get(), kSize, 4);
    EXPECT_EQ(std::make_tuple(a.hr, a.status, a.returned, a.outputType, a.Size()),
              std::make_tuple(S_OK, 0ul, 4ul, VARTYPE(VT_ARRAY | VT_VARIANT), size));
    a = Request(raw.Get(), kTable, size);
    EXPECT_EQ(std::make_tuple(a.hr, a.status, a.returned, a.outputType),
              std::make_tuple(S_OK, 0ul, size, VARTYPE(VT_ARRAY | VT_VARIANT)));
    EXPECT_TRUE(a.bytes == expected);

    // The answers of one session come from one read of the table; opening
    // again starts afresh.
    TableVariable other(kTableB);
    EXPECT_TRUE(Request(raw.Get(), kTable, size).bytes == expected);
    EXPECT_EQ(WithStatus(services->Open(0, 0, &status)), ok);
    EXPECT_EQ(Request(raw.Get(), kSize, 4).Size(), ReadFile(kTableB).size());

    EXPECT_EQ(WithStatus(services->Close(&status)), ok);
    EXPECT_EQ(WithStatus(services->Close(&status)), Outcome(S_FALSE, DA_STATUS_NOT_OPEN));
    EXPECT_EQ(Request(raw.Get(), kSize, 4).status, ULONG(DA_STATUS_NOT_OPEN));
    EXPECT_EQ(WithStatus(services->Stop(&status)), ok);
    EXPECT_EQ(WithStatus(services->Stop(&status)), Outcome(S_FALSE, DA_STATUS_NOT_RUNNING));
    EXPECT_EQ(WithStatus(services->Start(&status)), ok) << "started anew after Stop";
    EXPECT_EQ(services->Start(nullptr), E_POINTER);
    EXPECT_EQ(services->Open(0, 0, nullptr), E_POINTER);

    // The feature context is traced; null strings are empty ones.
    ComPtr<IComponentInit> init;
    ASSERT_HRESULT_SUCCEEDED(raw.As(IID_IComponentInit, init));
    VARIANT_BOOL result = VARIANT_FALSE, nulls = VARIANT_FALSE;
    Bstr feature(L"Inventory"), version(L"2.1"), context(L"Default");
    EXPECT_EQ(init->Initialize(feature.Get(), version.Get(), context.Get(), &result), S_OK);
    EXPECT_EQ(
        TraceRecorder::Count("sFeatureName: 'Inventory', sFeatureVersion: '2.1', sContextName: 'Default'"),
        1u);
    EXPECT_EQ(init->Initialize(nullptr, nullptr, nullptr, &nulls), S_OK);
    EXPECT_EQ(result & nulls, VARIANT_TRUE);
    EXPECT_EQ(init->Initialize(nullptr, nullptr, nullptr, nullptr), E_POINTER);
}

TEST_F(Accessor, WrongOutputSizesAndUnknownCodesLeaveTheSessionUsable) {
    TableVariable file(kTableA);
    const ULONG size = static_cast<ULONG>(ReadFile(kTableA).size());
    StartAndOpen();
    const HRESULT tooSmall = HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    const HRESULT unknown = HRESULT_FROM_WIN32(ERROR_INVALID_FUNCTION);
    const ULONG badSize = DA_STATUS_BAD_OUTPUT_SIZE, invalid = DA_STATUS_INVALID_REQUEST;
    const std::tuple<ULONG, ULONG, HRESULT, ULONG> rows[] = {
        {kSize, 2, tooSmall, badSize},         {kSize, 8, E_INVALIDARG, badSize},
        {kTable, size - 1, tooSmall, badSize}, {kTable, size + 1, E_INVALIDARG, badSize},
        {0xA900000C, 4, unknown, invalid},     {0, 4, unknown, invalid},
    };
    for (const auto& [code, outputSize, hr, status] : rows) {
        const Answer a = Request(raw.Get(), code, outputSize);
        EXPECT_EQ(a.Result(), Outcome(hr, status)) << std::hex << code << " " << outputSize;
        EXPECT_EQ(a.outputType, VT_UI4) << "the output is left as the client prepared it";
    }
    EXPECT_NE(Failure("FAIL: Output size does not fit the answer."), "<none>");
    EXPECT_NE(Failure("FAIL: Unknown control code."), "<none>");
    Variant input, output, returned;
    EXPECT_EQ(raw->RawRequest(kSize, input.Get(), 0, nullptr, 4, returned.Get(), &status), E_POINTER);
    EXPECT_EQ(raw->RawRequest(kSize, input.Get(), 0, output.Get(), 4, returned.Get(), nullptr), E_POINTER);

    EXPECT_EQ(Request(raw.Get(), kSize, 4).Size(), size);
    EXPECT_EQ(Request(raw.Get(), kTable, size).hr, S_OK);
}

TEST_F(Accessor, UnusableTableFilesFailTheRequestsWithATrace) {
    const std::string text = "not an SMBIOS table";
    TempFile garbage(Bytes(text.begin(), text.end())), empty({}), shortDump({'_', 'S', 'M', '_', 0, 0x1F});
    TempFile huge({}, kMaxTableFileSize + 1);
    const HRESULT invalid = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
    const char* const noTable = "FAIL: SMBios table file holds no valid table.";
    const char* const unreadable = "FAIL: SMBios table file cannot be read.";
    const std::tuple<std::filesystem::path, HRESULT, const char*, const char*> rows[] = {
        {garbage.path, invalid, noTable, "no whole SMBIOS structure"},
        {empty.path, invalid, noTable, "the file is empty"},
        {shortDump.path, invalid, noTable, "truncated _SM_ entry point"},
        {std::filesystem::path(garbage.path).concat(".missing"), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND),
         unreadable, "the file cannot be opened"},
        {huge.path, HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE), unreadable, "too large for a table file"},
    };
    StartAndOpen();
    for (const auto& [path, hr, trace, detail] : rows) {
        TableVariable variable(path);
        services->Open(0, 0, &status); // forgets the table read so far
        TraceRecorder::Clear();
        EXPECT_EQ(Request(raw.Get(), kSize, 4).Result(), Outcome(hr, DA_STATUS_TABLE_UNAVAILABLE));
        EXPECT_NE(Failure(trace).find(detail), std::string::npos) << Failure(trace);
        EXPECT_NE(Failure("FAIL: SMBios table not available."), "<none>");
        EXPECT_EQ(Request(raw.Get(), kTable, 100).hr, hr);
    }
}

// The variable names the table file, else the registry value, else the
// firmware table is read. Besides raw tables: RawSMBIOSData and _SM3_ dumps.
TEST_F(Accessor, TableSourceIsTheVariableThenTheRegistryValueThenTheFirmware) {
    ASSERT_EQ(CTableSource::ConfiguredFile(), L"");
    const Bytes fromFirmware = ReadTable(raw.Get());
    EXPECT_TRUE(!fromFirmware.empty() &&
                WholeStructuresEnd(fromFirmware.data(), fromFirmware.size()) == fromFirmware.size());
    // The firmware interface's answer ('RSMB') without its 8-byte header.
    Bytes firmware(GetSystemFirmwareTable(0x52534D42, 0, nullptr, 0));
    ASSERT_EQ(GetSystemFirmwareTable(0x52534D42, 0, firmware.data(), firmware.size()), firmware.size());
    EXPECT_TRUE(firmware.size() > 8 && Bytes(firmware.begin() + 8, firmware.end()) == fromFirmware);

    const Bytes table = ReadFile(kTableB);
    TempFile rsmb(Cat({{0, 3, 2, 0}, U32(static_cast<uint32_t>(table.size())), table}));
    Bytes sm3 = Cat(
        {{'_', 'S', 'M', '3', '_', 0, 0x18, 3, 2, 0, 0, 0}, U32(static_cast<uint32_t>(table.size() + 64))});
    TempFile sm3File(Cat({sm3, {0x20}, Bytes(15, 0), table, Bytes(64, 0)})); // table at 0x20
    {
        RegistryValue value(std::filesystem::path(kTableA), REG_SZ);
        EXPECT_TRUE(ReadTable(raw.Get()) == ReadFile(kTableA));
        TableVariable variable(rsmb.path);
        EXPECT_TRUE(ReadTable(raw.Get()) == table);
        TableVariable blank(L""); // counts as unset
        EXPECT_TRUE(ReadTable(raw.Get()) == ReadFile(kTableA));
    }
    SetEnvironmentVariableW(L"KORVIX_TEST_TABLES", sm3File.path.parent_path().c_str());
    RegistryValue expandable(L"%KORVIX_TEST_TABLES%\\" + sm3File.path.filename().wstring(), REG_EXPAND_SZ);
    EXPECT_TRUE(ReadTable(raw.Get()) == table);
    SetEnvironmentVariableW(L"KORVIX_TEST_TABLES", nullptr);
}

TEST_F(Accessor, CreatedByProgIdWithItsClassObjectKeepingTheDllLoaded) {
    TableVariable file(kTableA);
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(L"AcTorvel.TorvelAccess", &clsid), S_OK);
    ComPtr<IDriverAccessRaw> created;
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IDriverAccessRaw, created.PutVoid()), S_OK);
    EXPECT_TRUE(ReadTable(created.Get()) == ReadFile(kTableA));
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    created.Reset();
    EXPECT_EQ(canUnloadNow(), S_OK);

    const auto getClassObject =
        Export<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>("DllGetClassObject");
    ComPtr<IClassFactory> factory;
    EXPECT_EQ(getClassObject(IID_IDispatch, IID_IClassFactory, factory.PutVoid()), CLASS_E_CLASSNOTAVAILABLE);
    ASSERT_EQ(getClassObject(CLSID_TorvelAccess, IID_IClassFactory, factory.PutVoid()), S_OK);
    ComPtr<IUnknown> outer, aggregated;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, outer.PutVoid()), S_OK);
    EXPECT_EQ(factory->CreateInstance(outer.Get(), IID_IUnknown, aggregated.PutVoid()),
              CLASS_E_NOAGGREGATION);
    outer.Reset();
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    factory->LockServer(FALSE);
    factory.Reset();
    EXPECT_EQ(canUnloadNow(), S_OK);
}

// The free-threaded marshaler hands the object itself to another apartment.
TEST_F(Accessor, UsableFromAnotherApartment) {
    IStream* stream = nullptr;
    ASSERT_EQ(CoMarshalInterThreadInterfaceInStream(IID_IDriverServices, services.Get(), &stream), S_OK);
    HRESULT unmarshaled = E_FAIL, started = E_FAIL;
    IDriverServices* seen = nullptr;
    std::thread([&] {
        ComApartment mta(COINIT_MULTITHREADED);
        ComPtr<IDriverServices> there;
        if (SUCCEEDED(unmarshaled =
                          CoGetInterfaceAndReleaseStream(stream, IID_IDriverServices, there.PutVoid())))
            started = (seen = there.Get())->Start(&status);
    }).join();
    EXPECT_EQ(std::make_tuple(unmarshaled, started, status, seen),
              std::make_tuple(S_OK, S_OK, 0ul, services.Get()));
    EXPECT_EQ(WithStatus(services->Start(&status)), Outcome(S_OK, DA_STATUS_ALREADY_RUNNING));
}

TEST_F(Accessor, RegistersItsKeysAndUnregistersOnlyThose) {
    EXPECT_EQ(std::filesystem::path(Value(kClsidKey + L"\\InprocServer32")), std::filesystem::path(path));
    EXPECT_EQ(Value(kClsidKey + L"\\InprocServer32", L"ThreadingModel"), L"Both");
    EXPECT_EQ(Value(kClsidKey + L"\\ProgID") + L" " + Value(kClsidKey + L"\\VersionIndependentProgID") +
                  L" " + Value(L"AcTorvel.TorvelAccess\\CurVer"),
              L"AcTorvel.TorvelAccess.1 AcTorvel.TorvelAccess AcTorvel.TorvelAccess.1");
    EXPECT_EQ(Value(L"AcTorvel.TorvelAccess\\CLSID") + Value(L"AcTorvel.TorvelAccess.1\\CLSID"),
              kClsid + kClsid);
    const std::wstring keys[] = {kClsidKey, L"AcTorvel.TorvelAccess", L"AcTorvel.TorvelAccess.1"};
    ASSERT_EQ(unregisterServer(), S_OK);
    for (const std::wstring& key : keys)
        EXPECT_EQ(Value(key), L"<missing>") << key;
    EXPECT_EQ(unregisterServer(), S_OK) << "again: nothing to do";

    // A versioned ProgID that another class has taken over stays.
    ASSERT_EQ(registerServer(), S_OK);
    const wchar_t other[] = L"{00000000-1111-2222-3333-444444444444}";
    ASSERT_EQ(RegSetKeyValueW(HKEY_CLASSES_ROOT, L"AcTorvel.TorvelAccess.1\\CLSID", nullptr, REG_SZ, other,
                              sizeof(other)),
              ERROR_SUCCESS);
    EXPECT_EQ(unregisterServer(), S_OK);
    EXPECT_EQ(Value(keys[0]) + Value(keys[1]), L"<missing><missing>");
    EXPECT_EQ(RegDeleteTreeW(HKEY_CLASSES_ROOT, keys[2].c_str()), ERROR_SUCCESS) << "left alone";
}
