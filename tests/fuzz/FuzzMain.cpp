// The entry point of a libFuzzer target (KORVIX_FUZZ_ENTRY names its
// function) or, in the native build, a replay of checked-in inputs through
// the same functions: `korvix_fuzz_replay TARGET FOLDER...` runs every .bin
// file of the folders and fails on a folder without one, so that a wrong
// path cannot pass. Each input's path goes to stderr before it runs.
#include "FuzzSupport.h"

#ifdef KORVIX_FUZZ_ENTRY
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return KORVIX_FUZZ_ENTRY(data, size);
}
#else
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    const bool file = argc > 1 && std::strcmp(argv[1], "tablefile") == 0;
    FormatEveryTrace();
    for (int a = 2; a < argc; ++a) {
        std::vector<fs::path> inputs;
        for (const fs::directory_entry& e : fs::directory_iterator(argv[a]))
            if (e.is_regular_file() && e.path().extension() == ".bin") inputs.push_back(e.path());
        std::sort(inputs.begin(), inputs.end());
        if (inputs.empty()) {
            std::fprintf(stderr, "no inputs in %s\n", argv[a]);
            return 1;
        }
        for (const fs::path& path : inputs) {
            std::ifstream in(path, std::ios::binary);
            const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                             std::istreambuf_iterator<char>());
            std::fprintf(stderr, "replaying %s (%zu bytes)\n", path.c_str(), bytes.size());
            (file ? FuzzTableFile : FuzzTable)(bytes.data(), bytes.size());
        }
    }
    return 0;
}
#endif
