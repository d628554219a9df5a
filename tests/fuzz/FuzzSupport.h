// The fuzz entry functions and what they share. Each entry takes one input
// of arbitrary bytes, returns 0 and aborts (through FUZZ_CHECK or a
// sanitizer) on a fault; the libFuzzer targets call them from
// LLVMFuzzerTestOneInput, the native replay test on the checked-in inputs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "items/CCVSmBiosItem.h"

// The bytes as a raw SMBIOS structure table: every lookup, every decoder and
// every driver of the dispatcher.
int FuzzTable(const uint8_t* data, size_t size);
// The bytes as a table file read by the driver-access component's reader.
int FuzzTableFile(const uint8_t* data, size_t size);

// A failed check names itself on stderr and aborts, so that libFuzzer keeps
// the input as a crash and the replay test fails on it.
[[noreturn]] void FuzzCheckFailed(const char* condition, const char* file, int line);
#define FUZZ_CHECK(condition) ((condition) ? (void)0 : FuzzCheckFailed(#condition, __FILE__, __LINE__))

// Reads a NUL-terminated string to its end (checked by AddressSanitizer) and
// returns its length.
unsigned long FuzzTouchString(const char* text);

// The types that have a decoder class, ascending; the OEM types 176 and 186
// included, whatever the table holds.
extern const uint8_t kDecodedTypes[22];
// The decoder class of `type`, or null when the type has none.
std::unique_ptr<CCVSmBiosItem> AnyDecoder(uint8_t type);

// Decodes through a sink that reads every name and value completely, as the
// COM sink does when it makes BSTRs and byte arrays, and checks the record:
// the result is success or a refusal, a refusal appends nothing, and a
// structure holding its four header bytes begins with Type, Length and Handle
// carrying those bytes. Returns the decoder's result.
AppendResult DecodeChecked(const CCVSmBiosItem& decoder);
