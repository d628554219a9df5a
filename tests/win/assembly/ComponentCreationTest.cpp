// Creating sibling components through the dependency table and initialising
// them through IComponentInit; CCComponentT's own Initialize.
#include <windows.h>

#include <atomic>
#include <string>

#include "AssemblyProbe.h"
#include "AssemblyTestSupport.h"
#include "common/assembly/CCAssembly.h"
#include "common/assembly/CCComponentT.h"

namespace {

const char kViProgId[] = "Korvix.AsmTestComponent";

class ComponentCreation : public AssemblyTestBase {
protected:
    // Feature Kappa 1.0: this executable in context "host" depends on the
    // registered test component under kViProgId.
    void WriteTable() {
        m_tables.Write("Kappa_1.0.xml",
                       FeatureXml("Kappa", "1.0",
                                  SelfEntryXml("host", "1.5.0.0",
                                               ComDependencyXml("assembly_testcomp.dll", "2.0.1.7",
                                                                m_registration.ProgId(), kViProgId))));
    }

    TestComponentRegistration m_registration;
    CCAssembly m_assembly;
};

TEST_F(ComponentCreation, NothingWorksBeforeInitialisation) {
    CLSID clsid{};
    EXPECT_EQ(m_assembly.CLSIDFromProgID(kViProgId, &clsid), E_FAIL);
    IUnknown* object = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(m_assembly.CoCreateInstance(kViProgId, reinterpret_cast<void**>(&object), nullptr, CLSCTX_ALL,
                                          IID_IUnknown),
              E_FAIL);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(
        Traced("Error", "CoCreateInstance", "Component model not intialized. No work can be done!").size(),
        1u);
}

TEST_F(ComponentCreation, ClassIdLookupIgnoresCaseAndMissesWithClassNotAvailable) {
    WriteTable();
    ASSERT_TRUE(m_assembly.Initialize("Kappa", "1.0", "host"));
    CLSID clsid{};
    ASSERT_EQ(m_assembly.CLSIDFromProgID("KORVIX.asmtestcomponent", &clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, m_registration.Clsid()));
    // The versioned ProgID itself is not a key of the table.
    EXPECT_EQ(m_assembly.CLSIDFromProgID(m_registration.ProgId().c_str(), &clsid), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(m_assembly.CLSIDFromProgID("Korvix.AsmTestComponen", &clsid), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(m_assembly.CLSIDFromProgID(nullptr, &clsid), CLASS_E_CLASSNOTAVAILABLE);
}

TEST_F(ComponentCreation, CreatedComponentIsInitialisedForTheCreatorsFeature) {
    WriteTable();
    ASSERT_TRUE(m_assembly.Initialize("Kappa", "1.0", "host"));
    ComPtr<IAssemblyProbe> probe;
    ASSERT_EQ(m_assembly.CoCreateInstance("korvix.ASMTESTCOMPONENT", probe.PutVoid(), nullptr,
                                          CLSCTX_INPROC_SERVER, kIID_IAssemblyProbe),
              S_OK);
    ASSERT_TRUE(probe);
    Bstr feature, version, context, file, fileVersion;
    VARIANT_BOOL initialized = VARIANT_FALSE;
    ASSERT_EQ(probe->GetFeature(feature.Put(), version.Put(), context.Put(), &initialized), S_OK);
    EXPECT_EQ(initialized, VARIANT_TRUE);
    EXPECT_EQ(Narrow(feature.Get()), "Kappa");
    EXPECT_EQ(Narrow(version.Get()), "1.0");
    EXPECT_EQ(Narrow(context.Get()), "host");
    // The component's own assembly identifies the DLL: no Translation entry,
    // so its FileVersion comes from the 040904b0 block.
    ASSERT_EQ(probe->GetIdentity(file.Put(), fileVersion.Put()), S_OK);
    EXPECT_EQ(Narrow(file.Get()), "assembly_testcomp.dll");
    EXPECT_EQ(Narrow(fileVersion.Get()), "2.0.1.7");
}

TEST_F(ComponentCreation, ComponentAnsweringFalseGivesUnexpectedButTheInterface) {
    WriteTable();
    ASSERT_TRUE(m_assembly.Initialize("Kappa", "1.0", "host"));
    // The creator has read its table; the component finds none and answers
    // VARIANT_FALSE with S_OK.
    m_tables.Delete("Kappa_1.0.xml");
    IAssemblyProbe* raw = nullptr;
    EXPECT_EQ(m_assembly.CoCreateInstance(kViProgId, reinterpret_cast<void**>(&raw), nullptr,
                                          CLSCTX_INPROC_SERVER, kIID_IAssemblyProbe),
              E_UNEXPECTED);
    ASSERT_NE(raw, nullptr);
    ComPtr<IAssemblyProbe> probe(raw, false);
    Bstr feature, version, context;
    VARIANT_BOOL initialized = VARIANT_TRUE;
    ASSERT_EQ(probe->GetFeature(feature.Put(), version.Put(), context.Put(), &initialized), S_OK);
    EXPECT_EQ(initialized, VARIANT_FALSE);
    EXPECT_EQ(Narrow(feature.Get()), "Kappa");

    const auto failed = Traced("Error", "CoCreateInstance", "Calling IComponentInit->Initialize failed!");
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0].details.substr(0, 17), "hr: 0x00000000, '");
    // The component DLL joined this executable's trace and wrote its own warning.
    const auto warning =
        Traced("Warning", "Initialize", "Calling Assembly.Initialize failed for some reason.");
    ASSERT_EQ(warning.size(), 1u);
    EXPECT_EQ(warning[0].module, "assembly_testcomp.dll");
    EXPECT_EQ(warning[0].className, "CCComponentT<class CCAssembly>");
    const auto leave = Traced("InfoCC", "CoCreateInstance", "Method CoCreateInstance has been called");
    ASSERT_EQ(leave.size(), 2u);
    EXPECT_EQ(leave[1].details.substr(0, 17), "hr: 0x8000FFFF, '");
}

TEST_F(ComponentCreation, RequestedInterfaceMissingLeavesTheOutPointerNull) {
    WriteTable();
    ASSERT_TRUE(m_assembly.Initialize("Kappa", "1.0", "host"));
    IDispatch* dispatch = reinterpret_cast<IDispatch*>(1);
    EXPECT_EQ(m_assembly.CoCreateInstance(kViProgId, reinterpret_cast<void**>(&dispatch), nullptr, CLSCTX_ALL,
                                          IID_IDispatch),
              E_NOINTERFACE);
    EXPECT_EQ(dispatch, nullptr);
}

TEST_F(ComponentCreation, UnregisteredVersionedProgIdIsThePlatformsFailure) {
    m_tables.Write(
        "Lambda_1.0.xml",
        FeatureXml("Lambda", "1.0",
                   SelfEntryXml("host", "*",
                                ComDependencyXml("gone.dll", "1.0", "KorvixAsmTest.NeverRegistered.1",
                                                 "KorvixAsmTest.NeverRegistered"))));
    ASSERT_TRUE(m_assembly.Initialize("Lambda", "1.0", "host"));
    IUnknown* object = nullptr;
    EXPECT_EQ(m_assembly.CoCreateInstance("KorvixAsmTest.NeverRegistered", reinterpret_cast<void**>(&object),
                                          nullptr, CLSCTX_ALL, IID_IUnknown),
              CO_E_CLASSSTRING);
    EXPECT_EQ(object, nullptr);
}

// A component of this executable, to drive CCComponentT directly.
class LocalComponent : public CCComponentT<CCAssembly> {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (riid != IID_IUnknown && riid != IID_IComponentInit) return E_NOINTERFACE;
        *ppv = static_cast<IComponentInit*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --m_refs; }

private:
    std::atomic<long> m_refs{1};
};

