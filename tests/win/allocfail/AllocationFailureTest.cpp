// Allocation failures one at a time: the object's allocations are numbered (its heap via malloc, calloc
// and free wrapped at link time; BSTRs and SAFEARRAYs via a malloc spy) and run N fails the N-th, until a
// run makes fewer. Each answer is the one without failure or a failure answer of its path; nothing leaks.
#include <gtest/gtest.h>
#include "ComponentInstall.h"
#include "TableBuilder.h"
#include "core/com/CSmBiosImpl.h"
extern "C" void WINAPI SetOaNoCache();
static long g_live, g_seen, g_spied, g_fail; // not freed; numbered; of them by the spy; the one to fail
static auto Fails = [] { return g_fail > 0 && ++g_seen == g_fail; };
static auto Counted = [](void* p) { return p ? (++g_live, p) : p; };
extern "C" void* __real_malloc(size_t);
extern "C" void* __real_calloc(size_t, size_t);
extern "C" void __real_free(void*);
extern "C" void* __wrap_malloc(size_t n) {
    return Fails() ? nullptr : Counted(__real_malloc(n));
}
extern "C" void* __wrap_calloc(size_t n, size_t size) {
    return Fails() ? nullptr : Counted(__real_calloc(n, size));
}
extern "C" void __wrap_free(void* p) {
    __real_free(p ? (--g_live, p) : p);
}
namespace {
struct Spy : IMallocSpy {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** p) override {
        return (*p = iid == IID_IUnknown || iid == IID_IMallocSpy ? this : nullptr) ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T n) override { return g_fail && (++g_spied, Fails()) ? 0 : n; }
    void* STDMETHODCALLTYPE PostAlloc(void* p) override { return Counted(p); }
    void* STDMETHODCALLTYPE PreFree(void* p, BOOL spied) override { return p && spied ? (--g_live, p) : p; }
    void STDMETHODCALLTYPE PostFree(BOOL) override {}
    SIZE_T STDMETHODCALLTYPE PreRealloc(void* p, SIZE_T n, void** r, BOOL) override { return *r = p, n; }
    void* STDMETHODCALLTYPE PostRealloc(void* p, BOOL) override { return p; }
    void* STDMETHODCALLTYPE PreGetSize(void* p, BOOL) override { return p; }
    SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T n, BOOL) override { return n; }
    void* STDMETHODCALLTYPE PreDidAlloc(void* p, BOOL) override { return p; }
    int STDMETHODCALLTYPE PostDidAlloc(void*, BOOL, int r) override { return r; }
    void STDMETHODCALLTYPE PreHeapMinimize() override {}
    void STDMETHODCALLTYPE PostHeapMinimize() override {}
} g_spy;
struct Answer { // of one call
    HRESULT hr = S_OK;
    ULONG retVal = 0;
    Variant names, values;
};
bool Same(VARIANT& a, VARIANT& b) {
    if (a.vt != b.vt || (a.vt == VT_BSTR && !a.bstrVal != !b.bstrVal)) return false;
    if (a.vt == VT_BSTR) return VarBstrCmp(a.bstrVal, b.bstrVal, 0, 0) == VARCMP_EQ;
    if (!(a.vt & VT_ARRAY))
        return a.vt == VT_EMPTY || !memcmp(&a.bVal, &b.bVal, a.vt == VT_UI4 ? 4 : a.vt == VT_UI1 ? 1 : 2);
    const ULONG n = a.parray->rgsabound[0].cElements, m = b.parray->rgsabound[0].cElements;
    if (n != m || a.vt == (VT_ARRAY | VT_UI1))
        return n == m && !memcmp(a.parray->pvData, b.parray->pvData, n);
    auto* x = static_cast<VARIANT*>(a.parray->pvData);
    return std::equal(x, x + n, static_cast<VARIANT*>(b.parray->pvData), Same);
}
bool Equal(Answer& a, Answer& b) {
    return a.hr == b.hr && a.retVal == b.retVal && Same(*&a.names, *&b.names) && Same(*&a.values, *&b.values);
}
enum class Q { Initialize, All, First, Next, Walk, Handle }; // Initialize: then a query; Next: after Start
HRESULT Call(ISmBiosImpl* o, Q q, UINT i, Answer& x) {
    return q == Q::Initialize ? FAILED(x.hr = o->Initialize()) ? x.hr : Call(o, Q::Handle, 0, x)
           : q == Q::All ? o->GetAllInstancesOfType(17, &x.names, &x.values, &x.retVal)
           : q == Q::First    ? o->GetFirstInstanceOfType(4, &x.names, &x.values, &x.retVal)
           : q == Q::Next     ? (o->StartTypeInstanceEnum(17, &x.retVal),
                             o->GetNextTypeInstance(&x.names, &x.values, &x.retVal))
           : q == Q::Walk     ? o->EnumAllInstances(i, &x.names, &x.values, &x.retVal)
                              : o->FindInstanceByHandle(0x0400, &x.names, &x.values, &x.retVal);
}
using Outcomes = std::vector<std::pair<HRESULT, ULONG>>; // what a call may answer when an allocation fails
// One structure: out of memory; no decoder made (RetVal 4); the decoder's record as far as it got.
const Outcomes kOne = {{E_OUTOFMEMORY, 3}, {E_FAIL, 4}, {S_OK, 0}};
const Outcomes kInit = {{E_OUTOFMEMORY, 0}, {E_FAIL, 0}, {E_OUTOFMEMORY, 3}, {E_FAIL, 4}, {S_OK, 0}};
const std::tuple<const char*, Q, Outcomes> kPaths[] = {
    {"Initialize", Q::Initialize, kInit}, // Initialize fails (no RetVal), or the query after it
    {"GetAllInstancesOfType", Q::All, {{E_OUTOFMEMORY, 3}, {E_FAIL, 4}, {E_FAIL, 3}}},
    {"GetFirstInstanceOfType", Q::First, kOne},
    {"StartTypeInstanceEnum_GetNextTypeInstance", Q::Next, kOne},
    {"EnumAllInstances", Q::Walk, kOne},
    {"FindInstanceByHandle", Q::Handle, kOne}};
