// The object as COM sees it: interface map and identity, reference counting
// and final release, IDispatch through the type library as script clients
// call it, and the class information.
#include <sstream>

#include "ComTestSupport.h"
#include "common/assembly/ComponentInit.h"
#include "core/com/ObjectCount.h"

namespace {

ULONG RefCount(IUnknown* p) {
    p->AddRef();
    return p->Release();
}

Bytes SmallTable() {
    return Table(
        {Bios(0x0000, "Quarnex"), Processor(0x0400, "CPU0"), Processor(0x0401, "CPU1"), EndOfTable(0x7F00)});
}

// Invoke with DISPATCH_METHOD; `args` in reverse order as IDispatch wants them.
HRESULT Call(IDispatch* d, DISPID id, std::vector<VARIANT> args, Variant& result, EXCEPINFO& e) {
    DISPPARAMS params{args.data(), nullptr, static_cast<UINT>(args.size()), 0};
    UINT argError = 0;
    return d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result.Put(), &e,
                     &argError);
}

VARIANT ByRef(VARIANT* target) {
    VARIANT v;
    v.vt = VT_BYREF | VT_VARIANT;
    v.pvarVal = target;
    return v;
}

GUID GuidOf(ITypeInfo* info, TYPEKIND* kind = nullptr, WORD* implemented = nullptr) {
    TYPEATTR* attr = nullptr;
    if (FAILED(info->GetTypeAttr(&attr))) return GUID_NULL;
    const GUID guid = attr->guid;
    if (kind) *kind = attr->typekind;
    if (implemented) *implemented = attr->cImplTypes;
    info->ReleaseTypeAttr(attr);
    return guid;
}

class ComObject : public ::testing::Test {
protected:
    ComApartment apartment;
};

} // namespace

