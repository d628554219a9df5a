// Force-included into the fuzz build of the portable code: declares the trace
// entry point with printf format checking, so that the compiler compares every
// details format with its arguments (the shared declaration that follows
// inherits the attribute).
#pragma once

#include <cstdarg>

void Trace(unsigned level, const char* scope, const char* category, const char* text, const char* details,
           ...) __attribute__((format(printf, 5, 6)));
