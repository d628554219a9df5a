// The fuzz entry functions. Each takes one input of arbitrary bytes, returns 0
// and aborts (through FUZZ_CHECK or a sanitizer) on a fault. The libFuzzer
// targets call them from LLVMFuzzerTestOneInput; the native replay test calls
// them on the checked-in inputs.
#pragma once

#include <cstddef>
#include <cstdint>

// The bytes as a raw SMBIOS structure table: every lookup, every decoder and
// every driver of the dispatcher.
int FuzzTable(const uint8_t* data, size_t size);
// The bytes as a table file read by the driver-access component's reader.
int FuzzTableFile(const uint8_t* data, size_t size);
