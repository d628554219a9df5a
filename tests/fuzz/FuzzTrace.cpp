// The trace entry point of the fuzz build: every record is formatted as the
// trace object would format it (so that a details format and its arguments
// must agree) and then dropped, so that memory does not grow over a run.
#include <climits>
#include <cstdio>
#include <cstring>

#include "FuzzCheck.h"
#include "common/trace/Trace.h"

namespace {
volatile unsigned g_formatted = 0;

void FormatRecord(unsigned level, const char* scope, const char* category, const char* text,
                  const char* details, va_list args) {
    FUZZ_CHECK(level >= TraceLevel::Error && level <= TraceLevel::VerboseCC);
    FUZZ_CHECK(scope != nullptr && category != nullptr && text != nullptr && details != nullptr);
    FuzzTouchString(scope);
    FuzzTouchString(category);
    FuzzTouchString(text);
    // Details without a conversion read no argument: nothing to format.
    if (std::strchr(details, '%') == nullptr) {
        FuzzTouchString(details);
        return;
    }
    // Longer details are cut here, but the formatting still reads every
    // string argument to its end.
    char buffer[1024];
    const int n = std::vsnprintf(buffer, sizeof buffer, details, args);
    FUZZ_CHECK(n >= 0);
    g_formatted = g_formatted + static_cast<unsigned>(n);
}

} // namespace

std::atomic<unsigned> g_traceThreshold{UINT_MAX};

void Trace(unsigned level, const char* scope, const char* category, const char* text, const char* details,
           ...) {
    va_list args;
    va_start(args, details);
    FormatRecord(level, scope, category, text, details, args);
    va_end(args);
}

void TraceWrite(unsigned level, const char* scope, const char* category, const char* text,
                const char* details, ...) {
    va_list args;
    va_start(args, details);
    FormatRecord(level, scope, category, text, details, args);
    va_end(args);
}
