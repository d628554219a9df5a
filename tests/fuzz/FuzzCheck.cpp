#include "FuzzCheck.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
volatile unsigned long g_kept = 0;
} // namespace

void FuzzCheckFailed(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", condition, file, line);
    std::fflush(stderr);
    std::abort();
}

void FuzzKeep(const void* data, unsigned long size) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    unsigned long h = g_kept;
    for (unsigned long i = 0; i < size; ++i)
        h = h * 31u + p[i];
    g_kept = h;
}

// strlen reads the string to its end in one call that AddressSanitizer checks
// as a whole.
unsigned long FuzzTouchString(const char* text) {
    const unsigned long n = std::strlen(text);
    g_kept = g_kept + n;
    return n;
}
