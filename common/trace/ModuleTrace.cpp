// The binary's one trace object and the free trace functions (see ModuleTrace.h).
#include "ModuleTrace.h"

#include "Trace.h"

extern "C" {
// Read by modules loaded into this process when this binary is their main
// executable; holds this binary's trace object unless that joined a host.
__declspec(dllexport) CCVireoTrace* gg_ptrc = nullptr;
}

// Constant-initialised, so valid before the trace object below is built.
std::atomic<unsigned> g_traceThreshold{0};

namespace {

// Priority 101 comes before every static object without a priority, in any
// translation unit of the binary.
CCVireoTrace g_moduleTrace
    __attribute__((init_priority(101))) ("%ModuleName%\\%ModuleVersion%",
                                         CCVireoTrace::FlagReserved | CCVireoTrace::FlagTraceValueDecides,
                                         "CCVireoTrace_PID_", "Software\\Quarnex\\Common\\Tracing\\",
                                         &gg_ptrc, &g_traceThreshold);

} // namespace

CCVireoTrace& ModuleTraceObject() {
    return g_moduleTrace;
}

void TraceWrite(unsigned level, const char* scope, const char* category, const char* text,
                const char* details, ...) {
    va_list args;
    va_start(args, details);
    g_moduleTrace.TraceV(level, scope, category, text, details, args);
    va_end(args);
}
