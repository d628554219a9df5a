#include "AccessorTestSupport.h"

#include <gtest/gtest.h>

#include <vector>

#include "TableSource.h"
#include "common/conversion/CCVariantConversion.h"

std::wstring Wide(const std::string& s) {
    const int n = MultiByteToWideChar(CP_ACP, 0, s.c_str(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring out(n, L'\0');
    MultiByteToWideChar(CP_ACP, 0, s.c_str(), static_cast<int>(s.size()), &out[0], n);
    return out;
}

std::string RealTable(const std::string& name) {
    return TestDataPath("real/" + name);
}

TempTableFile::TempTableFile(const Bytes& content) {
    wchar_t folder[MAX_PATH];
    wchar_t name[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    GetTempFileNameW(folder, L"kta", 0, name);
    path_ = name;
    UniqueHandle file(
        CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (!content.empty())
        WriteFile(file.Get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    EXPECT_EQ(written, content.size());
}

TempTableFile::~TempTableFile() {
    DeleteFileW(path_.c_str());
}

TableFileVariable::TableFileVariable(const wchar_t* value) {
    wchar_t old[4096];
    const DWORD n = GetEnvironmentVariableW(CTableSource::kEnvironmentVariable, old, ARRAYSIZE(old));
    had_ = n > 0 && n < ARRAYSIZE(old);
    if (had_) old_ = old;
    SetEnvironmentVariableW(CTableSource::kEnvironmentVariable, value);
}

TableFileVariable::~TableFileVariable() {
    SetEnvironmentVariableW(CTableSource::kEnvironmentVariable, had_ ? old_.c_str() : nullptr);
}

TableFileRegistryValue::TableFileRegistryValue(const std::wstring& path, DWORD type) {
    const std::wstring full = CTableSource::kRegistryKey;
    for (size_t slash = full.find(L'\\');; slash = full.find(L'\\', slash + 1)) {
        const std::wstring part = full.substr(0, slash);
        RegKey key;
        DWORD disposition = 0;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, part.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                            key.Put(), &disposition) != ERROR_SUCCESS) {
            return;
        }
        if (disposition == REG_CREATED_NEW_KEY) created_.push_back(part);
        if (slash == std::wstring::npos) {
            written_ =
                RegSetValueExW(key.Get(), CTableSource::kRegistryValue, 0, type,
                               reinterpret_cast<const BYTE*>(path.c_str()),
                               static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
            return;
        }
    }
}

TableFileRegistryValue::~TableFileRegistryValue() {
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, CTableSource::kRegistryKey, CTableSource::kRegistryValue);
    for (auto key = created_.rbegin(); key != created_.rend(); ++key)
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, key->c_str());
}

RawAnswer Request(IDriverAccessRaw* raw, ULONG code, ULONG outputSize) {
    Variant input;
    Variant output;
    std::vector<unsigned char> zeros(outputSize, 0);
    if (code == DA_IOCTL_GET_SMBIOS_SIZE) {
        V_VT(output.Get()) = VT_UI4;
        V_UI4(output.Get()) = 0;
    } else {
        CCVariantConversion<unsigned char>(zeros.data(), outputSize).GetVariant(output.Get());
    }
    Variant bytesReturned;
    V_VT(bytesReturned.Get()) = VT_UI4;

    RawAnswer answer;
    answer.hr =
        raw->RawRequest(code, input.Get(), 0, output.Get(), outputSize, bytesReturned.Get(), &answer.status);
    answer.bytesReturnedType = V_VT(bytesReturned.Get());
    if (answer.bytesReturnedType == VT_UI4) answer.bytesReturned = V_UI4(bytesReturned.Get());
    answer.outputType = V_VT(output.Get());
    CCVariantConversion<unsigned char> conversion(output.Get());
    DWORD count = 0;
    const unsigned char* bytes = conversion.GetBufferPointer(&count);
    if (bytes != nullptr) answer.bytes.assign(bytes, bytes + count);
    return answer;
}

RawAnswer RequestSize(IDriverAccessRaw* raw, ULONG* size) {
    RawAnswer answer = Request(raw, DA_IOCTL_GET_SMBIOS_SIZE, 4);
    *size = 0;
    if (answer.bytes.size() >= 4) {
        *size = answer.bytes[0] | (answer.bytes[1] << 8) | (answer.bytes[2] << 16) |
                (static_cast<ULONG>(answer.bytes[3]) << 24);
    }
    return answer;
}

void StartAndOpen(IDriverServices* services) {
    ULONG status = 99;
    ASSERT_EQ(services->Start(&status), S_OK);
    ASSERT_EQ(status, 0u);
    status = 99;
    ASSERT_EQ(services->Open(0, 0, &status), S_OK);
    ASSERT_EQ(status, 0u);
}

Bytes ReadTable(IDriverAccessRaw* raw, HRESULT* hr) {
    HRESULT dummy;
    if (hr == nullptr) hr = &dummy;
    ComPtr<IDriverServices> services;
    *hr = raw->QueryInterface(IID_IDriverServices, services.PutVoid());
    if (FAILED(*hr)) return {};
    ULONG status = 0;
    ULONG started = 0;
    *hr = services->Start(&started);
    if (FAILED(*hr)) return {};
    Bytes table;
    *hr = services->Open(0, 0, &status);
    if (SUCCEEDED(*hr)) {
        ULONG size = 0;
        RawAnswer answer = RequestSize(raw, &size);
        *hr = answer.hr;
        if (SUCCEEDED(*hr) && answer.status == 0 && answer.bytesReturned == 4) {
            answer = Request(raw, DA_IOCTL_GET_SMBIOS_TABLE, size);
            *hr = answer.hr;
            if (SUCCEEDED(*hr) && answer.status == 0 && answer.bytesReturned == size) table = answer.bytes;
        }
        services->Close(&status);
    }
    if (started == 0) services->Stop(&status);
    return table;
}
