// The driver-access object used directly: its session rules, the two
// requests and their checks, the table sources and its trace records.
#include <gtest/gtest.h>

#include <cstring>

#include "AccessorTestSupport.h"
#include "TableFile.h"
#include "TableSource.h"
#include "TorvelAccess.h"
#include "TraceRecorder.h"

namespace {

const char* const kTableA = "dell-poweredge-r640-3.0.bin";
const char* const kTableB = "surface-laptop3-amd-3.2.bin";

class AccessorObject : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_HRESULT_SUCCEEDED(CTorvelAccess::Create(nullptr, IID_IDriverAccessRaw, raw.PutVoid()));
        ASSERT_HRESULT_SUCCEEDED(raw.As(IID_IDriverServices, services));
        TraceRecorder::Clear();
    }

    // Whether a level-1 record with this text was written.
    static bool Failed(const std::string& text, std::string* details = nullptr) {
        for (const auto& r : TraceRecorder::Records()) {
            if (r.level == 1 && r.text == text) {
                if (details) *details = r.details;
                return true;
            }
        }
        return false;
    }

    TableFileVariable noFile{nullptr};
    ComPtr<IDriverAccessRaw> raw;
    ComPtr<IDriverServices> services;
};

} // namespace

TEST_F(AccessorObject, ServesATableFileByteForByte) {
    const Bytes expected = ReadFile(RealTable(kTableA));
    ASSERT_FALSE(expected.empty());
    TableFileVariable file(Wide(RealTable(kTableA)).c_str());
    StartAndOpen(services.Get());

    ULONG size = 0;
    RawAnswer answer = RequestSize(raw.Get(), &size);
    EXPECT_EQ(answer.hr, S_OK);
    EXPECT_EQ(answer.status, 0u);
    EXPECT_EQ(answer.bytesReturnedType, VT_UI4);
    EXPECT_EQ(answer.bytesReturned, 4u);
    EXPECT_EQ(answer.outputType, VT_ARRAY | VT_VARIANT);
    EXPECT_EQ(answer.bytes.size(), 4u);
    EXPECT_EQ(size, expected.size());

    answer = Request(raw.Get(), DA_IOCTL_GET_SMBIOS_TABLE, size);
    EXPECT_EQ(answer.hr, S_OK);
    EXPECT_EQ(answer.status, 0u);
    EXPECT_EQ(answer.bytesReturnedType, VT_UI4);
    EXPECT_EQ(answer.bytesReturned, size);
    EXPECT_EQ(answer.outputType, VT_ARRAY | VT_VARIANT);
    EXPECT_TRUE(answer.bytes == expected);
}

TEST_F(AccessorObject, SessionRules) {
    TableFileVariable file(Wide(RealTable(kTableA)).c_str());
    ULONG status = 0;
    // Nothing works before Start; Open needs Start, requests need Open.
    RawAnswer answer = Request(raw.Get(), DA_IOCTL_GET_SMBIOS_SIZE, 4);
    EXPECT_TRUE(FAILED(answer.hr));
    EXPECT_EQ(answer.status, static_cast<ULONG>(DA_STATUS_NOT_RUNNING));
    EXPECT_EQ(answer.bytesReturned, 0u);
    EXPECT_TRUE(FAILED(services->Open(0, 0, &status)));
    EXPECT_EQ(status, static_cast<ULONG>(DA_STATUS_NOT_RUNNING));

    EXPECT_EQ(services->Start(&status), S_OK);
    EXPECT_EQ(status, 0u); // started now
    EXPECT_EQ(services->Start(&status), S_OK);
    EXPECT_EQ(status, static_cast<ULONG>(DA_STATUS_ALREADY_RUNNING));

    answer = Request(raw.Get(), DA_IOCTL_GET_SMBIOS_SIZE, 4);
    EXPECT_TRUE(FAILED(answer.hr));
    EXPECT_EQ(answer.status, static_cast<ULONG>(DA_STATUS_NOT_OPEN));

    // The two Open arguments are reserved.
    EXPECT_EQ(services->Open(1, 0, &status), E_INVALIDARG);
    EXPECT_NE(status, 0u);
    EXPECT_EQ(services->Open(0, 0, &status), S_OK);
    EXPECT_EQ(status, 0u);
    // Opening an open session again is fine (a client that failed half-way retries).
    EXPECT_EQ(services->Open(0, 0, &status), S_OK);
    EXPECT_EQ(status, 0u);
    ULONG size = 0;
    EXPECT_EQ(RequestSize(raw.Get(), &size).hr, S_OK);

    EXPECT_EQ(services->Close(&status), S_OK);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(services->Close(&status), S_FALSE);
    EXPECT_EQ(status, static_cast<ULONG>(DA_STATUS_NOT_OPEN));
    EXPECT_TRUE(FAILED(Request(raw.Get(), DA_IOCTL_GET_SMBIOS_SIZE, 4).hr));

    EXPECT_EQ(services->Stop(&status), S_OK);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(services->Stop(&status), S_FALSE);
    EXPECT_EQ(status, static_cast<ULONG>(DA_STATUS_NOT_RUNNING));
    // After Stop the accessor starts anew.
    EXPECT_EQ(services->Start(&status), S_OK);
    EXPECT_EQ(status, 0u);

    EXPECT_EQ(services->Start(nullptr), E_POINTER);
    EXPECT_EQ(services->Open(0, 0, nullptr), E_POINTER);
}

