// CCVariantConversion<unsigned char>, which carries the table from the
// accessor's answer: both directions, the input forms it accepts (by
// reference, any lower bound, other element types), its errors and records.
#include <cstdio>

#include "ComTestSupport.h"
#include "common/conversion/CCVariantConversion.h"

namespace {

using ByteConversion = CCVariantConversion<unsigned char>;
const Bytes kThree{0x01, 0x02, 0xFF};

// A VARIANT vector with lower bound `lower` held by `v`, filled by `put`.
void HoldArray(Variant& v, LONG lower, std::vector<VARIANT> elements) {
    SAFEARRAYBOUND bound{static_cast<ULONG>(elements.size()), lower};
    v->vt = VT_ARRAY | VT_VARIANT;
    v->parray = SafeArrayCreate(VT_VARIANT, 1, &bound);
    for (LONG i = 0; i < static_cast<LONG>(elements.size()); ++i) {
        LONG at = lower + i;
        SafeArrayPutElement(v->parray, &at, &elements[i]);
        VariantClear(&elements[i]);
    }
}

VARIANT Of(VARTYPE vt, LONG value) {
    VARIANT x{};
    x.vt = vt;
    if (vt == VT_UI1) x.bVal = static_cast<BYTE>(value);
    if (vt == VT_I4) x.lVal = value;
    if (vt == VT_BSTR) x.bstrVal = SysAllocString(std::to_wstring(value).c_str());
    return x;
}

Bytes BytesOf(const VARIANT* v, DWORD* countOut = nullptr) {
    ByteConversion conversion(v);
    DWORD count = 0xDEAD;
    unsigned char* buffer = conversion.GetBufferPointer(&count);
    if (countOut) *countOut = count;
    return buffer ? Bytes(buffer, buffer + count) : Bytes{};
}

HRESULT ThrownBy(const VARIANT* v) {
    try {
        BytesOf(v);
    } catch (const CCComError& e) {
        return e.Error();
    }
    return S_OK;
}

} // namespace

TEST(VariantConversion, BytesRoundTripThroughAZeroBasedVectorOfVtUi1) {
    Bytes bytes = kThree;
    Variant v;
    ByteConversion(bytes.data(), 3).GetVariant(v.Get());
    LONG lower = -1;
    ASSERT_EQ(v->vt, VT_ARRAY | VT_VARIANT);
    ASSERT_EQ(SafeArrayGetDim(v->parray), 1u);
    EXPECT_EQ(SafeArrayGetLBound(v->parray, 1, &lower), S_OK);
    EXPECT_EQ(lower, 0);
    ASSERT_EQ(v->parray->rgsabound[0].cElements, 3u);
    for (LONG i = 0; i < 3; ++i) {
        Variant e;
        SafeArrayGetElement(v->parray, &i, e.Get());
        EXPECT_EQ(e->vt, VT_UI1);
        EXPECT_EQ(e->bVal, kThree[i]);
    }
    DWORD count = 0;
    EXPECT_EQ(BytesOf(v.Get(), &count), kThree);
    EXPECT_EQ(count, 3u);

    // The buffer-built object hands out the caller's own buffer; an empty
    // buffer gives an empty vector, no buffer leaves the target alone.
    ByteConversion external(bytes.data(), 3);
    EXPECT_EQ(external.GetBufferPointer(&count), bytes.data());
    Variant empty, untouched;
    ByteConversion(bytes.data(), 0).GetVariant(empty.Get());
    ASSERT_EQ(empty->vt, VT_ARRAY | VT_VARIANT);
    EXPECT_EQ(empty->parray->rgsabound[0].cElements, 0u);
    EXPECT_TRUE(BytesOf(empty.Get(), &count).empty());
    EXPECT_EQ(count, 0u);
    *untouched.Get() = Of(VT_I4, 42);
    ByteConversion(nullptr, 5).GetVariant(untouched.Get());
    EXPECT_EQ(untouched->lVal, 42);
}

