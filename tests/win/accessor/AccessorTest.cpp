// The driver-access component: the object used directly (traced into the
// in-memory recorder), and TorvelAccess.dll registered and created through COM.
#include <gtest/gtest.h>

#include <shlwapi.h>

#include <cstdio>
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

namespace fs = std::filesystem;
const std::string kTableA = TestDataPath("real/dell-poweredge-r640-3.0.bin");
const std::string kTableB = TestDataPath("real/surface-laptop3-amd-3.2.bin");
constexpr ULONG kSize = DA_IOCTL_GET_SMBIOS_SIZE, kTable = DA_IOCTL_GET_SMBIOS_TABLE;
using Result = std::tuple<HRESULT, ULONG, ULONG, bool>; // HRESULT, status, bytes returned, traced as such

Result Outcome(HRESULT hr, ULONG status, ULONG returned = 0) {
    return {hr, status, returned, true};
}

// Names the table file through the variable (nullptr: unset) until the end of the scope.
struct TableVariable {
    explicit TableVariable(const wchar_t* value) {
        SetEnvironmentVariableW(CTableSource::kEnvironmentVariable, value);
    }
    explicit TableVariable(const fs::path& path) : TableVariable(path.c_str()) {}
    ~TableVariable() { SetEnvironmentVariableW(CTableSource::kEnvironmentVariable, nullptr); }
};

// A file in the temp folder (of `size` bytes when given: sparse), deleted at the end.
struct TempFile {
    explicit TempFile(const Bytes& content, uint64_t size = 0) {
        static int serial = 0;
        path = fs::temp_directory_path() / ("korvix-accessor-" + std::to_string(++serial));
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(content.data()), content.size());
        if (size) fs::resize_file(path, size);
    }
    ~TempFile() { fs::remove(path); }
    fs::path path;
};

// The "SmBiosTableFile" value until the end of the scope; then the keys on
// its path go again as far as nothing else is in them.
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

struct Answer {
    Result result;
    VARTYPE outputType;
    Bytes bytes; // the output as bytes
    ULONG Size() const {
        return bytes.size() == 4 ? bytes[0] | bytes[1] << 8 | bytes[2] << 16 | bytes[3] << 24 : 0;
    }
};

// One RawRequest with an empty input and the output prepared as VT_UI4 0.
// Its records must show what it returned: Enter first, Leave last with the
// HRESULT and status, and an Error record iff it failed.
Answer Request(IDriverAccessRaw* raw, ULONG code, ULONG outputSize) {
    Variant input, output, returned;
    output->vt = returned->vt = VT_UI4;
    ULONG status = 99;
    TraceRecorder::Clear();
    const HRESULT hr =
        raw->RawRequest(code, input.Get(), 0, output.Get(), outputSize, returned.Get(), &status);
    const auto& records = TraceRecorder::Records();
    unsigned leftHr = 0, leftStatus = 99;
    bool error = false;
    for (const auto& r : records)
        error = error || r.level == 1;
    const bool traced =
        records.size() >= 2 && records.front().category == "Enter" && records.back().category == "Leave" &&
        std::sscanf(records.back().details.c_str(), "hRes: 0x%X, status: %u", &leftHr, &leftStatus) == 2 &&
        HRESULT(leftHr) == hr && leftStatus == status && error == FAILED(hr);
    Answer a{{hr, status, returned->vt == VT_UI4 ? returned->ulVal : ~0ul, traced}, output->vt, {}};
    DWORD count = 0;
    CCVariantConversion<unsigned char> conversion(output.Get());
    if (const unsigned char* bytes = conversion.GetBufferPointer(&count))
        a.bytes.assign(bytes, bytes + count);
    return a;
}

