// The COM form of decoded records: two zero-based VARIANT vectors, names as
// VT_BSTR, values with their variant types; refused structures give E_FAIL
// and two empty outputs.
#include "ComTestSupport.h"
#include "items/Decoders.h"
#include "items/com/VariantAttributeSink.h"

namespace {

template <class D> Record Decode(const Bytes& bytes, HRESULT expected = S_OK) {
    D decoder;
    if (!bytes.empty()) decoder.Load(bytes.data(), static_cast<uint32_t>(bytes.size()));
    Variant names, values;
    EXPECT_EQ(decoder.GetTypeInstanceData(names.Get(), values.Get()), expected);
    if (expected != S_OK) EXPECT_TRUE(names->vt == VT_EMPTY && values->vt == VT_EMPTY);
    return Record(*names.Get(), *values.Get());
}

std::wstring Joined(const std::vector<std::wstring>& names) {
    std::wstring all;
    for (const auto& n : names)
        all += n + L",";
    return all;
}

const Bytes kAmt =
    Structure(130, 0x8200, Cat({{'$', 'A', 'M', 'T', 1, 1, 0, 0, 1, 0xA5, 0, 0, 0, 0}, U16(0)}));

} // namespace

TEST(VariantRecord, BiosRecordTypesAndStringWidening) {
    // Vendor bytes 0x80 and 0xFF become the code units of the same value.
    const Record r = Decode<CBiosItem>(
        Structure(0, 0x1234, Cat({{1, 2}, U16(0xE800), {0, 0x3F}, {1, 0, 0, 0, 0, 0, 0, 0}}),
                  {std::string("A\x80\xFF"), "2.1"}));
    ASSERT_EQ(r.Error(), "");
    EXPECT_EQ(Joined(r.Names()),
              L"Type,Length,Handle,Vendor,Version,StartingAddrSegment,ROMSize,Characteristics,");
    const VARTYPE types[] = {VT_UI1, VT_UI1, VT_UI2, VT_BSTR, VT_BSTR, VT_UI2, VT_UI1, VT_BSTR};
    for (size_t i = 0; i < 8; ++i)
        EXPECT_EQ(r.Values()[i].vt, types[i]) << i;
    EXPECT_EQ(r.Number(L"Length"), 18u);
    EXPECT_EQ(r.Number(L"Handle"), 0x1234u);
    EXPECT_EQ(r.Text(L"Vendor"), std::wstring(L"A\u0080\u00FF"));
    EXPECT_EQ(r.Text(L"Characteristics"), L"1");
}

TEST(VariantRecord, SinkValueForms) {
    VariantAttributeSink sink;
    const uint8_t bytes[] = {0x03, 0x05, 0x83};
    EXPECT_EQ(sink.Append("ContainedElements0", true, AttributeValue::Raw(bytes, 3)), 0);
    EXPECT_EQ(sink.Append("ContainedElements1", true, AttributeValue::Raw(nullptr, 0)), 0);
    EXPECT_EQ(sink.Append("AmtSupported", false, AttributeValue::Bool(1)), 0);
    EXPECT_EQ(sink.Append("OEMDefined", false, AttributeValue::UI4(0xDEADBEEF)), 0);
    EXPECT_EQ(sink.Append("Empty", false, AttributeValue::Text(nullptr)), 0);
    Variant names, values;
    ASSERT_EQ(sink.HandOver(names.Get(), values.Get()), S_OK);
    const Record r(*names.Get(), *values.Get());
    ASSERT_EQ(r.Error(), "");
    EXPECT_EQ(Joined(r.Names()), L"ContainedElements0,ContainedElements1,AmtSupported,OEMDefined,Empty,");
    EXPECT_EQ(r.Value(L"ContainedElements0").vt, VT_ARRAY | VT_UI1);
    EXPECT_EQ(r.Value(L"ContainedElements0").bytes, Bytes(bytes, bytes + 3));
    EXPECT_EQ(r.Value(L"ContainedElements1").vt, VT_ARRAY | VT_UI1) << "an empty run is an empty array";
    EXPECT_TRUE(r.Value(L"ContainedElements1").bytes.empty());
    EXPECT_EQ(r.Value(L"AmtSupported").vt, VT_BOOL);
    EXPECT_EQ(r.Number(L"AmtSupported"), 1u) << "the raw flag byte, not VARIANT_TRUE";
    EXPECT_EQ(r.Value(L"OEMDefined").vt, VT_UI4);
    EXPECT_EQ(r.Number(L"OEMDefined"), 0xDEADBEEFu);
    EXPECT_EQ(r.Value(L"Empty").vt, VT_BSTR);
}

TEST(VariantRecord, GetStringWidensOrAnswersFalseAndAnEmptyCopyGivesEmptyArrays) {
    const Bytes s = Structure(1, 1, {1, 0, 0, 0}, {"first", std::string("\xE4")});
    CSystemItem system;
    system.Load(s.data(), static_cast<uint32_t>(s.size()));
    Variant out, untouched;
    EXPECT_TRUE(system.GetString(1, out.Put()));
    EXPECT_EQ(out->vt, VT_BSTR);
    EXPECT_STREQ(out->bstrVal, L"\u00E4");
    EXPECT_FALSE(system.GetString(2, untouched.Put()));
    EXPECT_EQ(untouched->vt, VT_EMPTY);
    EXPECT_FALSE(system.GetString(0, nullptr));

    const Record empty = Decode<CSystemItem>({});
    EXPECT_EQ(empty.Error(), "");
    EXPECT_TRUE(empty.Names().empty());
}

TEST(VariantRecord, OemRecordsAndRefusedOemStructures) {
    Bytes wrongSignature = kAmt;
    wrongSignature[4] = '#';
    Decode<CAMTItem>(wrongSignature, E_FAIL);
    Decode<CASFItem>(Structure(128, 0x8000, {1, 2, 2, 0}, {"a", "b"}), E_FAIL);
    Decode<COMFBoardIDItem>(Structure(176, 0xB000, Bytes(13, 0)), E_FAIL);
    Decode<CDDCItem>(Structure(186, 0xBA00, Bytes(12, 0)), E_FAIL);

    const Record amt = Decode<CAMTItem>(kAmt);
    ASSERT_EQ(amt.Names().size(), 15u);
    EXPECT_EQ(amt.Names()[3], L"AmtSignature");
    EXPECT_EQ(amt.Values()[3].vt, VT_UI4);
    EXPECT_EQ(amt.Number(L"AmtSignature"), 0x544D4124u);
    EXPECT_EQ(amt.Names()[4], L"AmtSupported");
    EXPECT_EQ(amt.Values()[4].vt, VT_BOOL);
    EXPECT_EQ(amt.Values()[4].number, 1u) << "1, not VARIANT_TRUE";
    EXPECT_EQ(amt.Values()[6].vt, VT_BOOL);
    EXPECT_EQ(amt.Values()[6].number, 0u);
    EXPECT_EQ(amt.Names()[14], L"Reserved");
    EXPECT_EQ(amt.Values()[14].vt, VT_UI2);

    // A run of devices gives numbered names.
    const Record onBoard = Decode<COnBoardItem>(Structure(10, 0x0A00, {0x83, 0, 0x85, 1}, {"LAN"}));
    EXPECT_EQ(Joined(onBoard.Names()), L"Type,Length,Handle,OnBoardType0,OnBoardType1,Description1,");
    EXPECT_EQ(onBoard.Number(L"OnBoardType0"), 0x83u);
    EXPECT_EQ(onBoard.Text(L"Description1"), L"LAN");
}
