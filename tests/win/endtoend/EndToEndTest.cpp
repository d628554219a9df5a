// A client's view: create "Korvix.SmBiosImpl" by ProgID, hand it the feature
// context, acquire a real table through the driver-access component (fed from
// a table file) and read structures back.
#include <gtest/gtest.h>

#include <string>

#include "ComponentInstall.h"
#include "Korvix.h"
#include "TableBuilder.h"
#include "common/platform/ComWrappers.h"

namespace {

std::wstring Widen(const std::string& s) {
    return std::wstring(s.begin(), s.end());
}

// The value named `name` in a record, or VT_EMPTY.
std::wstring TextOf(const VARIANT& names, const VARIANT& values, const wchar_t* name) {
    LONG upper = -1;
    SafeArrayGetUBound(names.parray, 1, &upper);
    for (LONG i = 0; i <= upper; ++i) {
        Variant n, v;
        SafeArrayGetElement(names.parray, &i, n.Get());
        if (n->vt == VT_BSTR && std::wstring(n->bstrVal) == name) {
            SafeArrayGetElement(values.parray, &i, v.Get());
            return v->vt == VT_BSTR ? std::wstring(v->bstrVal) : L"<not text>";
        }
    }
    return L"<missing>";
}

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(install.Error(), "");
        ASSERT_TRUE(SUCCEEDED(apartment.Result()));
        CLSID clsid;
        ASSERT_EQ(CLSIDFromProgID(L"Korvix.SmBiosImpl", &clsid), S_OK);
        ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ISmBiosImpl, object.PutVoid()),
                  S_OK);
    }
    void TearDown() override { SetEnvironmentVariableW(L"KORVIX_SMBIOS_TABLE", nullptr); }

    ComApartment apartment;
    ComponentInstall install;
    ComPtr<ISmBiosImpl> object;
};

} // namespace

TEST_F(EndToEnd, RealTableThroughTheDriverAccessComponent) {
    const std::string table = TestDataPath("real/dell-poweredge-r640-3.0.bin");
    SetEnvironmentVariableW(L"KORVIX_SMBIOS_TABLE", Widen(table).c_str());

    VARIANT_BOOL ok = 0;
    Bstr feature(ComponentInstall::kFeatureW), version(ComponentInstall::kVersionW),
        context(ComponentInstall::kContextW);
    ASSERT_EQ(object->ComponentInitialize(feature.Get(), version.Get(), context.Get(), &ok), S_OK);
    EXPECT_EQ(ok, 1) << "1, not VARIANT_TRUE";
    ASSERT_EQ(object->Initialize(), S_OK);
    EXPECT_EQ(object->Initialize(), S_OK) << "a second call answers from the kept table";

    Variant names, values;
    ULONG retVal = 99;
    ASSERT_EQ(object->GetFirstInstanceOfType(0, names.Get(), values.Get(), &retVal), S_OK);
    EXPECT_EQ(retVal, 0u);
    EXPECT_EQ(TextOf(*names.Get(), *values.Get(), L"Vendor"), L"Dell Inc.");

    Variant allNames, allValues;
    ASSERT_EQ(object->GetAllInstancesOfType(17, allNames.Get(), allValues.Get(), &retVal), S_OK);
    EXPECT_EQ(allNames->vt, VT_ARRAY | VT_VARIANT);
    EXPECT_EQ(allNames->parray->rgsabound[0].cElements, 24u) << "one record per memory device";
}

TEST_F(EndToEnd, InitializeWithoutFeatureContextFails) {
    EXPECT_EQ(object->Initialize(), E_FAIL);
    Variant names, values;
    ULONG retVal = 0;
    EXPECT_EQ(object->EnumAllInstances(0, names.Get(), values.Get(), &retVal), E_FAIL);
    EXPECT_EQ(retVal, 1u);
}

TEST_F(EndToEnd, UnreadableTableFileFailsAndTheNextCallStartsOver) {
    SetEnvironmentVariableW(L"KORVIX_SMBIOS_TABLE", L"Z:\\no\\such\\table.bin");
    VARIANT_BOOL ok = 0;
    Bstr feature(ComponentInstall::kFeatureW), version(ComponentInstall::kVersionW),
        context(ComponentInstall::kContextW);
    ASSERT_EQ(object->ComponentInitialize(feature.Get(), version.Get(), context.Get(), &ok), S_OK);
    EXPECT_TRUE(FAILED(object->Initialize()));

    SetEnvironmentVariableW(L"KORVIX_SMBIOS_TABLE", Widen(TestDataPath("real/vmware-vm-2.7.bin")).c_str());
    ASSERT_EQ(object->Initialize(), S_OK);
    ULONG retVal = 99;
    Variant names, values;
    EXPECT_EQ(object->GetAllInstancesOfType(4, names.Get(), values.Get(), &retVal), S_OK);
    EXPECT_EQ(names->parray->rgsabound[0].cElements, 128u);
}