// A whole session (Start, Open, size, table, Close, Stop): the table, or
// nothing when a step fails.
Bytes ReadTable(IDriverAccessRaw* raw) {
    ComPtr<IDriverServices> services;
    ULONG status = 0;
    Bytes table;
    if (FAILED(raw->QueryInterface(IID_IDriverServices, services.PutVoid())) ||
        FAILED(services->Start(&status)) || FAILED(services->Open(0, 0, &status)))
        return table;
    const ULONG size = Request(raw, kSize, 4).Size();
    const Answer answer = Request(raw, kTable, size);
    if (std::get<0>(answer.result) == S_OK && std::get<2>(answer.result) == size) table = answer.bytes;
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
        ASSERT_TRUE(registerServer && unregisterServer && canUnloadNow);
        ASSERT_EQ(registerServer(), S_OK);
    }
    void TearDown() override { EXPECT_EQ(unregisterServer(), S_OK); }
    Answer Ask(ULONG code, ULONG outputSize) { return Request(raw.Get(), code, outputSize); }
    // The HRESULT of a call that took &status, and that status.
    Result Did(HRESULT hr) const { return {hr, status, 0, true}; }
    // A registry value of HKEY_CLASSES_ROOT, unexpanded: a REG_EXPAND_SZ is no REG_SZ.
    static std::wstring Value(const std::wstring& path, const wchar_t* name = nullptr) {
        wchar_t value[1024] = L"<missing>";
        DWORD bytes = sizeof(value);
        RegGetValueW(HKEY_CLASSES_ROOT, path.c_str(), name, RRF_RT_REG_SZ | RRF_NOEXPAND, nullptr, value,
                     &bytes);
        return value;
    }

    TableVariable unset{nullptr};
    ComApartment apartment{COINIT_APARTMENTTHREADED};
    LibraryHandle dll{LoadLibraryW(fs::path(KORVIX_ACCESSOR_DLL).c_str())};
    Entry registerServer = Export<Entry>("DllRegisterServer");
    Entry unregisterServer = Export<Entry>("DllUnregisterServer");
    Entry canUnloadNow = Export<Entry>("DllCanUnloadNow");
    ComPtr<IDriverAccessRaw> raw;
    ComPtr<IDriverServices> services;
    ULONG status = 99;
};

} // namespace

TEST_F(Accessor, ASessionServesTheTableFileByteForByte) {
    TableVariable file(kTableA);
    const Bytes expected = ReadFile(kTableA);
    const ULONG size = static_cast<ULONG>(expected.size());
    const HRESULT notRunning = HRESULT_FROM_WIN32(ERROR_SERVICE_NOT_ACTIVE),
                  notOpen = HRESULT_FROM_WIN32(ERROR_NOT_READY);
    const Result ok = Outcome(S_OK, DA_STATUS_OK);
    // Requests need Start and Open; Open needs Start.
    EXPECT_EQ(Ask(kSize, 4).result, Outcome(notRunning, DA_STATUS_NOT_RUNNING));
    EXPECT_EQ(Did(services->Open(0, 0, &status)), Outcome(notRunning, DA_STATUS_NOT_RUNNING));
    EXPECT_EQ(Did(services->Start(&status)), ok);
    EXPECT_EQ(Did(services->Start(&status)), Outcome(S_OK, DA_STATUS_ALREADY_RUNNING));
    EXPECT_EQ(Ask(kSize, 4).result, Outcome(notOpen, DA_STATUS_NOT_OPEN));
    EXPECT_EQ(Did(services->Open(1, 0, &status)), Outcome(E_INVALIDARG, DA_STATUS_INVALID_REQUEST));
    EXPECT_EQ(Did(services->Open(0, 0, &status)), ok);
    Answer a = Ask(kSize, 4);
    EXPECT_EQ(std::make_tuple(a.result, a.outputType, a.Size()),
              std::make_tuple(Outcome(S_OK, 0, 4), VARTYPE(VT_ARRAY | VT_VARIANT), size));
    a = Ask(kTable, size);
    EXPECT_EQ(a.result, Outcome(S_OK, 0, size));
    EXPECT_TRUE(a.bytes == expected);
    // One session answers from one read of the file; opening again reads anew.
    TableVariable other(kTableB);
    EXPECT_TRUE(Ask(kTable, size).bytes == expected);
    EXPECT_EQ(Did(services->Open(0, 0, &status)), ok);
    EXPECT_EQ(Ask(kSize, 4).Size(), ReadFile(kTableB).size());
    EXPECT_EQ(Did(services->Close(&status)), ok);
    EXPECT_EQ(Did(services->Close(&status)), Outcome(S_FALSE, DA_STATUS_NOT_OPEN));
    EXPECT_EQ(Ask(kSize, 4).result, Outcome(notOpen, DA_STATUS_NOT_OPEN));
    EXPECT_EQ(Did(services->Stop(&status)), ok);
    EXPECT_EQ(Did(services->Stop(&status)), Outcome(S_FALSE, DA_STATUS_NOT_RUNNING));
    EXPECT_EQ(Did(services->Start(&status)), ok) << "started anew after Stop";

    // Missing pointers.
    Variant input, output, returned;
    status = 99;
    EXPECT_EQ(raw->RawRequest(kSize, input.Get(), 0, nullptr, 4, returned.Get(), &status), E_POINTER);
    EXPECT_EQ(status, ULONG(DA_STATUS_INVALID_REQUEST));
    EXPECT_EQ(raw->RawRequest(kSize, input.Get(), 0, output.Get(), 4, returned.Get(), nullptr), E_POINTER);
    EXPECT_EQ(services->Start(nullptr), E_POINTER);
    EXPECT_EQ(services->Open(0, 0, nullptr), E_POINTER);
    ComPtr<IComponentInit> init;
    ASSERT_HRESULT_SUCCEEDED(raw.As(IID_IComponentInit, init));
    VARIANT_BOOL result = VARIANT_FALSE;
    EXPECT_EQ(init->Initialize(nullptr, nullptr, nullptr, &result), S_OK);
    EXPECT_EQ(result, VARIANT_TRUE);
    EXPECT_EQ(init->Initialize(nullptr, nullptr, nullptr, nullptr), E_POINTER);
}

