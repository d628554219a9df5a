// The driver-access component: the object used directly, and the class
// object of TorvelAccess.dll.
#include <gtest/gtest.h>

#include <shlwapi.h>

#include <tuple>

#include "DriverAccess.h"
#include "TableBuilder.h"
#include "TableFile.h"
#include "TableSource.h"
#include "TorvelAccess.h"
#include "common/conversion/CCVariantConversion.h"
#include "common/platform/ComWrappers.h"
#include "TraceFile.h"

namespace {

namespace fs = std::filesystem;
const fs::path kTableA = TestDataPath("real/dell-poweredge-r640-3.0.bin");
const fs::path kTableB = TestDataPath("real/surface-laptop3-amd-3.2.bin");
constexpr ULONG kSize = DA_IOCTL_GET_SMBIOS_SIZE, kTable = DA_IOCTL_GET_SMBIOS_TABLE;
using Result = std::tuple<HRESULT, ULONG, ULONG>; // HRESULT, status, bytes returned

Result Outcome(HRESULT hr, ULONG status, ULONG returned = 0) {
    return {hr, status, returned};
}

class Accessor : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_HRESULT_SUCCEEDED(CTorvelAccess::Create(nullptr, IID_IDriverAccessRaw, raw.PutVoid()));
        ASSERT_HRESULT_SUCCEEDED(raw.As(IID_IDriverServices, services));
    }
    // The table file variable and the registry value go again, and the keys
    // on the value's path as far as nothing else is in them.
    void TearDown() override {
        UseFile(nullptr);
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, CTableSource::kRegistryKey, CTableSource::kRegistryValue);
        for (const wchar_t* key :
             {CTableSource::kRegistryKey, L"SOFTWARE\\Quarnex\\Common", L"SOFTWARE\\Quarnex"})
            SHDeleteEmptyKeyW(HKEY_LOCAL_MACHINE, key);
    }
    static void UseFile(const wchar_t* path) {
        SetEnvironmentVariableW(CTableSource::kEnvironmentVariable, path);
    }
    static void SetValue(const std::wstring& file, DWORD type) {
        RegSetKeyValueW(HKEY_LOCAL_MACHINE, CTableSource::kRegistryKey, CTableSource::kRegistryValue, type,
                        file.c_str(), DWORD((file.size() + 1) * sizeof(wchar_t)));
    }
    Result Did(HRESULT hr) const { return {hr, status, 0}; } // a call that took &status
    // One RawRequest with an empty input and the output prepared as VT_UI4 0;
    // what the output holds afterwards goes to `outputType` and `bytes`.
    Result Ask(ULONG code, ULONG outputSize) {
        Variant input, output, returned;
        output->vt = returned->vt = VT_UI4;
        ULONG why = 99;
        const HRESULT hr =
            raw->RawRequest(code, input.Get(), 0, output.Get(), outputSize, returned.Get(), &why);
        outputType = output->vt;
        DWORD count = 0;
        CCVariantConversion<unsigned char> conversion(output.Get());
        const unsigned char* b = conversion.GetBufferPointer(&count);
        bytes.assign(b, b + (b ? count : 0));
        return {hr, why, returned->vt == VT_UI4 ? returned->ulVal : ~0ul};
    }
    // The table that a session opened now serves.
    Bytes ReadTable() {
        services->Start(&status);
        services->Open(0, 0, &status);
        Ask(kSize, 4);
        const Bytes size = bytes;
        Ask(kTable, size.size() == 4 ? size[0] | size[1] << 8 | size[2] << 16 | size[3] << 24 : 0);
        return bytes;
    }

    ComApartment apartment;
    ComPtr<IDriverAccessRaw> raw;
    ComPtr<IDriverServices> services;
    ULONG status = 99;
    VARTYPE outputType = VT_EMPTY;
    Bytes bytes;
};

} // namespace