class AllocationFailure : public ::testing::TestWithParam<size_t> {}; // an index into kPaths
TEST_P(AllocationFailure, EveryFailureGivesAnAnswerAndLeavesNothingBehind) {
    static ComApartment apartment;
    static ComponentInstall install(R"(<feature name="Korvix" version="1.05"><context name="Client">
        <assemblyIdentity name="test_allocfail.exe" version="*"><dependencies><assemblyIdentity progID=
        "AcTorvel.TorvelAccess.1" versionIndependentProgID="AcTorvel.TorvelAccess"/></dependencies>
        </assemblyIdentity></context></feature>)");
    ASSERT_EQ(install.Error(), ""); // the table names this executable, which holds the object's code
    SetEnvironmentVariableA("KORVIX_SMBIOS_TABLE", TestDataPath("real/dell-poweredge-r640-3.0.bin").c_str());
    SetOaNoCache(); // BSTRs from the task allocator, not from a cache
    try {
        throw 0; // the C++ runtime makes its per-thread exception state at the first throw
    } catch (int) {
    }
    CoRegisterMallocSpy(&g_spy);
    const auto& [name, q, failures] = kPaths[GetParam()];
    auto object = [q = q, ok = VARIANT_BOOL()]() mutable { // Initialize's is new for every run
        ComPtr<ISmBiosImpl> o;
        CSmBiosImpl::CreateInstance(nullptr, IID_ISmBiosImpl, o.PutVoid());
        Bstr f(ComponentInstall::kFeatureW), v(ComponentInstall::kVersionW), c(ComponentInstall::kContextW);
        o->ComponentInitialize(f.Get(), v.Get(), c.Get(), &ok);
        return q == Q::Initialize || SUCCEEDED(o->Initialize()) ? o : nullptr;
    };
    const ComPtr<ISmBiosImpl> shared = q == Q::Initialize ? nullptr : object();
    auto run = [&, q = q](ISmBiosImpl* o, long failAt, std::vector<Answer>& a) { // failAt 0: none fails
        g_seen = g_spied = 0, g_fail = failAt;
        for (UINT i = 0; i == 0 || (q == Q::Walk && (a.at(i - 1).hr != E_FAIL || a[i - 1].retVal != 3)); ++i)
            a.at(i).hr = Call(o, q, i, a.at(i));
        return g_fail = 0, g_seen;
    };
    std::vector<Answer> reference(128); // its run also fills the platform's caches
    run((shared ? shared : object()).Get(), LONG_MAX, reference);
    long n = 1, spied = 0;
    std::vector<long> given(failures.size()); // calls that gave each failure answer
    for (bool reached = true; reached && !HasFailure(); ++n) {
        const long live = g_live;
        {
            std::vector<Answer> failed(128), again(128);
            const ComPtr<ISmBiosImpl> o = shared ? shared : object();
            reached = run(o.Get(), n, failed) >= n, spied = g_spied;
            run(o.Get(), 0, again);
            for (size_t i = 0; i < failed.size(); ++i) {
                Answer& x = failed[i];
                bool allowed = Equal(x, reference[i]);
                for (size_t j = 0; j < failures.size() && !allowed; ++j) // no output, but in a cut record
                    given[j] += allowed = x.hr == failures[j].first && x.retVal == failures[j].second &&
                                          (!x.hr || !(x.names->vt | x.values->vt));
                EXPECT_TRUE(allowed) << name << " N=" << n << " call " << i << std::hex << " hr " << x.hr;
                EXPECT_TRUE(Equal(again[i], reference[i])) << name << " N=" << n << " call " << i << " again";
            }
        }
        EXPECT_TRUE(HasFailure() || g_live == live) << name << " N=" << n << ": allocations left behind";
    }
    std::printf("%s: %ld allocations a run, %ld of them by the task allocator\n", name, n - 2, spied);
    for (size_t j = 0; j < given.size(); ++j) { // every failure answer of the path is given
        std::printf("  failure answer %zu given by %ld calls\n", j, given[j]);
        EXPECT_GT(given[j], 0) << name << " never gives failure answer " << j;
    }
}
INSTANTIATE_TEST_SUITE_P(Paths, AllocationFailure, ::testing::Range<size_t>(0, std::size(kPaths)),
                         [](const auto& info) { return std::string(std::get<0>(kPaths[info.param])); });
} // namespace
