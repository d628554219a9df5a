// Host executable for the trace tests. Its trace object reads the registry at
// start-up (HKLM\Software\Quarnex\Common\Tracing\trace_host.exe\<version>); it
// then loads the guest DLL, whose trace object joins it.
// Exit codes: 0 done, 2 guest not loaded, 3 guest did not join, 4 tracing off.
#include <windows.h>

#include "common/trace/ModuleTrace.h"
#include "common/trace/Trace.h"

namespace {

// A static object of the ordinary kind: the trace object exists before it is
// constructed and still exists when it is destroyed.
struct HostStatic {
    HostStatic() { Trace(3, "HostStatic::HostStatic", "Enter", "constructed", ""); }
    ~HostStatic() { Trace(3, "HostStatic::~HostStatic", "Leave", "destroyed", ""); }
} g_hostStatic;

} // namespace

int main() {
    if (!ModuleTraceObject().Enabled()) return 4;
    HMODULE guest = LoadLibraryW(L"trace_guest.dll");
    if (!guest) return 2;
    auto joined = reinterpret_cast<int (*)()>(GetProcAddress(guest, "GuestJoined"));
    auto write = reinterpret_cast<void (*)(int, int)>(GetProcAddress(guest, "GuestWrite"));
    if (!joined || !write) return 2;
    if (!joined()) return 3;
    write(0, 3);
    for (int i = 0; i < 3; ++i)
        Trace(4, "Host::Main", "Internal", "", "host %d", i);
    FreeLibrary(guest);
    return 0;
}
