// The trace entry points for the native benchmarks, shaped like the module's
// own (common/trace/ModuleTrace.cpp): the inline gate of Trace.h reads the
// threshold, and only a wanted record reaches TraceWrite. Tracing stays off in
// the benchmarks, so this is the cost every trace statement of a release build
// pays.
#include <cstdio>

#include "common/trace/Trace.h"

std::atomic<unsigned> g_traceThreshold{0};

// Only reached when tracing is on, which the benchmarks never switch.
void TraceWrite(unsigned, const char*, const char*, const char*, const char* details, ...) {
    char buffer[4096];
    va_list args;
    va_start(args, details);
    std::vsnprintf(buffer, sizeof buffer, details != nullptr ? details : "", args);
    va_end(args);
}
