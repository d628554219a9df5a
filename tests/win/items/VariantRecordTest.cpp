// The COM form of an attribute record: two VT_ARRAY | VT_VARIANT arrays with
// lower bound 0, names as VT_BSTR, values with their variant types.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TableBuilder.h"
#include "common/platform/ComWrappers.h"
#include "items/Decoders.h"
#include "items/com/VariantAttributeSink.h"

namespace {

// Element i of a VT_ARRAY | VT_VARIANT, copied out.
std::vector<VARIANT*> Elements(const VARIANT& array, std::vector<Variant>& storage) {
    std::vector<VARIANT*> out;
    EXPECT_EQ(array.vt, VT_ARRAY | VT_VARIANT);
    if (array.vt != (VT_ARRAY | VT_VARIANT)) return out;
    EXPECT_EQ(SafeArrayGetDim(array.parray), 1u);
    LONG lower = -1, upper = -2;
    SafeArrayGetLBound(array.parray, 1, &lower);
    SafeArrayGetUBound(array.parray, 1, &upper);
    EXPECT_EQ(lower, 0);
    storage = std::vector<Variant>(static_cast<size_t>(upper - lower + 1));
    for (LONG i = lower; i <= upper; ++i) {
        EXPECT_EQ(SafeArrayGetElement(array.parray, &i, storage[i].Get()), S_OK);
        out.push_back(storage[i].Get());
    }
    return out;
}

std::wstring Text(const VARIANT* v) {
    return v->bstrVal ? std::wstring(v->bstrVal, SysStringLen(v->bstrVal)) : L"<null>";
}

} // namespace

TEST(VariantRecord, BiosRecordTypesAndWidening) {
    // Vendor with bytes 0x80 and 0xFF: each byte becomes the code unit of the same value.
    const Bytes s = Structure(0, 0x1234, Cat({{1, 2}, U16(0xE800), {0, 0x3F}, {1, 0, 0, 0, 0, 0, 0, 0}}),
                              {std::string("A\x80\xFF"), "2.1"});
    CBiosItem bios;
    bios.Load(s.data(), static_cast<uint32_t>(s.size()));
    Variant names, values;
    ASSERT_EQ(bios.GetTypeInstanceData(names.Get(), values.Get()), S_OK);

    std::vector<Variant> nameStore, valueStore;
    auto n = Elements(*names.Get(), nameStore);
    auto v = Elements(*values.Get(), valueStore);
    ASSERT_EQ(n.size(), v.size());
    ASSERT_EQ(n.size(), 8u); // header, Vendor, Version, StartingAddrSegment, ROMSize, Characteristics
    const wchar_t* expected[] = {L"Type",    L"Length",         L"Handle",
                                 L"Vendor",  L"Version",        L"StartingAddrSegment",
                                 L"ROMSize", L"Characteristics"};
    for (size_t i = 0; i < n.size(); ++i) {
        EXPECT_EQ(n[i]->vt, VT_BSTR);
        EXPECT_EQ(Text(n[i]), expected[i]);
    }
    EXPECT_EQ(v[0]->vt, VT_UI1);
    EXPECT_EQ(v[0]->bVal, 0);
    EXPECT_EQ(v[1]->vt, VT_UI1);
    EXPECT_EQ(v[1]->bVal, 18);
    EXPECT_EQ(v[2]->vt, VT_UI2);
    EXPECT_EQ(v[2]->uiVal, 0x1234);
    EXPECT_EQ(v[3]->vt, VT_BSTR);
    EXPECT_EQ(Text(v[3]), std::wstring(L"A\u0080\u00FF"));
    EXPECT_EQ(v[5]->vt, VT_UI2);
    EXPECT_EQ(v[7]->vt, VT_BSTR);
    EXPECT_EQ(Text(v[7]), L"1");
}

TEST(VariantRecord, ByteArraysFlagsAndNumberedNames) {
    VariantAttributeSink sink;
    const uint8_t bytes[] = {0x03, 0x05, 0x83};
    EXPECT_EQ(sink.Append("ContainedElements0", true, AttributeValue::Raw(bytes, 3)), 0);
    EXPECT_EQ(sink.Append("ContainedElements1", true, AttributeValue::Raw(nullptr, 0)), 0);
    EXPECT_EQ(sink.Append("AmtSupported", false, AttributeValue::Bool(1)), 0);
    EXPECT_EQ(sink.Append("OEMDefined", false, AttributeValue::UI4(0xDEADBEEF)), 0);
    EXPECT_EQ(sink.Append("Empty", false, AttributeValue::Text(nullptr)), 0);
    Variant names, values;
    ASSERT_EQ(sink.HandOver(names.Get(), values.Get()), S_OK);

    std::vector<Variant> ns, vs;
    auto n = Elements(*names.Get(), ns);
    auto v = Elements(*values.Get(), vs);
    ASSERT_EQ(v.size(), 5u);
    EXPECT_EQ(Text(n[0]), L"ContainedElements0");
    ASSERT_EQ(v[0]->vt, VT_ARRAY | VT_UI1);
    LONG upper = -1;
    SafeArrayGetUBound(v[0]->parray, 1, &upper);
    EXPECT_EQ(upper, 2);
    LONG i = 2;
    BYTE b = 0;
    SafeArrayGetElement(v[0]->parray, &i, &b);
    EXPECT_EQ(b, 0x83);
    ASSERT_EQ(v[1]->vt, VT_ARRAY | VT_UI1);
    EXPECT_EQ(v[1]->parray->rgsabound[0].cElements, 0u) << "an empty run is an empty array";
    EXPECT_EQ(v[2]->vt, VT_BOOL);
    EXPECT_EQ(v[2]->boolVal, 1) << "the raw flag byte, not VARIANT_TRUE";
    EXPECT_EQ(v[3]->vt, VT_UI4);
    EXPECT_EQ(v[3]->ulVal, 0xDEADBEEFu);
    EXPECT_EQ(v[4]->vt, VT_BSTR);
}

TEST(VariantRecord, GetStringWidensOrAnswersFalse) {
    const Bytes s = Structure(1, 1, {1, 0, 0, 0}, {"first", std::string("\xE4")});
    CSystemItem system;
    system.Load(s.data(), static_cast<uint32_t>(s.size()));
    Variant out;
    EXPECT_TRUE(system.GetString(1, out.Put()));
    EXPECT_EQ(out->vt, VT_BSTR);
    EXPECT_EQ(Text(out.Get()), std::wstring(L"\u00E4"));
    Variant untouched;
    EXPECT_FALSE(system.GetString(2, untouched.Put()));
    EXPECT_EQ(untouched->vt, VT_EMPTY);
    EXPECT_FALSE(system.GetString(0, nullptr));
}

TEST(VariantRecord, EmptyCopyGivesEmptyArrays) {
    CSystemItem empty;
    Variant names, values;
    EXPECT_EQ(empty.GetTypeInstanceData(names.Get(), values.Get()), S_OK);
    EXPECT_EQ(names->vt, VT_ARRAY | VT_VARIANT);
    EXPECT_EQ(names->parray->rgsabound[0].cElements, 0u);
}