TEST_F(AccessorObject, RejectsWrongOutputSizesAndUnknownCodes) {
    TableFileVariable file(Wide(RealTable(kTableA)).c_str());
    const ULONG tableSize = static_cast<ULONG>(ReadFile(RealTable(kTableA)).size());
    StartAndOpen(services.Get());

    struct Case {
        ULONG code;
        ULONG outputSize;
        HRESULT hr;
        ULONG status;
    } cases[] = {
        {DA_IOCTL_GET_SMBIOS_SIZE, 2, HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER),
         DA_STATUS_BAD_OUTPUT_SIZE},
        {DA_IOCTL_GET_SMBIOS_SIZE, 8, E_INVALIDARG, DA_STATUS_BAD_OUTPUT_SIZE},
        {DA_IOCTL_GET_SMBIOS_TABLE, tableSize - 1, HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER),
         DA_STATUS_BAD_OUTPUT_SIZE},
        {DA_IOCTL_GET_SMBIOS_TABLE, tableSize + 1, E_INVALIDARG, DA_STATUS_BAD_OUTPUT_SIZE},
        {0xA900000C, 4, HRESULT_FROM_WIN32(ERROR_INVALID_FUNCTION), DA_STATUS_INVALID_REQUEST},
        {0, 4, HRESULT_FROM_WIN32(ERROR_INVALID_FUNCTION), DA_STATUS_INVALID_REQUEST},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.code << " " << std::dec << c.outputSize);
        const RawAnswer answer = Request(raw.Get(), c.code, c.outputSize);
        EXPECT_EQ(answer.hr, c.hr);
        EXPECT_EQ(answer.status, c.status);
        EXPECT_EQ(answer.bytesReturnedType, VT_UI4);
        EXPECT_EQ(answer.bytesReturned, 0u);
        // The output is left as the client prepared it.
        EXPECT_NE(answer.outputType, VT_EMPTY);
    }
    EXPECT_TRUE(Failed("FAIL: Output size does not fit the answer."));
    EXPECT_TRUE(Failed("FAIL: Unknown control code."));

    // Missing out-parameters.
    Variant input, output, bytesReturned;
    ULONG status = 0;
    EXPECT_EQ(
        raw->RawRequest(DA_IOCTL_GET_SMBIOS_SIZE, input.Get(), 0, nullptr, 4, bytesReturned.Get(), &status),
        E_POINTER);
    EXPECT_NE(status, 0u);
    EXPECT_EQ(raw->RawRequest(DA_IOCTL_GET_SMBIOS_SIZE, input.Get(), 0, output.Get(), 4, nullptr, &status),
              E_POINTER);
    EXPECT_EQ(raw->RawRequest(DA_IOCTL_GET_SMBIOS_SIZE, input.Get(), 0, output.Get(), 4, bytesReturned.Get(),
                              nullptr),
              E_POINTER);

    // None of this spoiled the session.
    ULONG size = 0;
    EXPECT_EQ(RequestSize(raw.Get(), &size).hr, S_OK);
    EXPECT_EQ(size, tableSize);
    EXPECT_EQ(Request(raw.Get(), DA_IOCTL_GET_SMBIOS_TABLE, size).hr, S_OK);
}

