// The fuzz entry functions. Each takes one input of arbitrary bytes, returns 0
// and aborts (a failed FUZZ_CHECK or a sanitizer report) on a fault.
#pragma once

#include <cstddef>
#include <cstdint>

// The bytes as a raw structure table: every lookup, decoder and driver.
int FuzzTable(const uint8_t* data, size_t size);
// The bytes as a table file and as a firmware-table answer.
int FuzzTableFile(const uint8_t* data, size_t size);
// From now on every input has its trace records formatted, not a share of them.
void FormatEveryTrace();

[[noreturn]] void FuzzCheckFailed(const char* condition, const char* file, int line);
#define FUZZ_CHECK(condition) ((condition) ? (void)0 : FuzzCheckFailed(#condition, __FILE__, __LINE__))
