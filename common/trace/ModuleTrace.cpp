// Placeholder until the trace writer lands: tracing is off.
#include "Trace.h"

bool TraceWanted(unsigned) {
    return false;
}
void Trace(unsigned, const char*, const char*, const char*, const char*, ...) {}
void TraceV(unsigned, const char*, const char*, const char*, const char*, va_list) {}
