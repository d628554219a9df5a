// The object in this process with tables attached: the six queries (one table
// of calls and outcomes), COM and script clients' view, records.
#include <cstdio>
#include <map>

#include "ComTest.h"
#include "TraceRecorder.h"
#include "core/com/ObjectCount.h"
#include "items/com/VariantAttributeSink.h"

namespace {

Bytes Processor(uint16_t handle) {
    return Structure(4, handle, Bytes(0x1E, 0));
}
Bytes Oem(uint16_t handle) {
    return Structure(176, handle, Bytes(0x0C, 0x11));
}
// Index order: 0000, 0200, 0401, 0400 (table order within a type), 0D00 (no
// decoder), 1100, 8100 (a version its decoder refuses), B000 (decoded only
// with the marker of kOem); the end-of-table marker is not indexed.
const Bytes kMixed =
    Table({Structure(0, 0x0000, Cat({{1}, Bytes(0x13, 0)}), {"Q\x80\xFF"}), Processor(0x0401),
           Structure(2, 0x0200, Bytes(0x0B, 0)), Structure(13, 0x0D00, Bytes(0x12, 0)), Processor(0x0400),
           Structure(129, 0x8100, {0, 2, 0, 0x5A}), Structure(17, 0x1100, Bytes(0x11, 0)), Oem(0xB000),
           Structure(127, 0x7F00, {})});
const Bytes kOem = Table({Structure(188, 0xBC00, {'8', '8', '1', '$'}), Oem(0xB001), Oem(0xB000)});
const Bytes* const kNone = nullptr; // an object that was not initialised

// The records of one call show its outcome: the method's own records begin
// with Enter and end with Leave, which carries the RetVal of a failure (a
// success leaves with RetVal 0); an Error record is written iff it failed.
std::string TraceShape(Q q) {
    std::string first, last, details, error;
    for (const ::TraceRecord& r : TraceRecorder::Records())
        if (r.scope == std::string("CSmBiosImpl::") + kMethods[int(q)]) {
            (first.empty() ? first : last) = r.category;
            details = r.details;
            error = r.level == 1 ? ", Error" : error;
        }
    const size_t at = details.find_first_of("01234", details.find("RetVal"));
    return first + " ... " + last + " with RetVal " +
           (at == std::string::npos ? "?" : details.substr(at, 1)) + error;
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
        {kNone, Q::All, 4, "E_FAIL 1 untouched"}, // before Initialize
        {kNone, Q::First, 0, "E_FAIL 1 untouched"},
        {kNone, Q::Start, 4, "E_FAIL 1 untouched"},
        {kNone, Q::Next, 0, "E_FAIL 1 untouched"},
        {kNone, Q::Index, 0, "E_FAIL 1 untouched"},
        {kNone, Q::Handle, 0, "E_FAIL 1 untouched"},
        {&kMixed, Q::All, 4, "E_POINTER 99 untouched", Null::Names},
        {&kMixed, Q::First, 4, "E_POINTER 99 untouched", Null::Values},
        {&kMixed, Q::Start, 4, "E_POINTER 99 untouched", Null::RetVal},
        {&kMixed, Q::Next, 0, "E_POINTER 99 untouched", Null::RetVal},
        {&kMixed, Q::Index, 0, "E_POINTER 99 untouched", Null::Names},
        {&kMixed, Q::Handle, 0, "E_POINTER 99 untouched", Null::RetVal},
        {&kMixed, Q::Next, 0, "E_FAIL 2 untouched"}, // no enumeration yet, and other queries start none
        {&kMixed, Q::All, 4, "S_OK 0 [0401 0400]"},
        {&kMixed, Q::Next, 0, "E_FAIL 2 untouched"},
        {&kMixed, Q::All, 0, "S_OK 0 [0000]"},
        {&kMixed, Q::All, 9, "S_OK 0 empty"},     // a decoder, no structure
        {&kMixed, Q::All, 129, "E_FAIL 3 empty"}, // its decoder refuses the only one
        {&kMixed, Q::All, 13, "E_FAIL 4 empty"},  // no decoder
        {&kMixed, Q::First, 129, "S_OK 0 empty"}, // a refusing decoder is no failure here
        {&kMixed, Q::First, 1, "E_FAIL 3 empty"},
        {&kMixed, Q::First, 127, "E_FAIL 4 untouched"},
        {&kMixed, Q::Index, 0, "S_OK 0 0000"},
        {&kMixed, Q::Index, 5, "S_OK 0 1100"},
        {&kMixed, Q::Index, 6, "S_OK 0 empty"},
        {&kMixed, Q::Index, 4, "E_FAIL 4 untouched"},
        {&kMixed, Q::Index, 8, "E_FAIL 3 untouched"}, // one past the end
        {&kMixed, Q::Handle, 0x0D00, "E_FAIL 4 untouched"},
        {&kMixed, Q::Handle, 0x7F00, "E_FAIL 3 untouched"}, // only the end-of-table marker has it
        // The type is checked by the first step; lookups leave the shared
        // cursor alone, GetAllInstancesOfType runs it to the end; the end is
        // RetVal 3 with S_OK, again and again.
        {&kMixed, Q::Start, 13, "S_OK 0 untouched"},
        {&kMixed, Q::Next, 0, "E_FAIL 4 untouched"},
        {&kMixed, Q::Start, 4, "S_OK 0 untouched"},
        {&kMixed, Q::Next, 0, "S_OK 0 0401"},
        {&kMixed, Q::First, 4, "S_OK 0 0401"},
        {&kMixed, Q::Index, 3, "S_OK 0 0400"},
        {&kMixed, Q::Handle, 0x0401, "S_OK 0 0401"},
        {&kMixed, Q::Next, 0, "S_OK 0 0400"},
        {&kMixed, Q::Next, 0, "S_OK 3 empty"},
        {&kMixed, Q::Start, 4, "S_OK 0 untouched"},
        {&kMixed, Q::Next, 0, "S_OK 0 0401"},
        {&kMixed, Q::All, 2, "S_OK 0 [0200]"},
        {&kMixed, Q::Next, 0, "S_OK 3 empty"},
        // The OEM types need the marker in the object's own table.
        {&kOem, Q::All, 176, "S_OK 0 [B001 B000]"},
        {&kMixed, Q::All, 176, "E_FAIL 4 empty"},
        {&kOem, Q::Handle, 0xB000, "S_OK 0 B000"},
        {&kMixed, Q::Handle, 0xB000, "E_FAIL 4 untouched"},
    };
    std::map<const Bytes*, ComPtr<ISmBiosImpl>> objects;
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(kMethods[int(row.q)]) + "(" + std::to_string(row.arg) + ")");
        ComPtr<ISmBiosImpl>& object = objects[row.table];
        if (!object) object = WithTable(row.table);
        TraceRecorder::Clear();
        const Ask a(object.Get(), row.q, row.arg, row.null);
        EXPECT_EQ(a.Outcome(), row.outcome);
        const std::string left = FAILED(a.hr) ? std::to_string(a.retVal) + ", Error" : "0";
        if (a.hr != E_POINTER) EXPECT_EQ(TraceShape(row.q), "Enter ... Leave with RetVal " + left);
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

