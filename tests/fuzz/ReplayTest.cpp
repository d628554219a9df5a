// Replays the fuzz targets' checked-in inputs (seeds, regressions and the real
// tables) in the ordinary native test run, without libFuzzer, under the
// sanitizers of the native build.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "FuzzSupport.h"

namespace {
namespace fs = std::filesystem;

// A target's seeds and regressions and the real tables (raw tables are table
// files too), sorted; a folder's README and dot files are no inputs.
std::vector<fs::path> Inputs(const std::string& target) {
    const fs::path fuzz = KORVIX_FUZZ_DIR, real = fs::path(KORVIX_TEST_DATA_DIR) / "real";
    std::vector<fs::path> files;
    for (const fs::path& dir :
         {fuzz / "seeds" / target, fuzz / "regressions" / target, real, real / "broken"}) {
        std::error_code ec;
        for (const fs::directory_entry& e : fs::directory_iterator(dir, ec)) {
            const std::string name = e.path().filename().string();
            if (e.is_regular_file() && name[0] != '.' && name != "README.md" &&
                ((dir.parent_path() != real && dir != real) || e.path().extension() == ".bin"))
                files.push_back(e.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

// Runs `entry` on every input; a failed check or a sanitizer report ends the
// process with the input's path on stderr above it. Returns the count.
size_t Replay(const std::string& target, int (*entry)(const uint8_t*, size_t)) {
    const std::vector<fs::path> inputs = Inputs(target);
    for (const fs::path& path : inputs) {
        std::ifstream in(path, std::ios::binary);
        EXPECT_TRUE(in.good()) << path;
        const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        fprintf(stderr, "replaying %s (%zu bytes)\n", path.c_str(), bytes.size());
        EXPECT_EQ(entry(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), 0) << path;
    }
    return inputs.size();
}
} // namespace

// A wrong folder would replay nothing and pass: the real tables (32 and one
// broken) and the hand-made seeds must be there.
TEST(Replay, TableInputsRunClean) {
    EXPECT_GE(Replay("table", FuzzTable), 33u + 5u);
}

#ifdef KORVIX_FUZZ_TABLEFILE
TEST(Replay, TableFileInputsRunClean) {
    EXPECT_GE(Replay("tablefile", FuzzTableFile), 33u + 5u);
}
#endif