TEST_F(Accessor, WrongOutputSizesUnknownCodesAndUnusableFilesFailTheRequestOnly) {
    TableVariable file(kTableA);
    const ULONG size = static_cast<ULONG>(ReadFile(kTableA).size());
    ASSERT_EQ(services->Start(&status), S_OK);
    ASSERT_EQ(services->Open(0, 0, &status), S_OK);
    const HRESULT small = HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER),
                  unknown = HRESULT_FROM_WIN32(ERROR_INVALID_FUNCTION);
    const std::tuple<ULONG, ULONG, HRESULT, ULONG> rows[] = {
        {kSize, 2, small, DA_STATUS_BAD_OUTPUT_SIZE},
        {kSize, 8, E_INVALIDARG, DA_STATUS_BAD_OUTPUT_SIZE},
        {kTable, size - 1, small, DA_STATUS_BAD_OUTPUT_SIZE},
        {kTable, size + 1, E_INVALIDARG, DA_STATUS_BAD_OUTPUT_SIZE},
        {0xA900000C, 4, unknown, DA_STATUS_INVALID_REQUEST},
        {0, 4, unknown, DA_STATUS_INVALID_REQUEST},
    };
    for (const auto& [code, outputSize, hr, why] : rows) {
        const Answer a = Ask(code, outputSize);
        EXPECT_EQ(a.result, Outcome(hr, why)) << std::hex << code << " " << outputSize;
        EXPECT_EQ(a.outputType, VT_UI4) << "the output is left as the client prepared it";
    }
    EXPECT_EQ(Ask(kTable, size).result, Outcome(S_OK, 0, size)) << "the session is still usable";

    const std::string text = "not an SMBIOS table";
    TempFile garbage(Bytes(text.begin(), text.end())), empty({}), shortDump({'_', 'S', 'M', '_', 0, 0x1F});
    TempFile huge({}, kMaxTableFileSize + 1);
    const HRESULT invalid = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
    const std::pair<fs::path, HRESULT> files[] = {
        {garbage.path, invalid},
        {empty.path, invalid},
        {shortDump.path, invalid},
        {fs::path(garbage.path).concat(".missing"), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
        {huge.path, HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE)},
    };
    for (const auto& [path, hr] : files) {
        TableVariable variable(path);
        services->Open(0, 0, &status); // forgets the table read so far
        EXPECT_EQ(Ask(kSize, 4).result, Outcome(hr, DA_STATUS_TABLE_UNAVAILABLE)) << path;
        EXPECT_EQ(Ask(kTable, 100).result, Outcome(hr, DA_STATUS_TABLE_UNAVAILABLE)) << path;
    }
}

