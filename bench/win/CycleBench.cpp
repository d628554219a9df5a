// korvix_bench_cycles: the process's handle count and memory while a client
// creates, initialises, queries and releases Korvix objects again and again,
// run under Wine. The built Korvix.dll and TorvelAccess.dll are registered for
// the run (ComponentInstall); the table comes from a file through
// KORVIX_SMBIOS_TABLE.
//
// Usage: korvix_bench_cycles [CYCLES [TABLE]]
//   CYCLES  default 1000; TABLE default tests/data/real/dell-poweredge-r640-3.0.bin
// One cycle: CoCreateInstance, ComponentInitialize, Initialize, then every
// structure by EnumAllInstances and by FindInstanceByHandle of its handle, and
// for every type 0 to 255 GetAllInstancesOfType, GetFirstInstanceOfType and
// StartTypeInstanceEnum with GetNextTypeInstance to the end; then Release.
// The counts are printed before the first object, after the first cycle (the
// DLLs and the platform's caches loaded) and at every tenth of the run, one
// tab-separated line each: cycles, handles, KiB in use in the heaps, working
// set KiB.
#include <windows.h>
#include <oleauto.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "ComponentInstall.h"
#include "Korvix.h"
#include "common/platform/ComWrappers.h"

namespace {

constexpr ULONG kSuccess = 0;
unsigned long g_answered = 0; // queries that returned a structure (RetVal 0)

struct Counts {
    unsigned long handles = 0, heapKib = 0, workingSetKib = 0;
};

// The process's handles as the system's handle list shows them (Wine's
// GetProcessHandleCount answers 0).
unsigned long HandleCount() {
    struct Entry {
        ULONG process;
        BYTE type, flags;
        USHORT value;
        PVOID object;
        ULONG access;
    };
    using Query = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    const auto query =
        reinterpret_cast<Query>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation"));
    std::string buffer(1 << 16, '\0');
    ULONG needed = 0;
    const ULONG kHandleInformation = 16;
    LONG status;
    while ((status = query(kHandleInformation, &buffer[0], static_cast<ULONG>(buffer.size()), &needed)) ==
           static_cast<LONG>(0xC0000004)) // too small
        buffer.resize(buffer.size() * 2);
    if (status != 0) return 0;
    const ULONG count = *reinterpret_cast<const ULONG*>(buffer.data());
    const auto* entries = reinterpret_cast<const Entry*>(buffer.data() + sizeof(void*));
    unsigned long mine = 0;
    for (ULONG i = 0; i < count; ++i)
        if (entries[i].process == GetCurrentProcessId()) ++mine;
    return mine;
}

// Bytes in use in every heap of the process (the C runtime's and the
// process heap, which the BSTRs and SAFEARRAYs come from).
unsigned long HeapKib() {
    HANDLE heaps[64];
    const DWORD n = GetProcessHeaps(64, heaps);
    unsigned long long busy = 0;
    for (DWORD h = 0; h < n && h < 64; ++h) {
        PROCESS_HEAP_ENTRY e{};
        HeapLock(heaps[h]);
        while (HeapWalk(heaps[h], &e))
            if (e.wFlags & PROCESS_HEAP_ENTRY_BUSY) busy += e.cbData;
        HeapUnlock(heaps[h]);
    }
    return static_cast<unsigned long>(busy / 1024);
}

// The working set (under Wine the process's resident memory), or its peak.
unsigned long WorkingSetKib(bool peak = false) {
    PROCESS_MEMORY_COUNTERS m{};
    GetProcessMemoryInfo(GetCurrentProcess(), &m, sizeof m);
    return static_cast<unsigned long>((peak ? m.PeakWorkingSetSize : m.WorkingSetSize) / 1024);
}

Counts Measure() {
    return {HandleCount(), HeapKib(), WorkingSetKib()};
}

void Print(long cycles, const Counts& c) {
    std::printf("%ld\t%lu\t%lu\t%lu\n", cycles, c.handles, c.heapKib, c.workingSetKib);
    std::fflush(stdout);
}

// The Handle attribute (the third value) of a record, or -1.
long HandleOf(const VARIANT& values) {
    if (values.vt != (VT_ARRAY | VT_VARIANT) || values.parray == nullptr) return -1;
    LONG index = 2;
    Variant handle;
    if (FAILED(SafeArrayGetElement(values.parray, &index, handle.Get())) || handle->vt != VT_UI2) return -1;
    return handle->uiVal;
}

// One cycle; false (with a message) when a call fails that must not.
bool Cycle(const CLSID& clsid) {
    ComPtr<ISmBiosImpl> object;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ISmBiosImpl, object.PutVoid());
    Bstr feature(ComponentInstall::kFeatureW), version(ComponentInstall::kVersionW),
        context(ComponentInstall::kContextW);
    VARIANT_BOOL ok = 0;
    if (SUCCEEDED(hr)) hr = object->ComponentInitialize(feature.Get(), version.Get(), context.Get(), &ok);
    if (SUCCEEDED(hr) && ok != 0) hr = object->Initialize();
    if (FAILED(hr) || ok == 0) {
        std::fprintf(stderr, "korvix_bench_cycles: creating and initialising failed (0x%08lX)\n",
                     static_cast<unsigned long>(hr));
        return false;
    }
    Variant names, values, moreNames, moreValues;
    ULONG retVal = 0;
    for (UINT i = 0; SUCCEEDED(object->EnumAllInstances(i, names.Put(), values.Put(), &retVal)) &&
                     retVal != 3 /* past the last */;
         ++i) {
        const long handle = HandleOf(*values.Get());
        if (handle >= 0)
            object->FindInstanceByHandle(static_cast<USHORT>(handle), moreNames.Put(), moreValues.Put(),
                                         &retVal);
    }
    for (unsigned type = 0; type < 256; ++type) {
        const auto t = static_cast<unsigned char>(type);
        if (SUCCEEDED(object->GetAllInstancesOfType(t, names.Put(), values.Put(), &retVal)))
            g_answered += retVal == kSuccess;
        if (SUCCEEDED(object->GetFirstInstanceOfType(t, names.Put(), values.Put(), &retVal)))
            g_answered += retVal == kSuccess;
        if (SUCCEEDED(object->StartTypeInstanceEnum(t, &retVal)) && retVal == kSuccess)
            while (SUCCEEDED(object->GetNextTypeInstance(names.Put(), values.Put(), &retVal)) &&
                   retVal == kSuccess)
                ++g_answered;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const long cycles = argc > 1 ? std::atol(argv[1]) : 1000;
    const std::string table =
        argc > 2 ? argv[2] : KORVIX_SOURCE_DIR "/tests/data/real/dell-poweredge-r640-3.0.bin";
    if (cycles < 1) {
        std::fprintf(stderr, "usage: korvix_bench_cycles [CYCLES [TABLE]]\n");
        return 2;
    }
    SetEnvironmentVariableA("KORVIX_SMBIOS_TABLE", table.c_str());
    int status = 0;
    {
        ComApartment apartment;
        ComponentInstall install;
        CLSID clsid;
        if (FAILED(apartment.Result()) || !install.Error().empty() ||
            FAILED(CLSIDFromProgID(L"Korvix.SmBiosImpl", &clsid))) {
            std::fprintf(stderr, "korvix_bench_cycles: the component could not be installed: %s\n",
                         install.Error().c_str());
            return 1;
        }
        std::printf("cycles\thandles\theap_in_use_kib\tworking_set_kib\n");
        Print(0, Measure());
        for (long done = 1; done <= cycles && status == 0; ++done) {
            if (!Cycle(clsid)) status = 1;
            if (done == 1 || done % (cycles / 10 > 0 ? cycles / 10 : 1) == 0) Print(done, Measure());
        }
        std::printf("peak working set KiB\t%lu\nqueries answered per cycle\t%lu\n", WorkingSetKib(true),
                    g_answered / static_cast<unsigned long>(cycles));
    }
    SetEnvironmentVariableA("KORVIX_SMBIOS_TABLE", nullptr);
    return status;
}