TEST_F(Accessor, ASessionServesTheTableFileByteForByte) {
    UseFile(kTableA.c_str());
    const ULONG size = ULONG(fs::file_size(kTableA));
    const HRESULT notRunning = HRESULT_FROM_WIN32(ERROR_SERVICE_NOT_ACTIVE),
                  notOpen = HRESULT_FROM_WIN32(ERROR_NOT_READY);
    const Result ok = Outcome(S_OK, DA_STATUS_OK);
    // Requests need Start and Open; Open needs Start.
    EXPECT_EQ(Ask(kSize, 4), Outcome(notRunning, DA_STATUS_NOT_RUNNING));
    EXPECT_EQ(Did(services->Open(0, 0, &status)), Outcome(notRunning, DA_STATUS_NOT_RUNNING));
    EXPECT_EQ(Did(services->Start(&status)), ok);
    EXPECT_EQ(Did(services->Start(&status)), Outcome(S_OK, DA_STATUS_ALREADY_RUNNING));
    EXPECT_EQ(Ask(kSize, 4), Outcome(notOpen, DA_STATUS_NOT_OPEN));
    EXPECT_EQ(Did(services->Open(1, 0, &status)), Outcome(E_INVALIDARG, DA_STATUS_INVALID_REQUEST));
    EXPECT_EQ(Did(services->Open(0, 0, &status)), ok);
    EXPECT_EQ(Ask(kSize, 4), Outcome(S_OK, 0, 4));
    EXPECT_EQ(std::tie(outputType, bytes), std::make_tuple(VARTYPE(VT_ARRAY | VT_VARIANT), U32(size)));
    EXPECT_EQ(Ask(kTable, size), Outcome(S_OK, 0, size));
    const Bytes first = bytes;
    EXPECT_TRUE(first == ReadFile(kTableA.string()));
    // One session answers from one read of the file; opening again reads anew.
    UseFile(kTableB.c_str());
    EXPECT_EQ(Ask(kTable, size), Outcome(S_OK, 0, size));
    EXPECT_TRUE(bytes == first);
    EXPECT_EQ(Did(services->Open(0, 0, &status)), ok);
    EXPECT_EQ((Ask(kSize, 4), bytes), U32(uint32_t(fs::file_size(kTableB))));
    EXPECT_EQ(Did(services->Close(&status)), ok);
    EXPECT_EQ(Did(services->Close(&status)), Outcome(S_FALSE, DA_STATUS_NOT_OPEN));
    EXPECT_EQ(Ask(kSize, 4), Outcome(notOpen, DA_STATUS_NOT_OPEN));
    EXPECT_EQ(Did(services->Stop(&status)), ok);
    EXPECT_EQ(Did(services->Stop(&status)), Outcome(S_FALSE, DA_STATUS_NOT_RUNNING));
    EXPECT_EQ(Did(services->Start(&status)), ok) << "started anew after Stop";
    // Missing pointers.
    Variant input, output, returned;
    EXPECT_EQ(Did(raw->RawRequest(kSize, input.Get(), 0, nullptr, 4, returned.Get(), &status)),
              Outcome(E_POINTER, DA_STATUS_INVALID_REQUEST));
    EXPECT_EQ(raw->RawRequest(kSize, input.Get(), 0, output.Get(), 4, returned.Get(), nullptr), E_POINTER);
    EXPECT_EQ(services->Start(nullptr), E_POINTER);
    EXPECT_EQ(services->Open(0, 0, nullptr), E_POINTER);
    ComPtr<IComponentInit> init;
    VARIANT_BOOL result = VARIANT_FALSE;
    ASSERT_HRESULT_SUCCEEDED(raw.As(IID_IComponentInit, init));
    EXPECT_EQ(init->Initialize(nullptr, nullptr, nullptr, &result), S_OK);
    EXPECT_EQ(result, VARIANT_TRUE);
}

