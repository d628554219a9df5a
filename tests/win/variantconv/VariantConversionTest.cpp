// CCVariantConversion<unsigned char>: both directions, the input forms it
// accepts (by reference, any lower bound, other element types), its errors
// and its trace records.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TraceRecorder.h"
#include "common/conversion/CCVariantConversion.h"

namespace {

using ByteConversion = CCVariantConversion<unsigned char>;

// A one-dimensional array of VARIANT with the given lower bound.
SAFEARRAY* VariantArray(LONG lower, ULONG count) {
    SAFEARRAYBOUND bound{count, lower};
    return SafeArrayCreate(VT_VARIANT, 1, &bound);
}

void Put(SAFEARRAY* psa, LONG index, const VARIANT& value) {
    ASSERT_HRESULT_SUCCEEDED(SafeArrayPutElement(psa, &index, const_cast<VARIANT*>(&value)));
}

VARIANT I4(LONG v) {
    VARIANT x;
    VariantInit(&x);
    V_VT(&x) = VT_I4;
    V_I4(&x) = v;
    return x;
}

VARIANT UI1(BYTE v) {
    VARIANT x;
    VariantInit(&x);
    V_VT(&x) = VT_UI1;
    V_UI1(&x) = v;
    return x;
}

// Holds an array as a VT_ARRAY | VT_VARIANT VARIANT.
void Hold(Variant& v, SAFEARRAY* psa) {
    V_VT(v.Get()) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(v.Get()) = psa;
}

std::vector<unsigned char> BytesOf(const VARIANT* v, DWORD* countOut = nullptr) {
    ByteConversion conversion(v);
    DWORD count = 0xDEAD;
    unsigned char* buffer = conversion.GetBufferPointer(&count);
    if (countOut) *countOut = count;
    return buffer ? std::vector<unsigned char>(buffer, buffer + count) : std::vector<unsigned char>{};
}

const std::vector<unsigned char> kThree{0x01, 0x02, 0xFF};

} // namespace

TEST(VariantConversion, BytesRoundTripThroughTheByteArray) {
    std::vector<unsigned char> bytes = kThree;
    Variant v;
    ByteConversion(bytes.data(), 3).GetVariant(v.Get());

    ASSERT_EQ(V_VT(v.Get()), VT_ARRAY | VT_VARIANT);
    SAFEARRAY* psa = V_ARRAY(v.Get());
    ASSERT_EQ(SafeArrayGetDim(psa), 1u);
    LONG lower = -1, upper = -1;
    SafeArrayGetLBound(psa, 1, &lower);
    SafeArrayGetUBound(psa, 1, &upper);
    EXPECT_EQ(lower, 0);
    EXPECT_EQ(upper, 2);
    for (LONG i = 0; i <= 2; ++i) {
        Variant element;
        ASSERT_HRESULT_SUCCEEDED(SafeArrayGetElement(psa, &i, element.Get()));
        EXPECT_EQ(V_VT(element.Get()), VT_UI1);
        EXPECT_EQ(V_UI1(element.Get()), kThree[i]);
    }

    DWORD count = 0;
    EXPECT_EQ(BytesOf(v.Get(), &count), kThree);
    EXPECT_EQ(count, 3u);
}

TEST(VariantConversion, BufferSideEdges) {
    // An empty buffer still gives an (empty) array of VARIANT.
    unsigned char none = 0;
    Variant empty;
    ByteConversion(&none, 0).GetVariant(empty.Get());
    ASSERT_EQ(V_VT(empty.Get()), VT_ARRAY | VT_VARIANT);
    LONG lower = -1, upper = 0;
    SafeArrayGetLBound(V_ARRAY(empty.Get()), 1, &lower);
    SafeArrayGetUBound(V_ARRAY(empty.Get()), 1, &upper);
    EXPECT_EQ(upper - lower + 1, 0);
    DWORD count = 99;
    EXPECT_TRUE(BytesOf(empty.Get(), &count).empty());
    EXPECT_EQ(count, 0u);

    // No buffer: the target is left as it was.
    Variant untouched;
    *untouched.Get() = I4(42);
    ByteConversion(nullptr, 5).GetVariant(untouched.Get());
    EXPECT_EQ(V_VT(untouched.Get()), VT_I4);
    EXPECT_EQ(V_I4(untouched.Get()), 42);

    // The buffer-built object hands out the caller's own buffer.
    std::vector<unsigned char> bytes = kThree;
    ByteConversion external(bytes.data(), 3);
    count = 0;
    EXPECT_EQ(external.GetBufferPointer(&count), bytes.data());
    EXPECT_EQ(count, 3u);
}

