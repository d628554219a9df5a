// The one entry point through which every class of the module reports.
//
// Trace(level, scope, category, text, details format, arguments...) writes one
// record through the process's trace object when tracing is enabled and the
// level is within the configured trace level. The scope has the form
// "Class::Method". Levels: 1 Error, 2 Warning, 3 Info, 4 Verbose, 5 InfoCC,
// 6 VerboseCC.
//
// The declaration is free of platform types so that the table model and the
// decoders build everywhere; the Windows build routes it to CCVireoTrace, the
// native test build to an in-memory recorder.
#pragma once

#include <atomic>
#include <cstdarg>

namespace TraceLevel {
enum : unsigned { Error = 1, Warning = 2, Info = 3, Verbose = 4, InfoCC = 5, VerboseCC = 6 };
}

// One more than the highest level the binary's trace object records; 0 while
// tracing is off. The trace object keeps it current, so that a statement whose
// record is not wanted costs one load and one compare, inline.
extern std::atomic<unsigned> g_traceThreshold;

// Cheap check made before any formatting work; false while tracing is off.
inline bool TraceWanted(unsigned level) {
    return level < g_traceThreshold.load(std::memory_order_relaxed);
}

// Formats and writes one record; reached only when TraceWanted(level). Cold:
// the compiler keeps the calls out of the way of the code around them.
#if defined(__GNUC__) || defined(__clang__)
__attribute__((cold))
#endif
void TraceWrite(unsigned level, const char* scope, const char* category, const char* text,
                const char* details, ...);

#if defined(KORVIX_TRACE_OUT_OF_LINE)
// Builds that want the compiler to check every details format against its
// arguments (the fuzz build), and the benchmark of the out-of-line call,
// declare the entry point as a plain function.
void Trace(unsigned level, const char* scope, const char* category, const char* text, const char* details,
           ...) __attribute__((format(printf, 5, 6)));
#else
template <typename... Args>
inline void Trace(unsigned level, const char* scope, const char* category, const char* text,
                  const char* details, Args... args) {
    if (TraceWanted(level)) TraceWrite(level, scope, category, text, details, args...);
}
#endif
