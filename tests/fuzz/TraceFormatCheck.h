// Force-included into the fuzz build of the portable code: the trace entry
// point is then declared as a plain function with printf format checking, so
// that the compiler compares every details format with its arguments.
#pragma once

#define KORVIX_TRACE_OUT_OF_LINE 1
