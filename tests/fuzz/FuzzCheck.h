// Property checks of the fuzz targets. A failed check names itself on stderr
// and aborts, so that libFuzzer keeps the input as a crash and the replay
// test fails on it.
#pragma once

[[noreturn]] void FuzzCheckFailed(const char* condition, const char* file, int line);

#define FUZZ_CHECK(condition) ((condition) ? (void)0 : FuzzCheckFailed(#condition, __FILE__, __LINE__))

// Folds bytes into a value the compiler must keep, so that every byte a target
// "touches" is really read (and checked by AddressSanitizer).
void FuzzKeep(const void* data, unsigned long size);
// Reads a NUL-terminated string to its end, keeps it and returns its length.
unsigned long FuzzTouchString(const char* text);
