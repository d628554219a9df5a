// The object as COM sees it: its interface map and identity, reference
// counting and final release, IDispatch through the type library as script
// clients call it, and the class information.
#include "QueryFixture.h"

#include "common/assembly/ComponentInit.h"
#include "core/com/CSmBiosImpl.h"
#include "core/com/ObjectCount.h"

namespace {

class ComObject : public ::testing::Test {
protected:
    ComApartment apartment;
};

// The IUnknown of an object, for identity comparisons.
IUnknown* Identity(IUnknown* any) {
    ComPtr<IUnknown> unknown;
    EXPECT_EQ(any->QueryInterface(IID_IUnknown, unknown.PutVoid()), S_OK);
    return unknown.Get(); // the object keeps living through `any`
}

ULONG RefCount(IUnknown* p) {
    p->AddRef();
    return p->Release();
}

Bytes SmallTable() {
    return Table({Bios(0x0000, "Quarnex"), Processor(0x0400, 1, {"CPU0"}), Processor(0x0401, 1, {"CPU1"}),
                  EndOfTable(0x7F00)});
}

} // namespace

TEST_F(ComObject, AnswersEveryInterfaceOfItsMapWithOneIdentity) {
    ComPtr<ISmBiosImpl> object = NewObject();
    ASSERT_TRUE(object);
    IUnknown* identity = Identity(object.Get());

    const IID* const iids[] = {&IID_ISmBios,   &IID_IComponentInit,    &IID_ISmBiosImpl,
                               &IID_IDispatch, &IID_IProvideClassInfo, &IID_IUnknown};
    for (const IID* iid : iids) {
        ComPtr<IUnknown> p;
        ASSERT_EQ(object->QueryInterface(*iid, p.PutVoid()), S_OK);
        ASSERT_TRUE(p);
        EXPECT_EQ(Identity(p.Get()), identity) << "every interface leads back to one IUnknown";
        // Every interface answers for all the others too.
        for (const IID* other : iids) {
            ComPtr<IUnknown> q;
            EXPECT_EQ(p->QueryInterface(*other, q.PutVoid()), S_OK);
        }
    }
    // IDispatch is the dual interface itself.
    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(object->QueryInterface(IID_IDispatch, dispatch.PutVoid()), S_OK);
    EXPECT_EQ(static_cast<void*>(dispatch.Get()), static_cast<void*>(object.Get()));
    // The first entry of the map answers IUnknown.
    ComPtr<ISmBios> smbios;
    ASSERT_EQ(object->QueryInterface(IID_ISmBios, smbios.PutVoid()), S_OK);
    EXPECT_EQ(static_cast<void*>(smbios.Get()), static_cast<void*>(identity));

    ComPtr<IUnknown> none;
    EXPECT_EQ(object->QueryInterface(IID_IClassFactory, none.PutVoid()), E_NOINTERFACE);
    EXPECT_FALSE(none);
    EXPECT_EQ(object->QueryInterface(IID_ISmBiosImpl, nullptr), E_POINTER);
}

