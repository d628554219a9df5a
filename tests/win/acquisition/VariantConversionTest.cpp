// CCVariantConversion<unsigned char>, which carries the table from the
// accessor's answer: both directions, the input forms it accepts (by
// reference, any lower bound, other element types), its errors and records.
#include <cstdio>

#include "ComTestSupport.h"
#include "common/conversion/CCVariantConversion.h"

namespace {

using ByteConversion = CCVariantConversion<unsigned char>;

VARIANT Of(VARTYPE vt, LONG value) {
    VARIANT x{};
    x.vt = vt;
    if (vt == VT_UI1) x.bVal = static_cast<BYTE>(value);
    if (vt == VT_I4) x.lVal = value;
    if (vt == VT_BSTR) x.bstrVal = SysAllocString(std::to_wstring(value).c_str());
    return x;
}

// A VARIANT vector with lower bound `lower` held by `v`.
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

// "bytes/count" that the VARIANT-side conversion gives, or what it throws.
std::string Converted(const VARIANT* v) {
    char text[16];
    try {
        ByteConversion conversion(v);
        DWORD count = 0xDEAD;
        const unsigned char* bytes = conversion.GetBufferPointer(&count);
        std::string out;
        for (DWORD i = 0; bytes && i < count; ++i)
            out += (std::snprintf(text, sizeof text, "%02X ", bytes[i]), text);
        return out + "/" + std::to_string(count);
    } catch (const CCComError& e) {
        std::snprintf(text, sizeof text, "%08lX", static_cast<unsigned long>(e.Error()));
        return std::string("throws ") + text;
    }
}

} // namespace

TEST(VariantConversion, BytesRoundTripThroughAZeroBasedVectorOfVtUi1) {
    Bytes bytes = {0x01, 0x02, 0xFF};
    Variant v, empty, untouched;
    ByteConversion(bytes.data(), 3).GetVariant(v.Get());
    std::string error;
    ASSERT_NE(VectorOf(*v.Get(), "bytes", error), nullptr) << error;
    for (LONG i = 0; i < LONG(v->parray->rgsabound[0].cElements); ++i) {
        Variant e;
        SafeArrayGetElement(v->parray, &i, e.Get());
        EXPECT_EQ(e->vt, VT_UI1);
    }
    EXPECT_EQ(Converted(v.Get()), "01 02 FF /3");
    ByteConversion(bytes.data(), 0).GetVariant(empty.Get());
    EXPECT_EQ(Converted(empty.Get()), "/0") << "an empty vector";
    *untouched.Get() = Of(VT_I4, 42);
    ByteConversion(nullptr, 5).GetVariant(untouched.Get());
    EXPECT_EQ(untouched->lVal, 42) << "no buffer, no change";
    DWORD count = 0;
    EXPECT_EQ(ByteConversion(bytes.data(), 3).GetBufferPointer(&count), bytes.data())
        << "the caller's own buffer";
}

TEST(VariantConversion, AnyLowerBoundByReferenceAndConvertibleElementsAreAccepted) {
    Variant v;
    HoldArray(v, 5, {Of(VT_UI1, 0x15), Of(VT_I4, 0x16), Of(VT_BSTR, 200)});
    EXPECT_EQ(Converted(v.Get()), "15 16 C8 /3");
    VARIANT byRef{};
    byRef.vt = VT_BYREF | VT_ARRAY | VT_VARIANT;
    byRef.pparray = &v->parray; // does not own the array
    EXPECT_EQ(Converted(&byRef), "15 16 C8 /3");
}

TEST(VariantConversion, MalformedInputsThrowOrGiveNoBytes) {
    // 300 does not fit a byte: the error is what VariantChangeType reports.
    Variant big, number, raw, square;
    HoldArray(big, 0, {Of(VT_UI1, 1), Of(VT_I4, 300)});
    EXPECT_EQ(Converted(big.Get()), "throws 8002000A");
    EXPECT_EQ(Converted(nullptr), "throws 80004003");
    // Not a vector of VARIANTs: no bytes, count 0.
    *number.Get() = Of(VT_I4, 3);
    raw->vt = VT_ARRAY | VT_UI1;
    raw->parray = SafeArrayCreateVector(VT_UI1, 0, 4);
    SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
    square->vt = VT_ARRAY | VT_VARIANT;
    square->parray = SafeArrayCreate(VT_VARIANT, 2, bounds);
    for (VARIANT* v : {number.Get(), raw.Get(), square.Get()})
        EXPECT_EQ(Converted(v), "/0") << v->vt;
}

TEST(VariantConversion, WritesItsTraceRecords) {
    Bytes bytes = {0x01, 0x02, 0xFF};
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
