// The COM face of the signature-tested decoders: a refused structure gives
// E_FAIL and two empty outputs; an accepted one gives the arrays, with AMT's
// flags as VT_BOOL holding the raw byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TableBuilder.h"
#include "common/platform/ComWrappers.h"
#include "items/Decoders.h"

namespace {

// Element i of a VT_ARRAY | VT_VARIANT, copied out.
std::vector<Variant> Elements(const VARIANT& array) {
    std::vector<Variant> out;
    if (array.vt != (VT_ARRAY | VT_VARIANT)) {
        ADD_FAILURE() << "vt " << array.vt;
        return out;
    }
    LONG lower = -1, upper = -2;
    SafeArrayGetLBound(array.parray, 1, &lower);
    SafeArrayGetUBound(array.parray, 1, &upper);
    EXPECT_EQ(lower, 0);
    out = std::vector<Variant>(static_cast<size_t>(upper - lower + 1));
    for (LONG i = lower; i <= upper; ++i)
        EXPECT_EQ(SafeArrayGetElement(array.parray, &i, out[i].Get()), S_OK);
    return out;
}

std::wstring Text(const Variant& v) {
    const VARIANT* p = v.Get();
    return p->vt == VT_BSTR && p->bstrVal ? std::wstring(p->bstrVal, SysStringLen(p->bstrVal)) : L"<none>";
}

template <class D> HRESULT Record(const Bytes& bytes, Variant& names, Variant& values) {
    D decoder;
    decoder.Load(bytes.data(), static_cast<uint32_t>(bytes.size()));
    return decoder.GetTypeInstanceData(names.Get(), values.Get());
}

const Bytes kAmt =
    Structure(130, 0x8200, Cat({{'$', 'A', 'M', 'T', 1, 1, 0, 0, 1, 0xA5, 0, 0, 0, 0}, U16(0)}));

} // namespace

TEST(OemRecordCom, RefusedStructuresLeaveBothOutputsEmpty) {
    Bytes wrongSignature = kAmt;
    wrongSignature[4] = '#';
    const Bytes asfVersion2 = Structure(128, 0x8000, {1, 2, 2, 0}, {"a", "b"});
    const Bytes boardId = Structure(176, 0xB000, Bytes(13, 0));
    const Bytes ddc = Structure(186, 0xBA00, Bytes(12, 0));
    struct Case {
        const char* what;
        HRESULT (*record)(const Bytes&, Variant&, Variant&);
        const Bytes& bytes;
    } cases[] = {{"AMT", Record<CAMTItem>, wrongSignature},
                 {"ASF", Record<CASFItem>, asfVersion2},
                 {"board ID", Record<COMFBoardIDItem>, boardId},
                 {"DDC", Record<CDDCItem>, ddc}};
    for (const auto& c : cases) {
        Variant names, values;
        EXPECT_EQ(c.record(c.bytes, names, values), E_FAIL) << c.what;
        EXPECT_EQ(names.Get()->vt, VT_EMPTY) << c.what;
        EXPECT_EQ(values.Get()->vt, VT_EMPTY) << c.what;
    }
}

TEST(OemRecordCom, AmtFlagsAreRawBytes) {
    Variant names, values;
    ASSERT_EQ(Record<CAMTItem>(kAmt, names, values), S_OK);
    auto n = Elements(*names.Get());
    auto v = Elements(*values.Get());
    ASSERT_EQ(n.size(), 15u);
    ASSERT_EQ(v.size(), 15u);
    EXPECT_EQ(Text(n[3]), L"AmtSignature");
    EXPECT_EQ(v[3].Get()->vt, VT_UI4);
    EXPECT_EQ(v[3].Get()->ulVal, 0x544D4124u);
    EXPECT_EQ(Text(n[4]), L"AmtSupported");
    EXPECT_EQ(v[4].Get()->vt, VT_BOOL);
    EXPECT_EQ(v[4].Get()->boolVal, 1) << "1, not VARIANT_TRUE";
    EXPECT_EQ(v[6].Get()->vt, VT_BOOL);
    EXPECT_EQ(v[6].Get()->boolVal, 0);
    EXPECT_EQ(Text(n[14]), L"Reserved");
    EXPECT_EQ(v[14].Get()->vt, VT_UI2);
}

TEST(OemRecordCom, NumberedNamesOfTheDeviceRun) {
    Variant names, values;
    ASSERT_EQ(Record<COnBoardItem>(Structure(10, 0x0A00, {0x83, 0, 0x85, 1}, {"LAN"}), names, values), S_OK);
    auto n = Elements(*names.Get());
    auto v = Elements(*values.Get());
    ASSERT_EQ(n.size(), 6u);
    ASSERT_EQ(v.size(), 6u);
    EXPECT_EQ(Text(n[3]), L"OnBoardType0");
    EXPECT_EQ(Text(n[4]), L"OnBoardType1");
    EXPECT_EQ(Text(n[5]), L"Description1");
    EXPECT_EQ(Text(v[5]), L"LAN");
    EXPECT_EQ(v[3].Get()->bVal, 0x83);
}