TEST_F(Accessor, WrongOutputSizesUnknownCodesAndUnusableFilesFailTheRequestOnly) {
    const ULONG size = ULONG(fs::file_size(kTableA));
    const HRESULT small = HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER),
                  unknown = HRESULT_FROM_WIN32(ERROR_INVALID_FUNCTION);
    TempFolder folder;
    folder.Write("garbage", "not an SMBIOS table");
    folder.Write("huge", "");
    const fs::path garbage = folder.Path() / "garbage", huge = folder.Path() / "huge";
    fs::resize_file(huge, kMaxTableFileSize + 1); // sparse
    const std::tuple<fs::path, ULONG, ULONG, HRESULT, ULONG> rows[] = {
        {kTableA, kSize, 2, small, DA_STATUS_BAD_OUTPUT_SIZE},
        {kTableA, kSize, 8, E_INVALIDARG, DA_STATUS_BAD_OUTPUT_SIZE},
        {kTableA, kTable, size - 1, small, DA_STATUS_BAD_OUTPUT_SIZE},
        {kTableA, kTable, size + 1, E_INVALIDARG, DA_STATUS_BAD_OUTPUT_SIZE},
        {kTableA, 0xA900000C, 4, unknown, DA_STATUS_INVALID_REQUEST},
        {kTableA, 0, 4, unknown, DA_STATUS_INVALID_REQUEST},
        {garbage, kSize, 4, HRESULT_FROM_WIN32(ERROR_INVALID_DATA), DA_STATUS_TABLE_UNAVAILABLE},
        {folder.Path() / "missing", kTable, 100, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND),
         DA_STATUS_TABLE_UNAVAILABLE},
        {huge, kSize, 4, HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE), DA_STATUS_TABLE_UNAVAILABLE},
    };
    ASSERT_EQ(services->Start(&status), S_OK);
    for (const auto& [path, code, outputSize, hr, why] : rows) {
        UseFile(path.c_str());
        services->Open(0, 0, &status); // forgets the table read so far
        EXPECT_EQ(Ask(code, outputSize), Outcome(hr, why)) << std::hex << code << " " << outputSize << path;
        EXPECT_EQ(outputType, VT_UI4) << "the output is left as the client prepared it";
        UseFile(kTableA.c_str());
        EXPECT_EQ(Ask(kTable, size), Outcome(S_OK, 0, size)) << "the session is still usable";
    }
}

// The variable names the table file, else the registry value, else the
// firmware table is read.
TEST_F(Accessor, TheTableComesFromTheVariableThenTheRegistryValueThenTheFirmware) {
    // The firmware interface's answer ('RSMB') without its 8-byte header.
    Bytes firmware(GetSystemFirmwareTable(0x52534D42, 0, nullptr, 0));
    ASSERT_EQ(GetSystemFirmwareTable(0x52534D42, 0, firmware.data(), firmware.size()), firmware.size());
    EXPECT_TRUE(firmware.size() > 8 && Bytes(firmware.begin() + 8, firmware.end()) == ReadTable());
    SetValue(kTableA, REG_SZ);
    EXPECT_TRUE(ReadTable() == ReadFile(kTableA.string()));
    UseFile(kTableB.c_str());
    EXPECT_TRUE(ReadTable() == ReadFile(kTableB.string()));
    UseFile(L""); // counts as unset
    EXPECT_TRUE(ReadTable() == ReadFile(kTableA.string()));
    SetEnvironmentVariableW(L"KORVIX_TEST_TABLES", kTableB.parent_path().c_str());
    SetValue(L"%KORVIX_TEST_TABLES%\\" + kTableB.filename().wstring(), REG_EXPAND_SZ);
    EXPECT_TRUE(ReadTable() == ReadFile(kTableB.string()));
    SetEnvironmentVariableW(L"KORVIX_TEST_TABLES", nullptr);
}

TEST_F(Accessor, TheDllStaysLoadedWhileItsObjectsLiveOrItsServerIsLocked) {
    LibraryHandle dll(LoadLibraryW(fs::path(KORVIX_ACCESSOR_DLL).c_str()));
    const auto get = reinterpret_cast<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(
        reinterpret_cast<void*>(GetProcAddress(dll.Get(), "DllGetClassObject")));
    const auto canUnloadNow = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(GetProcAddress(dll.Get(), "DllCanUnloadNow")));
    ComPtr<IClassFactory> factory;
    ComPtr<IUnknown> object;
    ASSERT_TRUE(get && canUnloadNow && get(CLSID_TorvelAccess, IID_IClassFactory, factory.PutVoid()) == S_OK);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, object.PutVoid()), S_OK);
    EXPECT_EQ(canUnloadNow(), S_FALSE) << "an object is alive";
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    object.Reset();
    EXPECT_EQ(canUnloadNow(), S_FALSE) << "locked";
    factory->LockServer(FALSE);
    factory.Reset();
    EXPECT_EQ(canUnloadNow(), S_OK);
}
