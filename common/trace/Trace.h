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

#include <cstdarg>

namespace TraceLevel {
enum : unsigned { Error = 1, Warning = 2, Info = 3, Verbose = 4, InfoCC = 5, VerboseCC = 6 };
}

// Cheap check made before any formatting work; false while tracing is off.
bool TraceWanted(unsigned level);

void Trace(unsigned level, const char* scope, const char* category, const char* text, const char* details,
           ...);
void TraceV(unsigned level, const char* scope, const char* category, const char* text, const char* details,
            va_list args);