TEST_F(ComObject, CreationRefusesAggregationAndUnknownInterfaces) {
    ComPtr<ISmBiosImpl> outer = NewObject();
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(CSmBiosImpl::CreateInstance(outer.Get(), IID_IUnknown, &p), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(p, nullptr);
    const LONG before = KorvixModuleLockCount();
    p = reinterpret_cast<void*>(1);
    EXPECT_EQ(CSmBiosImpl::CreateInstance(nullptr, IID_IClassFactory, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(KorvixModuleLockCount(), before) << "the refused object is gone again";
}

TEST_F(ComObject, ReferencesAreCountedAcrossInterfacesAndTheLastReleaseEndsTheObject) {
    const LONG before = KorvixModuleLockCount();
    TraceFile trace;
    {
        ComPtr<ISmBiosImpl> object = NewObjectWithTable(SmallTable());
        EXPECT_EQ(KorvixModuleLockCount(), before + 1);
        EXPECT_EQ(RefCount(object.Get()), 1u) << "creation hands out exactly one reference";
        ComPtr<IProvideClassInfo> info;
        ASSERT_EQ(object->QueryInterface(IID_IProvideClassInfo, info.PutVoid()), S_OK);
        EXPECT_EQ(RefCount(object.Get()), 2u);
        info.Reset();
        EXPECT_EQ(RefCount(object.Get()), 1u);

        // Arrays handed out belong to the caller and outlive the object.
        Outputs out;
        ULONG retVal = 99;
        ASSERT_EQ(object->GetFirstInstanceOfType(0, out.Names(), out.Values(), &retVal), S_OK);
        object.Reset();
        EXPECT_EQ(KorvixModuleLockCount(), before) << "the last Release destroyed the object";
        EXPECT_EQ(Record(out.NamesRef(), out.ValuesRef()).Value(L"Vendor").text, L"Quarnex");
    }
    EXPECT_EQ(Lines(trace.OfScope("CSmBiosImpl::FinalRelease")),
              (std::vector<std::string>{"Info|Enter|Method FinalRelease has been entered.|",
                                        "Info|Leave|Method FinalRelease has been left.|"}));
    EXPECT_EQ(Lines(trace.OfScope("CSmBiosImpl::CSmBiosImpl")),
              (std::vector<std::string>{"Info|Enter|A CSmBiosImpl object is being constructed.|",
                                        "Info|Leave|A CSmBiosImpl object was constructed.|"}));
    EXPECT_EQ(Lines(trace.OfScope("CSmBiosImpl::FinalConstruct")),
              (std::vector<std::string>{"Info|Enter|Method FinalConstruct has been entered.|",
                                        "Info|Leave|Method FinalConstruct has been left.|"}));
}

TEST_F(ComObject, ATableAttachedTwiceOrNeverIsReleasedCleanly) {
    const LONG before = KorvixModuleLockCount();
    {
        ComPtr<ISmBiosImpl> never = NewObject();
        ComPtr<ISmBiosImpl> twice = NewObjectWithTable(SmallTable());
        AttachTable(twice.Get(), Table({Bios(0x0000, "Second"), EndOfTable(0x7F00)}));
        Outputs out;
        ULONG retVal = 99;
        ASSERT_EQ(twice->GetFirstInstanceOfType(0, out.Names(), out.Values(), &retVal), S_OK);
        EXPECT_EQ(Record(out.NamesRef(), out.ValuesRef()).Value(L"Vendor").text, L"Second");
        EXPECT_EQ(twice->GetFirstInstanceOfType(4, out.Names(), out.Values(), &retVal), E_FAIL);
        EXPECT_EQ(retVal, 3u) << "the first table is gone";
    }
    EXPECT_EQ(KorvixModuleLockCount(), before);
}

TEST_F(ComObject, InitializeAfterTheTableIsThereReturnsAtOnce) {
    ComPtr<ISmBiosImpl> object = NewObjectWithTable(SmallTable());
    EXPECT_EQ(object->Initialize(), S_OK) << "no component model and no accessor are needed any more";
}

TEST_F(ComObject, TypeInformationNamesTheEightMethodsWithDispids1To8) {
    ComPtr<ISmBiosImpl> object = NewObject();
    UINT count = 0;
    ASSERT_EQ(object->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(object->GetTypeInfo(0, LOCALE_NEUTRAL, info.Put()), S_OK);
    ASSERT_TRUE(info);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_TRUE(IsEqualGUID(attr->guid, IID_ISmBiosImpl));
    info->ReleaseTypeAttr(attr);
    ComPtr<ITypeInfo> none;
    EXPECT_EQ(object->GetTypeInfo(1, LOCALE_NEUTRAL, none.Put()), DISP_E_BADINDEX);

    const wchar_t* const names[] = {
        L"ComponentInitialize",   L"Initialize",          L"GetAllInstancesOfType", L"GetFirstInstanceOfType",
        L"StartTypeInstanceEnum", L"GetNextTypeInstance", L"EnumAllInstances",      L"FindInstanceByHandle"};
    for (DISPID expected = 1; expected <= 8; ++expected) {
        LPOLESTR name = const_cast<LPOLESTR>(names[expected - 1]);
        DISPID id = -99;
        ASSERT_EQ(object->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), S_OK) << expected;
        EXPECT_EQ(id, expected);
    }
    // Names are matched without regard to case, as script engines expect.
    LPOLESTR lower = const_cast<LPOLESTR>(L"findinstancebyhandle");
    DISPID id = -99;
    EXPECT_EQ(object->GetIDsOfNames(IID_NULL, &lower, 1, LOCALE_USER_DEFAULT, &id), S_OK);
    EXPECT_EQ(id, 8);
    LPOLESTR unknown = const_cast<LPOLESTR>(L"Refresh");
    EXPECT_EQ(object->GetIDsOfNames(IID_NULL, &unknown, 1, LOCALE_USER_DEFAULT, &id), DISP_E_UNKNOWNNAME);
}

TEST_F(ComObject, InvokeAsAScriptCallsGetFirstInstanceOfType) {
    ComPtr<ISmBiosImpl> object = NewObjectWithTable(SmallTable());
    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(object->QueryInterface(IID_IDispatch, dispatch.PutVoid()), S_OK);

    // Arguments in reverse order: bType (VT_I4, as VBScript passes numbers),
    // then the two outputs by reference.
    Variant names, values, type;
    type->vt = VT_I4;
    type->lVal = 4;
    VARIANT args[3];
    args[2] = *type.Get();
    args[1].vt = VT_BYREF | VT_VARIANT;
    args[1].pvarVal = names.Get();
    args[0].vt = VT_BYREF | VT_VARIANT;
    args[0].pvarVal = values.Get();
    DISPPARAMS params{args, nullptr, 3, 0};
    Variant result;
    EXCEPINFO exception{};
    UINT argError = 99;
    ASSERT_EQ(dispatch->Invoke(4, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result.Get(),
                               &exception, &argError),
              S_OK);
    ASSERT_EQ(result->vt, VT_UI4) << "the RetVal comes back as the result";
    EXPECT_EQ(result->ulVal, 0u);
    Record r(*names.Get(), *values.Get());
    ASSERT_EQ(r.Error(), "");
    EXPECT_EQ(r.Number(L"Handle"), 0x0400u);
    EXPECT_EQ(r.Value(L"SocketDesignation").text, L"CPU0");

    // A type without structures: the method fails (RetVal 3), which a
    // script sees as an exception carrying E_FAIL.
    type->lVal = 1;
    args[2] = *type.Get();
    EXPECT_EQ(dispatch->Invoke(4, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result.Put(),
                               &exception, &argError),
              DISP_E_EXCEPTION);
    EXPECT_EQ(exception.scode, E_FAIL);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    EXPECT_EQ(names->vt, VT_EMPTY) << "the outputs were cleared";
}

TEST_F(ComObject, InvokeRunsAnEnumerationThroughDispatch) {
    ComPtr<ISmBiosImpl> object = NewObjectWithTable(SmallTable());
    Variant result;
    EXCEPINFO exception{};
    UINT argError = 0;

    // VBScript hands a variable over by reference, and small literals as VT_I2.
    VARIANT number;
    number.vt = VT_I2;
    number.iVal = 4;
    VARIANT type;
    type.vt = VT_BYREF | VT_VARIANT;
    type.pvarVal = &number;
    DISPPARAMS start{&type, nullptr, 1, 0};
    ASSERT_EQ(object->Invoke(5, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &start, result.Get(),
                             &exception, &argError),
              S_OK);
    EXPECT_EQ(result->ulVal, 0u);

    std::vector<ULONG> retVals, handles;
    for (int call = 0; call < 3; ++call) {
        Variant names, values;
        VARIANT args[2];
        args[1].vt = VT_BYREF | VT_VARIANT;
        args[1].pvarVal = names.Get();
        args[0].vt = VT_BYREF | VT_VARIANT;
        args[0].pvarVal = values.Get();
        DISPPARAMS next{args, nullptr, 2, 0};
        ASSERT_EQ(object->Invoke(6, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &next, result.Put(),
                                 &exception, &argError),
                  S_OK);
        retVals.push_back(result->ulVal);
        if (names->vt != VT_EMPTY) handles.push_back(Record(*names.Get(), *values.Get()).Number(L"Handle"));
    }
    EXPECT_EQ(retVals, (std::vector<ULONG>{0, 0, 3}));
    EXPECT_EQ(handles, (std::vector<ULONG>{0x0400, 0x0401}));

    DISPPARAMS noArgs{nullptr, nullptr, 0, 0};
    EXPECT_EQ(object->Invoke(9, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &noArgs, result.Put(),
                             &exception, &argError),
              DISP_E_MEMBERNOTFOUND);
}

TEST_F(ComObject, ClassInformationDescribesTheCoclass) {
    ComPtr<ISmBiosImpl> object = NewObject();
    ComPtr<IProvideClassInfo> provider;
    ASSERT_EQ(object->QueryInterface(IID_IProvideClassInfo, provider.PutVoid()), S_OK);
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(provider->GetClassInfo(info.Put()), S_OK);
    ASSERT_TRUE(info);

    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_TRUE(IsEqualGUID(attr->guid, CLSID_SmBiosImpl));
    EXPECT_EQ(attr->typekind, TKIND_COCLASS);
    const WORD implemented = attr->cImplTypes;
    info->ReleaseTypeAttr(attr);
    EXPECT_EQ(implemented, 2u);

    Bstr doc;
    ASSERT_EQ(info->GetDocumentation(MEMBERID_NIL, nullptr, doc.Put(), nullptr, nullptr), S_OK);
    EXPECT_STREQ(doc.Get(), L"SmBiosImpl Class");

    // ISmBiosImpl is the default interface.
    bool foundDefault = false;
    for (UINT i = 0; i < implemented; ++i) {
        INT flags = 0;
        HREFTYPE ref = 0;
        ComPtr<ITypeInfo> implementedInfo;
        ASSERT_EQ(info->GetImplTypeFlags(i, &flags), S_OK);
        ASSERT_EQ(info->GetRefTypeOfImplType(i, &ref), S_OK);
        ASSERT_EQ(info->GetRefTypeInfo(ref, implementedInfo.Put()), S_OK);
        TYPEATTR* a = nullptr;
        ASSERT_EQ(implementedInfo->GetTypeAttr(&a), S_OK);
        if (flags & IMPLTYPEFLAG_FDEFAULT) {
            foundDefault = true;
            EXPECT_TRUE(IsEqualGUID(a->guid, IID_ISmBiosImpl));
        } else {
            EXPECT_TRUE(IsEqualGUID(a->guid, IID_ISmBios));
        }
        implementedInfo->ReleaseTypeAttr(a);
    }
    EXPECT_TRUE(foundDefault);
}
