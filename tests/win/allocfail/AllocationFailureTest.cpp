// Allocation failures, one at a time. Every allocation that the object's code
// makes in this process gets a number: the C and C++ heap of the code linked
// into this executable (malloc, calloc, realloc and free are wrapped at link
// time; the C++ runtime's operator new and new[], nothrow forms included,
// allocate through malloc) and the OLE task allocator, where BSTRs and
// SAFEARRAYs come from, through a malloc spy. Run N of a path fails the N-th
// allocation, for N = 1, 2, ... until a run does not reach N allocations.
// Every run gives the answer of a run without failure or one of the path's
// failure answers, the object answers as before once memory is back, and no
// allocation is left behind.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <vector>

#include "ComponentInstall.h"
#include "TableBuilder.h"
#include "common/platform/ComWrappers.h"
#include "core/com/CSmBiosImpl.h"

namespace {
std::atomic<long> g_live{0};              // allocations not freed yet
std::atomic<long> g_seen{0}, g_failAt{0}; // numbered so far; the one to fail (0: none)
std::atomic<long> g_reallocs{0}, g_spyAllocs{0};

bool Fails() {
    bool f = g_failAt > 0 && ++g_seen == g_failAt;
    if (f && getenv("BT")) { void* st[24]; USHORT k = CaptureStackBackTrace(0, 24, st, nullptr); fprintf(stderr, "BT N=%ld:", (long)g_failAt); for (USHORT i=0;i<k;++i) fprintf(stderr, " %p", st[i]); fprintf(stderr, "\n"); }
    return f;
}
void* Counted(void* p) {
    if (p) ++g_live;
    return p;
}
} // namespace

extern "C" {
void* __real_malloc(size_t);
void* __real_calloc(size_t, size_t);
void* __real_realloc(void*, size_t);
void __real_free(void*);
void* __wrap_malloc(size_t n) {
    return Fails() ? nullptr : Counted(__real_malloc(n));
}
void* __wrap_calloc(size_t n, size_t size) {
    return Fails() ? nullptr : Counted(__real_calloc(n, size));
}
void __wrap_free(void* p) {
    if (p) --g_live;
    __real_free(p);
}
void* __wrap_realloc(void* p, size_t n) {
    if (p == nullptr) return __wrap_malloc(n);
    if (n == 0) return __wrap_free(p), nullptr;
    return Fails() ? nullptr : __real_realloc(p, n);
}
}

namespace {
// The OLE task allocator's hook: a PreAlloc of 0 makes the allocation fail.
class Spy : public IMallocSpy {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** p) override {
        *p = iid == IID_IUnknown || iid == IID_IMallocSpy ? this : nullptr;
        return *p ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T n) override { if (g_failAt) ++g_spyAllocs; return Fails() ? 0 : n; }
    void* STDMETHODCALLTYPE PostAlloc(void* p) override { return Counted(p); }
    void* STDMETHODCALLTYPE PreFree(void* p, BOOL spyed) override {
        if (p && spyed) --g_live;
        return p;
    }
    void STDMETHODCALLTYPE PostFree(BOOL) override {}
    SIZE_T STDMETHODCALLTYPE PreRealloc(void* p, SIZE_T n, void** real, BOOL) override {
        ++g_reallocs;
        *real = p;
        return n;
    }
    void* STDMETHODCALLTYPE PostRealloc(void* p, BOOL) override { return p; }
    void* STDMETHODCALLTYPE PreGetSize(void* p, BOOL) override { return p; }
    SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T n, BOOL) override { return n; }
    void* STDMETHODCALLTYPE PreDidAlloc(void* p, BOOL) override { return p; }
    int STDMETHODCALLTYPE PostDidAlloc(void*, BOOL, int r) override { return r; }
    void STDMETHODCALLTYPE PreHeapMinimize() override {}
    void STDMETHODCALLTYPE PostHeapMinimize() override {}
} g_spy;

// One call's result; the outputs start as VT_I4 so that untouched ones show.
struct Answer {
    Answer() { names->vt = values->vt = VT_I4; }
    HRESULT hr = S_OK;
    ULONG retVal = 0;
    Variant names, values;
};
using Answers = std::deque<Answer>;
constexpr ULONG kAnyRetVal = ~0u;

