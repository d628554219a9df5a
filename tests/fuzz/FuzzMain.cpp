// libFuzzer's entry point; KORVIX_FUZZ_ENTRY names the target's function.
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return KORVIX_FUZZ_ENTRY(data, size);
}