// The variable names the table file, else the registry value, else the
// firmware table is read.
TEST_F(Accessor, TheTableComesFromTheVariableThenTheRegistryValueThenTheFirmware) {
    const Bytes fromFirmware = ReadTable(raw.Get());
    // The firmware interface's answer ('RSMB') without its 8-byte header.
    Bytes firmware(GetSystemFirmwareTable(0x52534D42, 0, nullptr, 0));
    ASSERT_EQ(GetSystemFirmwareTable(0x52534D42, 0, firmware.data(), firmware.size()), firmware.size());
    EXPECT_TRUE(firmware.size() > 8 && Bytes(firmware.begin() + 8, firmware.end()) == fromFirmware);
    {
        RegistryValue value(fs::path(kTableA), REG_SZ);
        EXPECT_TRUE(ReadTable(raw.Get()) == ReadFile(kTableA));
        TableVariable variable{fs::path(kTableB)};
        EXPECT_TRUE(ReadTable(raw.Get()) == ReadFile(kTableB));
        TableVariable blank(L""); // counts as unset
        EXPECT_TRUE(ReadTable(raw.Get()) == ReadFile(kTableA));
    }
    SetEnvironmentVariableW(L"KORVIX_TEST_TABLES", fs::path(kTableB).parent_path().c_str());
    RegistryValue expandable(L"%KORVIX_TEST_TABLES%\\" + fs::path(kTableB).filename().wstring(),
                             REG_EXPAND_SZ);
    EXPECT_TRUE(ReadTable(raw.Get()) == ReadFile(kTableB));
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

    // The free-threaded marshaler hands the object itself to another apartment.
    IStream* stream = nullptr;
    ASSERT_EQ(CoMarshalInterThreadInterfaceInStream(IID_IDriverServices, services.Get(), &stream), S_OK);
    HRESULT unmarshaled = E_FAIL;
    IDriverServices* seen = nullptr;
    std::thread([&] {
        ComApartment mta(COINIT_MULTITHREADED);
        ComPtr<IDriverServices> there;
        unmarshaled = CoGetInterfaceAndReleaseStream(stream, IID_IDriverServices, there.PutVoid());
        seen = there.Get();
    }).join();
    EXPECT_EQ(std::make_tuple(unmarshaled, seen), std::make_tuple(S_OK, services.Get()));
}

TEST_F(Accessor, RegistersItsKeysAndUnregistersOnlyThose) {
    wchar_t clsid[40];
    StringFromGUID2(CLSID_TorvelAccess, clsid, 40);
    const std::wstring classKey = L"CLSID\\" + std::wstring(clsid);
    EXPECT_EQ(fs::path(Value(classKey + L"\\InprocServer32")), fs::path(KORVIX_ACCESSOR_DLL));
    EXPECT_EQ(Value(classKey + L"\\InprocServer32", L"ThreadingModel"), L"Both");
    EXPECT_EQ(Value(classKey + L"\\ProgID") + L" " + Value(classKey + L"\\VersionIndependentProgID") + L" " +
                  Value(L"AcTorvel.TorvelAccess\\CurVer"),
              L"AcTorvel.TorvelAccess.1 AcTorvel.TorvelAccess AcTorvel.TorvelAccess.1");
    EXPECT_EQ(Value(L"AcTorvel.TorvelAccess\\CLSID") + Value(L"AcTorvel.TorvelAccess.1\\CLSID"),
              clsid + std::wstring(clsid));
    const std::wstring keys[] = {classKey, L"AcTorvel.TorvelAccess", L"AcTorvel.TorvelAccess.1"};
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