bool Same(const VARIANT& a, const VARIANT& b) {
    if (a.vt != b.vt) return false;
    switch (a.vt) {
    case VT_EMPTY: return true;
    case VT_UI1: return a.bVal == b.bVal;
    case VT_UI2: case VT_BOOL: return a.uiVal == b.uiVal;
    case VT_I4: case VT_UI4: return a.ulVal == b.ulVal;
    case VT_BSTR: return SysStringLen(a.bstrVal) == SysStringLen(b.bstrVal) && (a.bstrVal == nullptr) == (b.bstrVal == nullptr) &&
                         std::memcmp(a.bstrVal, b.bstrVal, SysStringByteLen(a.bstrVal)) == 0;
    }
    const ULONG n = a.parray->rgsabound[0].cElements;
    if (n != b.parray->rgsabound[0].cElements) return false;
    if (a.vt == (VT_ARRAY | VT_UI1)) return std::memcmp(a.parray->pvData, b.parray->pvData, n) == 0;
    for (ULONG i = 0; i < n; ++i)
        if (!Same(static_cast<VARIANT*>(a.parray->pvData)[i], static_cast<VARIANT*>(b.parray->pvData)[i])) return false;
    return true;
}
bool Same(const Answer& a, const Answer& b) {
    return a.hr == b.hr && a.retVal == b.retVal && Same(*a.names.Get(), *b.names.Get()) &&
           Same(*a.values.Get(), *b.values.Get());
}

struct Path {
    const char* name;
    bool fresh; // a new object each run, without Initialize
    void (*call)(ISmBiosImpl*, Answers&);
    std::vector<std::pair<HRESULT, ULONG>> failures; // answers a failed allocation may give
    void (*prepare)(ISmBiosImpl*) = nullptr;
};
std::ostream& operator<<(std::ostream& out, const Path& p) { return out << p.name; }

// Failures of the queries: out of memory, the decoder not created (RetVal 4),
// a decoder's record cut short (RetVal 0, what the decoder appended).
const std::vector<std::pair<HRESULT, ULONG>> kQueryFailures = {{E_OUTOFMEMORY, 3}, {E_FAIL, 4}, {S_OK, 0}};
const Path kPaths[] = {
    {"Initialize", true, [](ISmBiosImpl* o, Answers& a) { a.emplace_back().hr = o->Initialize(); },
     {{E_OUTOFMEMORY, kAnyRetVal}, {E_FAIL, kAnyRetVal}}},
    {"GetAllInstancesOfType", false, [](ISmBiosImpl* o, Answers& a) {
         Answer& x = a.emplace_back();
         x.hr = o->GetAllInstancesOfType(17, &x.names, &x.values, &x.retVal);
     }, {{E_OUTOFMEMORY, 3}, {E_FAIL, 4}, {E_FAIL, 3}}},
    {"GetFirstInstanceOfType", false, [](ISmBiosImpl* o, Answers& a) {
         Answer& x = a.emplace_back();
         x.hr = o->GetFirstInstanceOfType(4, &x.names, &x.values, &x.retVal);
     }, kQueryFailures},
    {"StartTypeInstanceEnum", false, [](ISmBiosImpl* o, Answers& a) {
         Answer& x = a.emplace_back();
         x.hr = o->StartTypeInstanceEnum(17, &x.retVal);
     }, {}},
    {"GetNextTypeInstance", false, [](ISmBiosImpl* o, Answers& a) {
         Answer& x = a.emplace_back();
         x.hr = o->GetNextTypeInstance(&x.names, &x.values, &x.retVal);
     }, kQueryFailures, [](ISmBiosImpl* o) { ULONG r; o->StartTypeInstanceEnum(17, &r); }},
    {"EnumAllInstances", false, [](ISmBiosImpl* o, Answers& a) {
         for (UINT i = 0; i < 1000; ++i) {
             Answer& x = a.emplace_back();
             x.hr = o->EnumAllInstances(i, &x.names, &x.values, &x.retVal);
             if (x.hr == E_FAIL && x.retVal == 3) break;
         }
     }, kQueryFailures},
    {"FindInstanceByHandle", false, [](ISmBiosImpl* o, Answers& a) {
         Answer& x = a.emplace_back();
         x.hr = o->FindInstanceByHandle(0x0400, &x.names, &x.values, &x.retVal);
     }, kQueryFailures},
};

