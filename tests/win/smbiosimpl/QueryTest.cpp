// The object created in this process with tables attached: the six queries
// (one table of calls and outcomes), the object as COM and script clients
// see it, the VARIANT form of records and the byte-array conversion.
#include <cstdio>
#include <map>

#include "ComTest.h"
#include "TraceRecorder.h"
#include "common/conversion/CCVariantConversion.h"
#include "core/com/ObjectCount.h"
#include "items/com/VariantAttributeSink.h"

namespace {

Bytes Refused(uint16_t handle) { // an alerting structure of a version its decoder does not know
    return Structure(129, handle, {0, 2, 0, 0x5A});
}
Bytes Oem(uint16_t handle) {
    return Structure(176, handle, Bytes(0x0C, 0x11));
}
Bytes Marker(uint8_t length, const Bytes& signature = {'8', '8', '1', '$'}) { // the first type 188
    return Structure(188, 0xBC00, signature, {}, length);
}

// Index order: 0000, 0200, 0401, 0400 (table order within a type), 0D00 (no
// decoder), 1100, 8100, B000 (decoded only with the marker of kOem); the
// end-of-table marker is not indexed.
const Bytes kMixed =
    Table({Bios(0x0000, "Q\x80\xFF"), Processor(0x0401), Structure(2, 0x0200, Bytes(0x0B, 0)),
           Structure(13, 0x0D00, Bytes(0x12, 0)), Processor(0x0400), Refused(0x8100),
           Structure(17, 0x1100, Bytes(0x11, 0)), Oem(0xB000), EndOfTable(0x7F00)});
const Bytes kOem = Table({Marker(8), Oem(0xB001), Oem(0xB000), EndOfTable(0x7F00)});
const Bytes kLength9 = Table({Marker(9), Oem(0xB000)}),
            kOther = Table({Marker(8, {'8', '8', '1', '#'}), Oem(0xB000)});
const Bytes kSecond = Table({Marker(8, {0}), Oem(0xB000), Marker(8)});
const Bytes kEmpty = Table({EndOfTable(0x7F00)});
const Bytes* const kNone = nullptr; // an object that was not initialised

// The records of one call show its outcome: the method's own records begin
// with Enter and end with Leave, which carries the RetVal of a failure (a
// success leaves with RetVal 0); an Error record is written iff it failed.
std::string TraceShape(Q q) {
    const std::string scope = std::string("CSmBiosImpl::") + kMethods[int(q)];
    std::vector<const ::TraceRecord*> own;
    bool error = false;
    for (const ::TraceRecord& r : TraceRecorder::Records()) {
        if (r.scope == scope) own.push_back(&r);
        error = error || r.level == 1;
    }
    if (own.empty() || own.front()->category != "Enter" || own.back()->category != "Leave")
        return "no Enter ... Leave";
    unsigned left = 99;
    const size_t at = own.back()->details.find("RetVal");
    if (at != std::string::npos) std::sscanf(own.back()->details.c_str() + at + 6, "%*[:= ]%u", &left);
    return "Leave with RetVal " + std::to_string(left) + (error ? ", Error" : "");
}

class Query : public ::testing::Test {
protected:
    ComApartment apartment;
};

} // namespace