TEST_F(ComObject, EveryInterfaceOfTheMapLeadsToOneIdentity) {
    ComPtr<ISmBiosImpl> object = NewObject();
    ComPtr<IUnknown> identity;
    ASSERT_EQ(object->QueryInterface(IID_IUnknown, identity.PutVoid()), S_OK);
    const IID* const iids[] = {&IID_ISmBios, &IID_IComponentInit, &IID_ISmBiosImpl, &IID_IDispatch,
                               &IID_IProvideClassInfo};
    for (const IID* iid : iids) {
        ComPtr<IUnknown> p, back;
        ASSERT_EQ(object->QueryInterface(*iid, p.PutVoid()), S_OK);
        ASSERT_EQ(p->QueryInterface(IID_IUnknown, back.PutVoid()), S_OK);
        EXPECT_EQ(back.Get(), identity.Get());
        for (const IID* other : iids) {
            ComPtr<IUnknown> q;
            EXPECT_EQ(p->QueryInterface(*other, q.PutVoid()), S_OK);
        }
    }
    ComPtr<IDispatch> dispatch;
    object->QueryInterface(IID_IDispatch, dispatch.PutVoid());
    EXPECT_EQ(static_cast<void*>(dispatch.Get()), static_cast<void*>(object.Get())) << "the dual interface";
    ComPtr<IUnknown> none;
    EXPECT_EQ(object->QueryInterface(IID_IClassFactory, none.PutVoid()), E_NOINTERFACE);
    EXPECT_FALSE(none);
    EXPECT_EQ(object->QueryInterface(IID_ISmBiosImpl, nullptr), E_POINTER);

    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(CSmBiosImpl::CreateInstance(object.Get(), IID_IUnknown, &p), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(p, nullptr);
    const LONG before = KorvixModuleLockCount();
    EXPECT_EQ(CSmBiosImpl::CreateInstance(nullptr, IID_IClassFactory, &p), E_NOINTERFACE);
    EXPECT_EQ(KorvixModuleLockCount(), before) << "the refused object is gone again";
}

TEST_F(ComObject, TheLastReleaseEndsTheObjectAndItsArraysOutliveIt) {
    const LONG before = KorvixModuleLockCount();
    TraceCapture trace;
    {
        ComPtr<ISmBiosImpl> object = WithTable(SmallTable());
        EXPECT_EQ(KorvixModuleLockCount(), before + 1);
        EXPECT_EQ(RefCount(object.Get()), 1u) << "creation hands out exactly one reference";
        ComPtr<IProvideClassInfo> info;
        ASSERT_EQ(object->QueryInterface(IID_IProvideClassInfo, info.PutVoid()), S_OK);
        EXPECT_EQ(RefCount(object.Get()), 2u);
        info.Reset();
        EXPECT_EQ(object->Initialize(), S_OK) << "a table is there: no accessor needed";
        Attach(object.Get(), Table({Bios(0x0000, "Second"), EndOfTable(0x7F00)})); // the first is freed
        Ask a(object.Get(), Q::First, 0);
        EXPECT_EQ(Ask(object.Get(), Q::First, 4).retVal, 3u) << "the first table is gone";
        object.Reset();
        EXPECT_EQ(KorvixModuleLockCount(), before) << "the last Release destroyed the object";
        EXPECT_EQ(a.Rec().Text(L"Vendor"), L"Second");
    }
    EXPECT_EQ(trace.Of("CSmBiosImpl::CSmBiosImpl"),
              (Lines{"Info|Enter|A CSmBiosImpl object is being constructed.|",
                     "Info|Leave|A CSmBiosImpl object was constructed.|"}));
    for (std::string method : {"FinalConstruct", "FinalRelease"})
        EXPECT_EQ(trace.Of("CSmBiosImpl::" + method),
                  (Lines{"Info|Enter|Method " + method + " has been entered.|",
                         "Info|Leave|Method " + method + " has been left.|"}));
}

TEST_F(ComObject, TypeInformationNamesTheEightMethodsWithDispids1To8) {
    ComPtr<ISmBiosImpl> object = NewObject();
    UINT count = 0;
    ASSERT_EQ(object->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    ComPtr<ITypeInfo> info, none;
    ASSERT_EQ(object->GetTypeInfo(0, LOCALE_NEUTRAL, info.Put()), S_OK);
    EXPECT_TRUE(IsEqualGUID(GuidOf(info.Get()), IID_ISmBiosImpl));
    EXPECT_EQ(object->GetTypeInfo(1, LOCALE_NEUTRAL, none.Put()), DISP_E_BADINDEX);

    // Names match without regard to case; an unknown name has no dispid.
    std::wistringstream names(
        L"ComponentInitialize Initialize GetAllInstancesOfType GetFirstInstanceOfType "
        L"StartTypeInstanceEnum GetNextTypeInstance EnumAllInstances findinstancebyhandle Refresh");
    std::wstring name;
    for (DISPID expected = 1; names >> name; ++expected) {
        LPOLESTR text = name.data();
        DISPID id = -99;
        EXPECT_EQ(object->GetIDsOfNames(IID_NULL, &text, 1, LOCALE_USER_DEFAULT, &id),
                  expected <= 8 ? S_OK : DISP_E_UNKNOWNNAME);
        if (expected <= 8) EXPECT_EQ(id, expected) << name;
    }
}

TEST_F(ComObject, ScriptsCallTheQueriesThroughInvoke) {
    ComPtr<ISmBiosImpl> object = WithTable(SmallTable());
    Variant result, names, values;
    EXCEPINFO e{};
    // GetFirstInstanceOfType: bType as VT_I4 (VBScript's numbers), outputs by
    // reference; the RetVal is the result.
    VARIANT type{};
    type.vt = VT_I4;
    type.lVal = 4;
    ASSERT_EQ(Call(object.Get(), 4, {ByRef(values.Get()), ByRef(names.Get()), type}, result, e), S_OK);
    ASSERT_EQ(result->vt, VT_UI4);
    EXPECT_EQ(result->ulVal, 0u);
    EXPECT_EQ(Record(*names.Get(), *values.Get()).Text(L"SocketDesignation"), L"CPU0");
    // A failing method (RetVal 3) reaches the script as an exception.
    type.lVal = 1;
    EXPECT_EQ(Call(object.Get(), 4, {ByRef(values.Get()), ByRef(names.Get()), type}, result, e),
              DISP_E_EXCEPTION);
    EXPECT_EQ(e.scode, E_FAIL);
    SysFreeString(e.bstrSource);
    SysFreeString(e.bstrDescription);
    SysFreeString(e.bstrHelpFile);
    EXPECT_EQ(names->vt, VT_EMPTY) << "the outputs were cleared";

    // An enumeration; a variable comes by reference, a small literal as VT_I2.
    VARIANT number{};
    number.vt = VT_I2;
    number.iVal = 4;
    ASSERT_EQ(Call(object.Get(), 5, {ByRef(&number)}, result, e), S_OK);
    std::vector<ULONG> retVals, handles;
    for (int call = 0; call < 3; ++call) {
        ASSERT_EQ(Call(object.Get(), 6, {ByRef(values.Put()), ByRef(names.Put())}, result, e), S_OK);
        retVals.push_back(result->ulVal);
        if (names->vt != VT_EMPTY) handles.push_back(Record(*names.Get(), *values.Get()).Number(L"Handle"));
    }
    EXPECT_EQ(retVals, (std::vector<ULONG>{0, 0, 3}));
    EXPECT_EQ(handles, (std::vector<ULONG>{0x0400, 0x0401}));
    EXPECT_EQ(Call(object.Get(), 9, {}, result, e), DISP_E_MEMBERNOTFOUND);
}

TEST_F(ComObject, ClassInformationDescribesTheCoclass) {
    ComPtr<ISmBiosImpl> object = NewObject();
    ComPtr<IProvideClassInfo> provider;
    ASSERT_EQ(object->QueryInterface(IID_IProvideClassInfo, provider.PutVoid()), S_OK);
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(provider->GetClassInfo(info.Put()), S_OK);
    TYPEKIND kind{};
    WORD implemented = 0;
    EXPECT_TRUE(IsEqualGUID(GuidOf(info.Get(), &kind, &implemented), CLSID_SmBiosImpl));
    EXPECT_EQ(kind, TKIND_COCLASS);
    ASSERT_EQ(implemented, 2u);
    Bstr doc;
    ASSERT_EQ(info->GetDocumentation(MEMBERID_NIL, nullptr, doc.Put(), nullptr, nullptr), S_OK);
    EXPECT_STREQ(doc.Get(), L"SmBiosImpl Class");
    for (UINT i = 0; i < implemented; ++i) {
        INT flags = 0;
        HREFTYPE ref = 0;
        ComPtr<ITypeInfo> implementedInfo;
        ASSERT_EQ(info->GetImplTypeFlags(i, &flags), S_OK);
        ASSERT_EQ(info->GetRefTypeOfImplType(i, &ref), S_OK);
        ASSERT_EQ(info->GetRefTypeInfo(ref, implementedInfo.Put()), S_OK);
        EXPECT_TRUE(IsEqualGUID(GuidOf(implementedInfo.Get()),
                                (flags & IMPLTYPEFLAG_FDEFAULT) ? IID_ISmBiosImpl : IID_ISmBios))
            << "ISmBiosImpl is the default interface";
    }
}
