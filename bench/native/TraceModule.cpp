// The trace entry points for the native benchmarks, shaped like the module's
// own (common/trace/ModuleTrace.cpp): an out-of-line Trace() that tests an
// atomic "enabled" flag and the level before anything else and returns when
// the record is not wanted. Tracing stays off in the benchmarks, so this is
// the cost every trace statement of a release build pays.
#include <atomic>
#include <cstdio>

#include "common/trace/Trace.h"

namespace {
struct TraceState {
    std::atomic<bool> enabled{false};
    unsigned level = 0;
    bool Wanted(unsigned l) const { return enabled.load(std::memory_order_relaxed) && l <= level; }
};
TraceState g_trace;
} // namespace

bool TraceWanted(unsigned level) {
    return g_trace.Wanted(level);
}

void Trace(unsigned level, const char* scope, const char* category, const char* text, const char* details,
           ...) {
    if (!g_trace.Wanted(level)) return;
    va_list args;
    va_start(args, details);
    TraceV(level, scope, category, text, details, args);
    va_end(args);
}

// Only reached when tracing is on, which the benchmarks never switch.
void TraceV(unsigned, const char*, const char*, const char*, const char* details, va_list args) {
    char buffer[4096];
    std::vsnprintf(buffer, sizeof buffer, details != nullptr ? details : "", args);
}
