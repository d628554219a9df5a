// The "call" build: the decoders and the dispatcher compiled with
// KORVIX_TRACE_OUT_OF_LINE, so that every statement is a real call into this
// translation unit, which tests the threshold and returns (no link-time
// optimisation). It shows what the inline gate of Trace.h saves.
#include "common/trace/Trace.h"

void Trace(unsigned level, const char*, const char*, const char*, const char*, ...) {
    if (!TraceWanted(level)) return;
}
