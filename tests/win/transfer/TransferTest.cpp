// Initialize through the registered driver-access component, served from a
// table file, on real tables and on a large generated one: the structures a
// client reads back are exactly those of the file, in the order of the type
// index, with their types, handles and lengths.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ComponentInstall.h"
#include "Korvix.h"
#include "TableBuilder.h"
#include "common/platform/ComWrappers.h"
#include "core/SmBiosTable.h"
#include "core/TypeDispatcher.h"

namespace {

struct Header {
    unsigned type, length, handle;
    bool operator==(const Header& o) const {
        return type == o.type && length == o.length && handle == o.handle;
    }
};

class NullSink : public IAttributeSink {
public:
    AppendResult Append(const char*, bool, const AttributeValue&) override { return 0; }
};

// What a client should read back as records: the structures whose decoder
// takes them (a refused structure answers RetVal 0 with empty outputs), in
// the order of the type index, as the table model indexes the file's bytes.
std::vector<Header> Expected(const Bytes& bytes) {
    auto* buffer = new uint8_t[bytes.size()];
    std::copy(bytes.begin(), bytes.end(), buffer);
    CSmBiosTable table;
    table.Attach(buffer, static_cast<uint32_t>(bytes.size()));
    CTypeDispatcher dispatcher(table);
    std::vector<Header> out;
    CCSmBiosItem item;
    for (uint32_t i = 0; table.GetByIndex(i, item); ++i) {
        std::unique_ptr<CCVSmBiosItem> decoder = dispatcher.Dispatch(item.Type());
        if (!decoder) continue;
        decoder->CopyFrom(item);
        NullSink sink;
        if (decoder->Decode(sink) != CCVSmBiosItem::kRefused)
            out.push_back({item.Type(), item.Length(), item.Handle()});
    }
    return out;
}

// The first three attributes of every record are Type, Length and Handle.
Header HeaderOf(const VARIANT& values) {
    Header h{0, 0, 0};
    LONG i = 0;
    Variant v;
    if (SUCCEEDED(SafeArrayGetElement(values.parray, &i, v.Get())) && v->vt == VT_UI1) h.type = v->bVal;
    i = 1;
    if (SUCCEEDED(SafeArrayGetElement(values.parray, &i, v.Put())) && v->vt == VT_UI1) h.length = v->bVal;
    i = 2;
    if (SUCCEEDED(SafeArrayGetElement(values.parray, &i, v.Put())) && v->vt == VT_UI2) h.handle = v->uiVal;
    return h;
}

class Transfer : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(install.Error(), "");
        ASSERT_TRUE(SUCCEEDED(apartment.Result()));
    }
    void TearDown() override {
        SetEnvironmentVariableW(L"KORVIX_SMBIOS_TABLE", nullptr);
        if (!temporary.empty()) DeleteFileW(temporary.c_str());
    }

    // Initializes a new object on the table file at `path` and reads every
    // record back through EnumAllInstances.
    std::vector<Header> ReadBack(const std::wstring& path) {
        SetEnvironmentVariableW(L"KORVIX_SMBIOS_TABLE", path.c_str());
        CLSID clsid;
        EXPECT_EQ(CLSIDFromProgID(L"Korvix.SmBiosImpl", &clsid), S_OK);
        ComPtr<ISmBiosImpl> object;
        EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ISmBiosImpl, object.PutVoid()),
                  S_OK);
        std::vector<Header> out;
        if (!object) return out;
        Bstr feature(ComponentInstall::kFeatureW), version(ComponentInstall::kVersionW),
            context(ComponentInstall::kContextW);
        VARIANT_BOOL ok = 0;
        EXPECT_EQ(object->ComponentInitialize(feature.Get(), version.Get(), context.Get(), &ok), S_OK);
        EXPECT_EQ(object->Initialize(), S_OK);
        Variant names, values;
        ULONG retVal = 0;
        for (UINT i = 0; i < 0x20000; ++i) {
            object->EnumAllInstances(i, names.Put(), values.Put(), &retVal);
            if (retVal == 3) break;
            if (retVal == 0 && values->vt == (VT_ARRAY | VT_VARIANT)) out.push_back(HeaderOf(*values.Get()));
        }
        return out;
    }

    ComApartment apartment;
    ComponentInstall install;
    std::wstring temporary;
};

std::wstring Widen(const std::string& s) {
    return std::wstring(s.begin(), s.end());
}

} // namespace

TEST_F(Transfer, EveryStructureOfTheRealTablesComesBack) {
    const std::vector<std::string> names = RealTableNames();
    ASSERT_FALSE(names.empty());
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const std::string path = TestDataPath("real/" + name);
        const std::vector<Header> expected = Expected(ReadFile(path));
        ASSERT_FALSE(expected.empty());
        EXPECT_TRUE(ReadBack(Widen(path)) == expected);
    }
}

// About 1.4 MB: twenty thousand structures of three decoded types with
// strings, distinct handles, every byte value somewhere in the strings.
TEST_F(Transfer, ALargeTableComesBackWhole) {
    Bytes table;
    for (uint32_t k = 0; k < 20000; ++k) {
        const uint16_t handle = static_cast<uint16_t>(k);
        std::string text = "S" + std::to_string(k);
        text.push_back(static_cast<char>(1 + k % 255));
        Bytes s;
        switch (k % 3) {
        case 0: // memory device, Length 0x1B, four strings
            s = Structure(17, handle,
                          Cat({U16(0x1000),
                               U16(0xFFFE),
                               U16(64),
                               U16(64),
                               U16(8192),
                               {9, 0, 1, 2, 26},
                               U16(0x80),
                               U16(2400),
                               {3, 4, 0, 0}}),
                          {"DIMM", "BANK", text, "PN"});
            break;
        case 1: // OEM strings
            s = Structure(11, handle, {2}, {text, "x"});
            break;
        default: // cache
            s = Structure(7, handle, Cat({{1}, U16(0x0180), U16(0x8040), U16(0x8040), U16(0x20), U16(0x20)}),
                          {text});
            break;
        }
        table.insert(table.end(), s.begin(), s.end());
    }
    const Bytes end = Structure(127, 0xFFFF, {});
    table.insert(table.end(), end.begin(), end.end());

    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    temporary = std::wstring(folder) + L"korvix-transfer-" + std::to_wstring(GetCurrentProcessId()) + L".bin";
    {
        UniqueHandle file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(file.Valid());
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(file.Get(), table.data(), static_cast<DWORD>(table.size()), &written, nullptr));
        ASSERT_EQ(written, table.size());
    }
    const std::vector<Header> expected = Expected(table);
    ASSERT_EQ(expected.size(), 20000u);
    const std::vector<Header> back = ReadBack(temporary);
    ASSERT_EQ(back.size(), expected.size());
    EXPECT_TRUE(back == expected);
}
