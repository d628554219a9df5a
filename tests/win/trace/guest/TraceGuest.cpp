// Guest DLL for the trace tests: links the trace library like any module of
// the family and exports gg_ptrc through its .def file. Loaded into a process
// whose main executable exports an enabled trace object with the module
// column on, its own trace object joins that one.
#include <windows.h>

#include "common/trace/ModuleTrace.h"
#include "common/trace/Trace.h"

extern "C" CCVireoTrace* gg_ptrc;

namespace {

struct GuestStatic {
    GuestStatic() { Trace(3, "GuestStatic::GuestStatic", "Enter", "constructed", ""); }
    ~GuestStatic() { Trace(3, "GuestStatic::~GuestStatic", "Leave", "destroyed", ""); }
} g_guestStatic;

} // namespace

// Joined: enabled, module column on, and the own slot left empty.
extern "C" int GuestJoined() {
    const CCVireoTrace& trace = ModuleTraceObject();
    return trace.Enabled() && trace.ModuleColumn() && gg_ptrc == nullptr;
}

extern "C" void GuestWrite(int thread, int count) {
    for (int i = 0; i < count; ++i)
        Trace(4, "Guest::Write", "Internal", "", "guest %d seq %04d", thread, i);
}

extern "C" HMODULE GuestModuleHandle() {
    return ModuleTraceObject().GetModuleHandleRaw();
}