TEST_F(AccessorObject, OneSessionAnswersFromOneReadOfTheTable) {
    const Bytes a = ReadFile(RealTable(kTableA));
    const Bytes b = ReadFile(RealTable(kTableB));
    TableFileVariable file(Wide(RealTable(kTableA)).c_str());
    StartAndOpen(services.Get());
    ULONG size = 0;
    ASSERT_EQ(RequestSize(raw.Get(), &size).hr, S_OK);
    ASSERT_EQ(size, a.size());

    // A change of configuration during the session does not tear the answers apart.
    TableFileVariable other(Wide(RealTable(kTableB)).c_str());
    EXPECT_TRUE(Request(raw.Get(), DA_IOCTL_GET_SMBIOS_TABLE, size).bytes == a);

    // The next session reads again.
    ULONG status = 0;
    services->Close(&status);
    ASSERT_EQ(services->Open(0, 0, &status), S_OK);
    ASSERT_EQ(RequestSize(raw.Get(), &size).hr, S_OK);
    EXPECT_EQ(size, b.size());
    EXPECT_TRUE(Request(raw.Get(), DA_IOCTL_GET_SMBIOS_TABLE, size).bytes == b);
}

TEST_F(AccessorObject, ReadsEveryKindOfTableFile) {
    const Bytes table = ReadFile(RealTable(kTableB));
    Bytes rsmb{0, 3, 2, 0};
    const Bytes length = U32(static_cast<uint32_t>(table.size()));
    rsmb.insert(rsmb.end(), length.begin(), length.end());
    rsmb.insert(rsmb.end(), table.begin(), table.end());

    Bytes sm3(0x20, 0);
    std::memcpy(&sm3[0], "_SM3_", 5);
    sm3[6] = 0x18;
    sm3[7] = 3;
    sm3[8] = 2;
    const Bytes maxSize = U32(static_cast<uint32_t>(table.size() + 64));
    std::copy(maxSize.begin(), maxSize.end(), sm3.begin() + 0x0C);
    sm3[0x10] = 0x20;
    sm3.insert(sm3.end(), table.begin(), table.end());
    sm3.insert(sm3.end(), 64, 0);

    for (const Bytes* content : {&rsmb, &sm3}) {
        TempTableFile file(*content);
        TableFileVariable variable(file.Path().c_str());
        HRESULT hr = E_FAIL;
        EXPECT_TRUE(ReadTable(raw.Get(), &hr) == table);
        EXPECT_EQ(hr, S_OK);
    }
}

TEST_F(AccessorObject, UnusableTableFilesFailTheRequestsWithATrace) {
    const std::string text = "not an SMBIOS table";
    TempTableFile garbage(Bytes(text.begin(), text.end()));
    TempTableFile empty(Bytes{});
    Bytes truncated{'_', 'S', 'M', '_', 0, 0x1F};
    TempTableFile shortDump(truncated);
    const std::wstring missing = garbage.Path() + L".missing";

    struct Case {
        std::wstring path;
        HRESULT hr;
        const char* trace;
        const char* detail;
    } cases[] = {
        {garbage.Path(), HRESULT_FROM_WIN32(ERROR_INVALID_DATA),
         "FAIL: SMBios table file holds no valid table.", "no whole SMBIOS structure"},
        {empty.Path(), HRESULT_FROM_WIN32(ERROR_INVALID_DATA),
         "FAIL: SMBios table file holds no valid table.", "the file is empty"},
        {shortDump.Path(), HRESULT_FROM_WIN32(ERROR_INVALID_DATA),
         "FAIL: SMBios table file holds no valid table.", "truncated _SM_ entry point"},
        {missing, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), "FAIL: SMBios table file cannot be read.",
         "the file cannot be opened"},
    };
    StartAndOpen(services.Get());
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.detail));
        TableFileVariable variable(c.path.c_str());
        ULONG status = 0;
        services->Open(0, 0, &status); // a fresh read of the table
        TraceRecorder::Clear();
        ULONG size = 0;
        const RawAnswer answer = RequestSize(raw.Get(), &size);
        EXPECT_EQ(answer.hr, c.hr);
        EXPECT_EQ(answer.status, static_cast<ULONG>(DA_STATUS_TABLE_UNAVAILABLE));
        EXPECT_EQ(answer.bytesReturned, 0u);
        std::string details;
        EXPECT_TRUE(Failed(c.trace, &details));
        EXPECT_NE(details.find(c.detail), std::string::npos) << details;
        EXPECT_TRUE(Failed("FAIL: SMBios table not available."));
        // The data request fails the same way.
        EXPECT_EQ(Request(raw.Get(), DA_IOCTL_GET_SMBIOS_TABLE, 100).hr, c.hr);
    }
}