TEST_F(ComponentCreation, ComponentInitializeReportsOnlyThroughItsResult) {
    m_tables.Write("Mu_1.0.xml", FeatureXml("Mu", "1.0", SelfEntryXml("host", "*", "")));
    LocalComponent component;
    Bstr feature(L"Mu"), version(L"1.0"), context(L"host"), other(L"NoTable");
    VARIANT_BOOL result = VARIANT_TRUE;

    EXPECT_EQ(component.Initialize(other.Get(), version.Get(), context.Get(), &result), S_OK);
    EXPECT_EQ(result, VARIANT_FALSE);
    EXPECT_FALSE(component.Assembly().IsInitialized());

    result = VARIANT_TRUE;
    EXPECT_EQ(component.Initialize(nullptr, nullptr, nullptr, &result), S_OK);
    EXPECT_EQ(result, VARIANT_FALSE);
    EXPECT_STREQ(component.Assembly().FeatureName(), "");

    EXPECT_EQ(component.Initialize(feature.Get(), version.Get(), context.Get(), &result), S_OK);
    EXPECT_EQ(result, VARIANT_TRUE);
    EXPECT_TRUE(component.Assembly().IsInitialized());
    EXPECT_STREQ(component.Assembly().FeatureName(), "Mu");
    EXPECT_STREQ(component.Assembly().ContextName(), "host");

    EXPECT_EQ(component.Initialize(feature.Get(), version.Get(), context.Get(), nullptr), E_POINTER);
}

} // namespace