TEST_F(Query, OutcomesAndWhatTheOutputsHoldAfterward) {
    const struct {
        const Bytes* table;
        Q q;
        ULONG arg;
        const char* outcome;
        Null null = Null::None;
    } rows[] = {
        // Before Initialize: refused, outputs untouched.
        {kNone, Q::All, 4, "E_FAIL 1 untouched"},
        {kNone, Q::First, 0, "E_FAIL 1 untouched"},
        {kNone, Q::Start, 4, "E_FAIL 1 untouched"},
        {kNone, Q::Next, 0, "E_FAIL 1 untouched"},
        {kNone, Q::Index, 0, "E_FAIL 1 untouched"},
        {kNone, Q::Handle, 0, "E_FAIL 1 untouched"},
        // A null output or RetVal pointer.
        {&kMixed, Q::All, 4, "E_POINTER 99 untouched", Null::Names},
        {&kMixed, Q::First, 4, "E_POINTER 99 untouched", Null::Values},
        {&kMixed, Q::Start, 4, "E_POINTER 99 untouched", Null::RetVal},
        {&kMixed, Q::Next, 0, "E_POINTER 99 untouched", Null::RetVal},
        {&kMixed, Q::Index, 0, "E_POINTER 99 untouched", Null::Names},
        {&kMixed, Q::Handle, 0, "E_POINTER 99 untouched", Null::RetVal},
        // No enumeration yet, and other queries start none.
        {&kMixed, Q::Next, 0, "E_FAIL 2 untouched"},
        {&kMixed, Q::All, 4, "S_OK 0 [0401 0400]"},
        {&kMixed, Q::Next, 0, "E_FAIL 2 untouched"},
        {&kMixed, Q::All, 0, "S_OK 0 [0000]"},
        {&kMixed, Q::All, 9, "S_OK 0 empty"},     // a decoder, no structure
        {&kMixed, Q::All, 129, "E_FAIL 3 empty"}, // its decoder refuses the only one
        {&kMixed, Q::All, 13, "E_FAIL 4 empty"},  // no decoder
        {&kMixed, Q::All, 255, "E_FAIL 4 empty"},
        {&kMixed, Q::First, 4, "S_OK 0 0401"},
        {&kMixed, Q::First, 129, "S_OK 0 empty"}, // a refusing decoder is no failure here
        {&kMixed, Q::First, 1, "E_FAIL 3 empty"},
        {&kMixed, Q::First, 13, "E_FAIL 4 untouched"},
        {&kMixed, Q::First, 127, "E_FAIL 4 untouched"},
        {&kMixed, Q::Index, 0, "S_OK 0 0000"},
        {&kMixed, Q::Index, 2, "S_OK 0 0401"},
        {&kMixed, Q::Index, 5, "S_OK 0 1100"},
        {&kMixed, Q::Index, 6, "S_OK 0 empty"}, // refused, yet a success
        {&kMixed, Q::Index, 4, "E_FAIL 4 untouched"},
        {&kMixed, Q::Index, 8, "E_FAIL 3 untouched"}, // one past the end
        {&kMixed, Q::Index, 0xFFFFFFFF, "E_FAIL 3 untouched"},
        {&kMixed, Q::Handle, 0x0400, "S_OK 0 0400"},
        {&kMixed, Q::Handle, 0x0D00, "E_FAIL 4 untouched"},
        {&kMixed, Q::Handle, 0x7F00, "E_FAIL 3 untouched"}, // only the end-of-table marker has it
        {&kMixed, Q::Handle, 0x1234, "E_FAIL 3 untouched"},
        // The enumeration: the type is checked by the first step; lookups
        // leave the shared cursor alone, GetAllInstancesOfType runs it to
        // the end; the end is RetVal 3 with S_OK, again and again.
        {&kMixed, Q::Start, 13, "S_OK 0 untouched"},
        {&kMixed, Q::Next, 0, "E_FAIL 4 untouched"},
        {&kMixed, Q::Start, 4, "S_OK 0 untouched"},
        {&kMixed, Q::Next, 0, "S_OK 0 0401"},
        {&kMixed, Q::First, 4, "S_OK 0 0401"},
        {&kMixed, Q::Index, 3, "S_OK 0 0400"},
        {&kMixed, Q::Handle, 0x0401, "S_OK 0 0401"},
        {&kMixed, Q::Next, 0, "S_OK 0 0400"},
        {&kMixed, Q::Next, 0, "S_OK 3 empty"},
        {&kMixed, Q::Next, 0, "S_OK 3 empty"},
        {&kMixed, Q::Start, 4, "S_OK 0 untouched"},
        {&kMixed, Q::Next, 0, "S_OK 0 0401"},
        {&kMixed, Q::All, 2, "S_OK 0 [0200]"},
        {&kMixed, Q::Next, 0, "S_OK 3 empty"},
        {&kMixed, Q::Start, 1, "S_OK 0 untouched"},
        {&kMixed, Q::Next, 0, "S_OK 3 empty"},
        // The OEM types need the marker in the first type-188 structure of
        // the object's own table.
        {&kOem, Q::All, 176, "S_OK 0 [B001 B000]"},
        {&kMixed, Q::All, 176, "E_FAIL 4 empty"},
        {&kOem, Q::Handle, 0xB000, "S_OK 0 B000"},
        {&kMixed, Q::Handle, 0xB000, "E_FAIL 4 untouched"},
        {&kLength9, Q::All, 176, "E_FAIL 4 empty"},
        {&kOther, Q::First, 176, "E_FAIL 4 untouched"},
        {&kSecond, Q::All, 176, "E_FAIL 4 empty"},
        {&kEmpty, Q::All, 0, "S_OK 0 empty"},
        {&kEmpty, Q::Index, 0, "E_FAIL 3 untouched"},
    };
    std::map<const Bytes*, ComPtr<ISmBiosImpl>> objects;
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(kMethods[int(row.q)]) + "(" + std::to_string(row.arg) + ")");
        ComPtr<ISmBiosImpl>& object = objects[row.table];
        if (!object) object = WithTable(row.table);
        TraceRecorder::Clear();
        const Ask a(object.Get(), row.q, row.arg, row.null);
        EXPECT_EQ(a.Outcome(), row.outcome);
        if (a.hr != E_POINTER)
            EXPECT_EQ(TraceShape(row.q), "Leave with RetVal " + std::to_string(FAILED(a.hr) ? a.retVal : 0) +
                                             (FAILED(a.hr) ? ", Error" : ""));
    }
}