TEST(VariantConversion, AcceptsAnyLowerBoundAndArraysByReference) {
    Variant v;
    Hold(v, VariantArray(5, 3));
    for (LONG i = 5; i < 8; ++i)
        Put(V_ARRAY(v.Get()), i, UI1(static_cast<BYTE>(0x10 + i)));
    EXPECT_EQ(BytesOf(v.Get()), (std::vector<unsigned char>{0x15, 0x16, 0x17}));

    Variant byRef;
    SAFEARRAY* psa = V_ARRAY(v.Get());
    V_VT(byRef.Get()) = VT_BYREF | VT_ARRAY | VT_VARIANT;
    V_ARRAYREF(byRef.Get()) = &psa;
    EXPECT_EQ(BytesOf(byRef.Get()), (std::vector<unsigned char>{0x15, 0x16, 0x17}));
    V_VT(byRef.Get()) = VT_EMPTY; // the reference does not own the array
}

TEST(VariantConversion, ConvertsOtherElementTypesAndThrowsWhenImpossible) {
    Variant v;
    Hold(v, VariantArray(0, 3));
    Put(V_ARRAY(v.Get()), 0, I4(10));
    Variant text;
    V_VT(text.Get()) = VT_BSTR;
    V_BSTR(text.Get()) = SysAllocString(L"200");
    Put(V_ARRAY(v.Get()), 1, *text.Get());
    Put(V_ARRAY(v.Get()), 2, UI1(7));
    EXPECT_EQ(BytesOf(v.Get()), (std::vector<unsigned char>{10, 200, 7}));

    // 300 does not fit a byte: the error carries what the conversion reported.
    Variant expected;
    VARIANT big = I4(300);
    const HRESULT hr = VariantChangeType(expected.Get(), &big, 0, VT_UI1);
    ASSERT_TRUE(FAILED(hr));
    Put(V_ARRAY(v.Get()), 1, big);
    ByteConversion conversion(v.Get());
    DWORD count = 0;
    try {
        conversion.GetBufferPointer(&count);
        FAIL() << "no exception";
    } catch (const CCComError& e) {
        EXPECT_EQ(e.Error(), hr);
    }
}

TEST(VariantConversion, NullInputThrowsEPointer) {
    try {
        ByteConversion conversion(static_cast<const VARIANT*>(nullptr));
        FAIL() << "no exception";
    } catch (const CCComError& e) {
        EXPECT_EQ(e.Error(), E_POINTER);
    }
}

TEST(VariantConversion, InputsThatAreNotByteArraysGiveNoBytes) {
    Variant number;
    *number.Get() = I4(3);
    DWORD count = 77;
    EXPECT_TRUE(BytesOf(number.Get(), &count).empty());
    EXPECT_EQ(count, 0u);

    // An array of bytes, not of VARIANTs.
    Variant raw;
    V_VT(raw.Get()) = VT_ARRAY | VT_UI1;
    V_ARRAY(raw.Get()) = SafeArrayCreateVector(VT_UI1, 0, 4);
    count = 77;
    EXPECT_TRUE(BytesOf(raw.Get(), &count).empty());
    EXPECT_EQ(count, 0u);

    // Two dimensions.
    SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
    Variant square;
    V_VT(square.Get()) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(square.Get()) = SafeArrayCreate(VT_VARIANT, 2, bounds);
    count = 77;
    EXPECT_TRUE(BytesOf(square.Get(), &count).empty());
    EXPECT_EQ(count, 0u);
}