class AllocationFailure : public ::testing::TestWithParam<Path> {
protected:
    static void SetUpTestSuite() {
        apartment_ = new ComApartment();
        // The object's code lives in this executable, which the dependency
        // table therefore names.
        install_ = new ComponentInstall(
            "<feature name=\"Korvix\" version=\"1.05\"><context name=\"Client\"><assemblyIdentity "
            "name=\"test_allocfail.exe\" version=\"*\"><dependencies><assemblyIdentity name=\"TorvelAccess.dll\" "
            "version=\"1.0.0.1\" progID=\"AcTorvel.TorvelAccess.1\" versionIndependentProgID=\"AcTorvel.TorvelAccess\"/>"
            "</dependencies></assemblyIdentity></context></feature>");
        const std::string table = TestDataPath("real/dell-poweredge-r640-3.0.bin");
        SetEnvironmentVariableW(L"KORVIX_SMBIOS_TABLE", std::wstring(table.begin(), table.end()).c_str());
        using NoCache = void(WINAPI*)();
        auto noCache = reinterpret_cast<NoCache>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"oleaut32.dll"), "SetOaNoCache")));
        if (noCache) noCache();
        if (!getenv("NOSPY")) CoRegisterMallocSpy(&g_spy);
    }
    static void TearDownTestSuite() {
        CoRevokeMallocSpy();
        delete install_;
        delete apartment_;
    }
    // A new object with its feature context; initialised unless `fresh`.
    static ComPtr<ISmBiosImpl> NewObject(bool fresh) {
        ComPtr<ISmBiosImpl> o;
        EXPECT_EQ(CSmBiosImpl::CreateInstance(nullptr, IID_ISmBiosImpl, o.PutVoid()), S_OK);
        Bstr f(ComponentInstall::kFeatureW), v(ComponentInstall::kVersionW), c(ComponentInstall::kContextW);
        VARIANT_BOOL ok = 0;
        o->ComponentInitialize(f.Get(), v.Get(), c.Get(), &ok);
        EXPECT_EQ(ok, 1);
        if (!fresh) EXPECT_EQ(o->Initialize(), S_OK);
        return o;
    }
    static ComApartment* apartment_;
    static ComponentInstall* install_;
};
ComApartment* AllocationFailure::apartment_ = nullptr;
ComponentInstall* AllocationFailure::install_ = nullptr;

TEST_P(AllocationFailure, EachFailureGivesAnAnswerAndLeavesNothingBehind) {
    ASSERT_EQ(install_->Error(), "");
    const Path& path = GetParam();
    ComPtr<ISmBiosImpl> shared = path.fresh ? nullptr : NewObject(false);
    // Runs the path with allocation `failAt` failing (LONG_MAX: none);
    // true when the run reached it.
    auto run = [&](long failAt, Answers& out) {
        ComPtr<ISmBiosImpl> o = path.fresh ? NewObject(true) : shared;
        if (path.prepare) path.prepare(o.Get());
        g_seen = 0;
        g_failAt = failAt;
        path.call(o.Get(), out);
        const long seen = g_seen;
        g_failAt = 0;
        Answers again;
        if (path.prepare) path.prepare(o.Get());
        path.call(o.Get(), again);
        return seen;
    };
    Answers reference, warmUp;
    run(LONG_MAX, warmUp);
    g_spyAllocs = 0;
    const long total = run(LONG_MAX, reference);
    const long spyRef = g_spyAllocs;
    const DWORD start = GetTickCount();
    long n = 1, escapes = 0;
    for (bool reached = true; reached; ++n) {
        const long live = g_live;
        {
            Answers failed;
            ComPtr<ISmBiosImpl> o = path.fresh ? NewObject(true) : shared;
            if (path.prepare) path.prepare(o.Get());
            g_seen = 0;
            g_failAt = n;
            try { path.call(o.Get(), failed); } catch (const std::exception&) { ++escapes; failed.resize(reference.size()); }
            reached = g_seen >= n;
            g_failAt = 0;
            Answers again;
            if (path.prepare) path.prepare(o.Get());
            path.call(o.Get(), again);
            EXPECT_EQ(failed.size(), reference.size()) << path.name << " N=" << n;
            for (size_t i = 0; i < failed.size() && i < reference.size(); ++i) {
                bool allowed = Same(failed[i], reference[i]);
                for (auto [hr, retVal] : path.failures)
                    allowed = allowed || (failed[i].hr == hr && (retVal == kAnyRetVal || failed[i].retVal == retVal));
                EXPECT_TRUE(allowed) << path.name << " N=" << n << " call " << i << " hr " << std::hex << failed[i].hr << std::dec << " RetVal " << failed[i].retVal;
            }
            EXPECT_EQ(again.size(), reference.size());
            for (size_t i = 0; i < again.size() && i < reference.size(); ++i)
                EXPECT_TRUE(Same(again[i], reference[i])) << path.name << " N=" << n << " again call " << i;
        }
        EXPECT_EQ(g_live, live) << path.name << " N=" << n;
        if (HasFailure() && !getenv("GOON")) break;
    }
    std::printf("%s: %ld allocations in a run, %ld failure runs, %lu ms, %ld reallocs, %ld escapes, %ld spy\n", path.name, total, n - 2,
                GetTickCount() - start, static_cast<long>(g_reallocs), escapes, spyRef);
}

INSTANTIATE_TEST_SUITE_P(Paths, AllocationFailure, ::testing::ValuesIn(kPaths),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