TEST_F(Query, InterfacesShareOneIdentityAndTheLastReleaseEndsTheObject) {
    const LONG before = KorvixModuleLockCount();
    ComPtr<ISmBiosImpl> object = WithTable(&kMixed);
    ComPtr<IUnknown> identity, none;
    ASSERT_EQ(object->QueryInterface(IID_IUnknown, identity.PutVoid()), S_OK);
    for (const IID* iid :
         {&IID_ISmBios, &IID_IComponentInit, &IID_ISmBiosImpl, &IID_IDispatch, &IID_IProvideClassInfo}) {
        ComPtr<IUnknown> p, back;
        ASSERT_EQ(object->QueryInterface(*iid, p.PutVoid()), S_OK);
        ASSERT_EQ(p->QueryInterface(IID_IUnknown, back.PutVoid()), S_OK);
        EXPECT_EQ(back.Get(), identity.Get());
    }
    EXPECT_EQ(object->QueryInterface(IID_IClassFactory, none.PutVoid()), E_NOINTERFACE);
    void* p = &p;
    EXPECT_EQ(CSmBiosImpl::CreateInstance(identity.Get(), IID_IUnknown, &p), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(KorvixModuleLockCount(), before + 1);
    const Ask a(object.Get(), Q::First, 0);
    object.Reset();
    identity.Reset();
    EXPECT_EQ(KorvixModuleLockCount(), before) << "the last Release ended the object";
    // Its records live on; string bytes widen to the code units of the same value.
    EXPECT_EQ(a.Rec().Get(L"Vendor").text, L"Q\u0080\u00FF");
}

TEST_F(Query, ScriptsCallTheQueriesByNameAndTheClassIsDescribed) {
    ComPtr<ISmBiosImpl> object = WithTable(&kMixed);
    LPOLESTR name = const_cast<LPOLESTR>(L"getfirstinstanceoftype");
    DISPID id = 0;
    ASSERT_EQ(object->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), S_OK);
    // The type as VT_I4 (a script's number), the outputs by reference, the RetVal as the result.
    Variant names, values, result;
    VARIANT args[3] = {}; // in reverse order
    args[0].vt = args[1].vt = VT_BYREF | VT_VARIANT;
    args[0].pvarVal = values.Get();
    args[1].pvarVal = names.Get();
    args[2].vt = VT_I4;
    args[2].lVal = 4;
    DISPPARAMS params{args, nullptr, 3, 0};
    ASSERT_EQ(object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result.Get(),
                             nullptr, nullptr),
              S_OK);
    EXPECT_EQ(result->vt == VT_UI4 ? result->ulVal : 99, 0u);
    EXPECT_EQ(Record(*names.Get(), *values.Get()).Get(L"Handle").number, 0x0401u);

    ComPtr<IProvideClassInfo> provider;
    ComPtr<ITypeInfo> info;
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(object.As(IID_IProvideClassInfo, provider), S_OK);
    ASSERT_EQ(provider->GetClassInfo(info.Put()), S_OK);
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_TRUE(attr->typekind == TKIND_COCLASS && IsEqualGUID(attr->guid, CLSID_SmBiosImpl));
    info->ReleaseTypeAttr(attr);
}