TEST_F(AccessorObject, RegistryValueNamesTheFileAndTheVariableOverridesIt) {
    const Bytes a = ReadFile(RealTable(kTableA));
    const Bytes b = ReadFile(RealTable(kTableB));
    TableFileRegistryValue value(Wide(RealTable(kTableA)));
    ASSERT_TRUE(value.Written());
    EXPECT_EQ(CTableSource::ConfiguredFile(), Wide(RealTable(kTableA)));
    EXPECT_TRUE(ReadTable(raw.Get()) == a);

    TableFileVariable variable(Wide(RealTable(kTableB)).c_str());
    EXPECT_TRUE(ReadTable(raw.Get()) == b);

    // An empty variable counts as unset.
    TableFileVariable blank(L"");
    EXPECT_TRUE(ReadTable(raw.Get()) == a);
}

TEST_F(AccessorObject, ExpandableRegistryValueIsExpanded) {
    SetEnvironmentVariableW(L"KORVIX_TEST_TABLES", Wide(TestDataPath("real")).c_str());
    TableFileRegistryValue value(L"%KORVIX_TEST_TABLES%\\" + Wide(kTableB), REG_EXPAND_SZ);
    ASSERT_TRUE(value.Written());
    EXPECT_TRUE(ReadTable(raw.Get()) == ReadFile(RealTable(kTableB)));
    SetEnvironmentVariableW(L"KORVIX_TEST_TABLES", nullptr);
}

TEST_F(AccessorObject, WithoutConfigurationServesTheFirmwareTable) {
    ASSERT_EQ(CTableSource::ConfiguredFile(), L"");
    HRESULT hr = E_FAIL;
    const Bytes table = ReadTable(raw.Get(), &hr);
    ASSERT_EQ(hr, S_OK);
    ASSERT_FALSE(table.empty());
    EXPECT_EQ(WholeStructuresEnd(table.data(), table.size()), table.size());

    // The same bytes as the firmware interface, without its 8-byte header.
    const UINT needed = GetSystemFirmwareTable(0x52534D42 /* 'RSMB' */, 0, nullptr, 0);
    Bytes firmware(needed);
    ASSERT_EQ(GetSystemFirmwareTable(0x52534D42 /* 'RSMB' */, 0, firmware.data(), needed), needed);
    ASSERT_GE(firmware.size(), 8u);
    EXPECT_TRUE(Bytes(firmware.begin() + 8, firmware.end()) == table);
}

TEST_F(AccessorObject, ComponentInitRecordsTheFeatureContext) {
    ComPtr<IComponentInit> init;
    ASSERT_HRESULT_SUCCEEDED(raw.As(IID_IComponentInit, init));
    VARIANT_BOOL result = VARIANT_FALSE;
    Bstr feature(L"Inventory"), version(L"2.1"), context(L"Default");
    EXPECT_EQ(init->Initialize(feature.Get(), version.Get(), context.Get(), &result), S_OK);
    EXPECT_EQ(result, VARIANT_TRUE);
    EXPECT_EQ(
        TraceRecorder::Count("sFeatureName: 'Inventory', sFeatureVersion: '2.1', sContextName: 'Default'"),
        1u);

    result = VARIANT_FALSE;
    EXPECT_EQ(init->Initialize(nullptr, nullptr, nullptr, &result), S_OK);
    EXPECT_EQ(result, VARIANT_TRUE);
    EXPECT_EQ(init->Initialize(nullptr, nullptr, nullptr, nullptr), E_POINTER);
}