TEST(VariantConversion, AcceptsAnyLowerBoundByReferenceAndConvertibleElements) {
    Variant v;
    HoldArray(v, 5, {Of(VT_UI1, 0x15), Of(VT_I4, 0x16), Of(VT_BSTR, 200)});
    EXPECT_EQ(BytesOf(v.Get()), (Bytes{0x15, 0x16, 200}));
    VARIANT byRef{};
    byRef.vt = VT_BYREF | VT_ARRAY | VT_VARIANT;
    byRef.pparray = &v->parray; // does not own the array
    EXPECT_EQ(BytesOf(&byRef), (Bytes{0x15, 0x16, 200}));

    // The copy is the conversion's own; GetVariant replaces what the target held.
    ByteConversion conversion(v.Get());
    v.Put();
    DWORD count = 0;
    unsigned char* first = conversion.GetBufferPointer(&count);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(Bytes(first, first + count), (Bytes{0x15, 0x16, 200}));
    Variant target;
    *target.Get() = Of(VT_BSTR, 1);
    conversion.GetVariant(target.Get());
    EXPECT_EQ(BytesOf(target.Get()), (Bytes{0x15, 0x16, 200}));
}

TEST(VariantConversion, MalformedInputsThrowOrGiveNoBytes) {
    // 300 does not fit a byte: the error is what VariantChangeType reported.
    Variant expected, big;
    VARIANT i4 = Of(VT_I4, 300);
    const HRESULT overflow = VariantChangeType(expected.Get(), &i4, 0, VT_UI1);
    ASSERT_TRUE(FAILED(overflow));
    HoldArray(big, 0, {Of(VT_UI1, 1), Of(VT_I4, 300)});
    EXPECT_EQ(ThrownBy(big.Get()), overflow);
    EXPECT_EQ(ThrownBy(nullptr), E_POINTER);

    // Not a vector of VARIANTs: no bytes, count 0.
    Variant number, raw, square;
    *number.Get() = Of(VT_I4, 3);
    raw->vt = VT_ARRAY | VT_UI1;
    raw->parray = SafeArrayCreateVector(VT_UI1, 0, 4);
    SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
    square->vt = VT_ARRAY | VT_VARIANT;
    square->parray = SafeArrayCreate(VT_VARIANT, 2, bounds);
    for (VARIANT* v : {number.Get(), raw.Get(), square.Get()}) {
        DWORD count = 77;
        EXPECT_TRUE(BytesOf(v, &count).empty());
        EXPECT_EQ(count, 0u);
    }
}

TEST(VariantConversion, WritesItsTraceRecords) {
    Bytes bytes = kThree;
    Variant v;
    std::vector<TraceRecord> records;
    {
        TraceCapture trace;
        ByteConversion(bytes.data(), 3).GetVariant(v.Get());
        DWORD count = 0;
        ByteConversion(v.Get()).GetBufferPointer(&count);
        records = trace.Records();
    }
    // Method, Enter (+) or Leave (-), and for the constructors and the
    // destructor which text: c "...constructed", d "...destructed"; the
    // others write "Method <name> has been called".
    std::string got;
    for (const TraceRecord& r : records) {
        EXPECT_EQ(r.level + " " + r.cls, "InfoCC CCVariantConversion<unsigned char>");
        got += r.method + (r.category == "Enter" ? "+" : r.category == "Leave" ? "-" : "?");
        got += r.text == "An instance of CCVariantConversion was constructed"  ? "c "
               : r.text == "An instance of CCVariantConversion was destructed" ? "d "
               : r.text == "Method " + r.method + " has been called"           ? " "
                                                                               : "? ";
    }
    // The array-built constructor leaves with the destructor's text.
    EXPECT_EQ(got,
              "CCVariantConversion+c CCVariantConversion-c GetVariant+ FillVariant+ FillVariant- GetVariant- "
              "~CCVariantConversion+d ~CCVariantConversion-d CCVariantConversion+c CCVariantConversion-d "
              "GetBufferPointer+ FillBuffer+ FillBuffer- FillBuffer+ FillBuffer- GetBufferPointer- "
              "~CCVariantConversion+d ~CCVariantConversion-d ");
    ASSERT_EQ(records.size(), 18u);
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