TEST(Records, EveryValueFormOfTheSink) {
    VariantAttributeSink sink;
    const uint8_t run[] = {0x03, 0x05, 0x83};
    sink.Append("Run", false, AttributeValue::Raw(run, 3));
    sink.Append("NoRun", false, AttributeValue::Raw(nullptr, 0));
    sink.Append("Flag", false, AttributeValue::Bool(1));
    sink.Append("Word", false, AttributeValue::UI4(0xDEADBEEF));
    sink.Append("Nothing", false, AttributeValue::Text(nullptr));
    Variant names, values;
    ASSERT_EQ(sink.HandOver(names.Get(), values.Get()), S_OK);
    const Record r(*names.Get(), *values.Get());
    EXPECT_TRUE(r.valid);
    EXPECT_EQ(r.names, (std::vector<std::wstring>{L"Run", L"NoRun", L"Flag", L"Word", L"Nothing"}));
    // A flag is its raw byte, not VARIANT_TRUE; an empty run is an empty array.
    EXPECT_EQ(r.values, (std::vector<Value>{{VT_ARRAY | VT_UI1, 0, L"", {3, 5, 0x83}},
                                            {VT_ARRAY | VT_UI1},
                                            {VT_BOOL, 1},
                                            {VT_UI4, 0xDEADBEEF},
                                            {VT_BSTR}}));
}

// ---- the byte-array conversion that carries the table from the accessor ------

namespace {

using ByteConversion = CCVariantConversion<unsigned char>;

// A VARIANT vector with lower bound `lower` of the elements (type, value).
void Hold(Variant& v, LONG lower, std::vector<std::pair<VARTYPE, LONG>> elements) {
    SAFEARRAYBOUND bound{static_cast<ULONG>(elements.size()), lower};
    v->vt = VT_ARRAY | VT_VARIANT;
    v->parray = SafeArrayCreate(VT_VARIANT, 1, &bound);
    for (auto [vt, value] : elements) {
        Variant e;
        e->vt = VT_I4;
        e->lVal = value;
        VariantChangeType(e.Get(), e.Get(), 0, vt);
        SafeArrayPutElement(v->parray, &lower, e.Get());
        ++lower;
    }
}

// "bytes/count" of the VARIANT-side conversion, or what it throws.
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
        return (std::snprintf(text, sizeof text, "throws %08lX", e.Error()), text);
    }
}

} // namespace

TEST(ByteConversion, TheFormsItTakesAndRefuses) {
    Variant fromBytes, empty, lower5, big, number, raw, square, untouched;
    Bytes bytes = {0x01, 0x02, 0xFF};
    ByteConversion(bytes.data(), 3).GetVariant(fromBytes.Get());
    ByteConversion(bytes.data(), 0).GetVariant(empty.Get());
    number->vt = untouched->vt = VT_I4;
    untouched->lVal = 42;
    ByteConversion(nullptr, 5).GetVariant(untouched.Get());
    EXPECT_EQ(untouched->lVal, 42) << "no buffer, no change";
    DWORD count = 0;
    EXPECT_EQ(ByteConversion(bytes.data(), 3).GetBufferPointer(&count), bytes.data())
        << "the caller's own buffer";
    Hold(lower5, 5, {{VT_UI1, 0x15}, {VT_I4, 0x16}, {VT_BSTR, 200}});
    Hold(big, 0, {{VT_UI1, 1}, {VT_I4, 300}});
    raw->vt = VT_ARRAY | VT_UI1;
    raw->parray = SafeArrayCreateVector(VT_UI1, 0, 4);
    SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
    square->vt = VT_ARRAY | VT_VARIANT;
    square->parray = SafeArrayCreate(VT_VARIANT, 2, bounds);
    VARIANT byRef{};
    byRef.vt = VT_BYREF | VT_ARRAY | VT_VARIANT;
    byRef.pparray = &lower5->parray;
    const std::pair<const VARIANT*, const char*> rows[] = {
        {fromBytes.Get(), "01 02 FF /3"},
        {empty.Get(), "/0"},
        {lower5.Get(), "15 16 C8 /3"},
        {&byRef, "15 16 C8 /3"},
        {big.Get(), "throws 8002000A"},
        {nullptr, "throws 80004003"},
        {number.Get(), "/0"},
        {raw.Get(), "/0"},
        {square.Get(), "/0"},
    };
    for (const auto& [input, expected] : rows)
        EXPECT_EQ(Converted(input), expected) << (input ? input->vt : 0);
    for (LONG i = 0; i < VectorLength(*fromBytes.Get()); ++i) {
        Variant e;
        SafeArrayGetElement(fromBytes->parray, &i, e.Get());
        EXPECT_EQ(e->vt, VT_UI1) << "elements of the handed-out vector";
    }
}
