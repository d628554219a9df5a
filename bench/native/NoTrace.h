// Forced into every source of the "no trace statement" build of the table
// model and the decoders: each Trace(...) statement is removed by the
// preprocessor, arguments included, so that build shows what the code costs
// without any trace statement at all.
#pragma once

#include "common/trace/Trace.h"

#define Trace(...) ((void)0)
