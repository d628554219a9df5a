// The entry points of a libFuzzer target; KORVIX_FUZZ_ENTRY names its function.
#include <cstdlib>

#include "FuzzSupport.h"

// KORVIX_FUZZ_EVERY_TRACE=1 (the replay of scripts/fuzz --ci) formats the
// trace records of every input, not of a share of them.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (std::getenv("KORVIX_FUZZ_EVERY_TRACE") != nullptr) FormatEveryTrace();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return KORVIX_FUZZ_ENTRY(data, size);
}