TEST(VariantConversion, VariantSideKeepsItsOwnCopy) {
    std::vector<unsigned char> bytes = kThree;
    Variant source;
    ByteConversion(bytes.data(), 3).GetVariant(source.Get());
    ByteConversion conversion(source.Get());
    source.Put(); // the conversion copied the array

    DWORD count = 0;
    unsigned char* first = conversion.GetBufferPointer(&count);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(std::vector<unsigned char>(first, first + count), kThree);
    // A second call converts again.
    unsigned char* second = conversion.GetBufferPointer(&count);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(std::vector<unsigned char>(second, second + count), kThree);

    // GetVariant hands out a copy, replacing what the target held.
    Variant target;
    V_VT(target.Get()) = VT_BSTR;
    V_BSTR(target.Get()) = SysAllocString(L"old");
    conversion.GetVariant(target.Get());
    ASSERT_EQ(V_VT(target.Get()), VT_ARRAY | VT_VARIANT);
    EXPECT_EQ(BytesOf(target.Get()), kThree);
}

TEST(VariantConversion, WritesItsTraceRecords) {
    const std::string scope = "CCVariantConversion<unsigned char>::";
    std::vector<unsigned char> bytes = kThree;
    Variant v;
    TraceRecorder::Clear();
    {
        ByteConversion conversion(bytes.data(), 3);
        conversion.GetVariant(v.Get());
    }
    {
        ByteConversion conversion(v.Get());
        DWORD count = 0;
        conversion.GetBufferPointer(&count);
    }
    struct Expected {
        const char* method;
        const char* category;
        const char* text;
    };
    const Expected expected[] = {
        {"CCVariantConversion", "Enter", "An instance of CCVariantConversion was constructed"},
        {"CCVariantConversion", "Leave", "An instance of CCVariantConversion was constructed"},
        {"GetVariant", "Enter", "Method GetVariant has been called"},
        {"FillVariant", "Enter", "Method FillVariant has been called"},
        {"FillVariant", "Leave", "Method FillVariant has been called"},
        {"GetVariant", "Leave", "Method GetVariant has been called"},
        {"~CCVariantConversion", "Enter", "An instance of CCVariantConversion was destructed"},
        {"~CCVariantConversion", "Leave", "An instance of CCVariantConversion was destructed"},
        {"CCVariantConversion", "Enter", "An instance of CCVariantConversion was constructed"},
        {"CCVariantConversion", "Leave", "An instance of CCVariantConversion was destructed"},
        {"GetBufferPointer", "Enter", "Method GetBufferPointer has been called"},
        {"FillBuffer", "Enter", "Method FillBuffer has been called"},
        {"FillBuffer", "Leave", "Method FillBuffer has been called"},
        {"FillBuffer", "Enter", "Method FillBuffer has been called"},
        {"FillBuffer", "Leave", "Method FillBuffer has been called"},
        {"GetBufferPointer", "Leave", "Method GetBufferPointer has been called"},
        {"~CCVariantConversion", "Enter", "An instance of CCVariantConversion was destructed"},
        {"~CCVariantConversion", "Leave", "An instance of CCVariantConversion was destructed"},
    };
    const auto& records = TraceRecorder::Records();
    ASSERT_EQ(records.size(), std::size(expected));
    for (size_t i = 0; i < records.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(records[i].level, 5u);
        EXPECT_EQ(records[i].scope, scope + expected[i].method);
        EXPECT_EQ(records[i].category, expected[i].category);
        EXPECT_EQ(records[i].text, expected[i].text);
    }

    char details[64];
    std::snprintf(details, sizeof details, "pBuffer: 0x%08X dwCount: 3",
                  static_cast<unsigned>(reinterpret_cast<uintptr_t>(bytes.data())));
    EXPECT_EQ(records[0].details, details);
    EXPECT_EQ(records[1].details, "");
    std::snprintf(details, sizeof details, "pvt: 0x%08X",
                  static_cast<unsigned>(reinterpret_cast<uintptr_t>(v.Get())));
    EXPECT_EQ(records[3].details, details);
    EXPECT_EQ(records[4].details, "bReturn: 1");
    EXPECT_EQ(records[11].details.rfind("pBuffer: 0x00000000 pCount: 0x", 0), 0u) << records[11].details;
    EXPECT_EQ(records[13].details.rfind("pBuffer: 0x", 0), 0u);
    EXPECT_NE(records[13].details, records[11].details);
}
