// The fuzz entry functions and what they share. Each takes one input of
// arbitrary bytes, returns 0 and aborts (a failed FUZZ_CHECK or a sanitizer
// report) on a fault. The libFuzzer targets call them from
// LLVMFuzzerTestOneInput, the native replay on the checked-in inputs.
#pragma once

#include <cstddef>
#include <cstdint>

#include "items/CCVSmBiosItem.h"

// The bytes as a raw structure table: every lookup, decoder and driver.
int FuzzTable(const uint8_t* data, size_t size);
// The bytes as a table file and as a firmware-table answer.
int FuzzTableFile(const uint8_t* data, size_t size);

[[noreturn]] void FuzzCheckFailed(const char* condition, const char* file, int line);
#define FUZZ_CHECK(condition) ((condition) ? (void)0 : FuzzCheckFailed(#condition, __FILE__, __LINE__))

// Trace records are formatted (every string argument read to its end) for a
// share of the inputs, chosen by a hash of their bytes so that a run repeats:
// the formatting took a quarter of the run time and reaches no code of its
// own. The replay formats the records of every input.
void FormatTraces(uint32_t inputHash);
void FormatEveryTrace();

// Decodes through a sink that reads every name and value to its end, as the
// COM sink does, and checks the record: success or a refusal, a refusal
// appends nothing, and a structure with its four header bytes begins with
// Type, Length and Handle carrying them. Returns the decoder's result.
AppendResult DecodeChecked(const CCVSmBiosItem& decoder);