TEST_F(Query, ScriptsCallTheQueriesByName) {
    ComPtr<ISmBiosImpl> object = WithTable(&kMixed);
    LPOLESTR name = const_cast<LPOLESTR>(L"getfirstinstanceoftype");
    DISPID id = 0;
    ASSERT_EQ(object->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), S_OK);
    // The type as VT_I4 (a script's number), the outputs by reference, the RetVal as the result.
    Variant names, values, result;
    VARIANT args[3] = {}; // in reverse order
    args[0].vt = args[1].vt = VT_BYREF | VT_VARIANT;
    args[2].vt = VT_I4;
    args[0].pvarVal = values.Get();
    args[1].pvarVal = names.Get();
    args[2].lVal = 4;
    DISPPARAMS params{args, nullptr, 3, 0};
    ASSERT_EQ(object->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, result.Get(), nullptr, nullptr),
              S_OK);
    EXPECT_EQ(result->vt == VT_UI4 ? result->ulVal : 99, 0u);
    EXPECT_EQ(Record(*names.Get(), *values.Get()).Get(L"Handle").number, 0x0401u);
}

// A flag is its raw byte, not VARIANT_TRUE; an empty run of bytes is an empty array.
TEST(Records, TheSinkKeepsRunsOfBytesFlagsAndWords) {
    VariantAttributeSink sink;
    const uint8_t run[] = {0x03, 0x05, 0x83};
    sink.Append("Run", false, AttributeValue::Raw(run, 3)),
        sink.Append("None", false, AttributeValue::Raw(run, 0));
    sink.Append("Flag", false, AttributeValue::Bool(1)),
        sink.Append("Word", false, AttributeValue::UI4(0xDEADBEEF));
    Variant names, values;
    ASSERT_EQ(sink.HandOver(names.Get(), values.Get()), S_OK);
    const std::vector<Value> expected = {
        {VT_ARRAY | VT_UI1, 0, L"", {3, 5, 0x83}}, {VT_ARRAY | VT_UI1}, {VT_BOOL, 1}, {VT_UI4, 0xDEADBEEF}};
    EXPECT_TRUE(Record(*names.Get(), *values.Get()).values == expected);
}
