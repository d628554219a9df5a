// Replays the fuzz targets' checked-in inputs (seeds, regressions and the real
// tables) in the ordinary native test run, without libFuzzer: one test per
// input, under the sanitizers of the native build.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "FuzzSupport.h"

namespace {
namespace fs = std::filesystem;

struct Input {
    std::string target; // "table" or "tablefile"
    std::string path;
    std::string name; // the test name
};

// What test listings show for a parameter: the input's file.
void PrintTo(const Input& input, std::ostream* os) {
    *os << fs::path(input.path).filename().string();
}

// Each target's seeds and regressions, and the real tables (raw tables are
// table files too), sorted; a folder's README and dot files are no inputs.
std::vector<Input> Inputs() {
    const fs::path fuzz = KORVIX_FUZZ_DIR, real = fs::path(KORVIX_TEST_DATA_DIR) / "real";
    std::vector<Input> inputs;
    for (const std::string target : {"table", "tablefile"}) {
#ifndef KORVIX_FUZZ_TABLEFILE
        if (target == "tablefile") continue;
#endif
        const std::pair<std::string, fs::path> groups[] = {{"seed", fuzz / "seeds" / target},
                                                           {"regression", fuzz / "regressions" / target},
                                                           {"real", real},
                                                           {"broken", real / "broken"}};
        for (const auto& [group, dir] : groups) {
            std::vector<fs::path> files;
            std::error_code ec;
            for (const fs::directory_entry& e : fs::directory_iterator(dir, ec)) {
                const std::string name = e.path().filename().string();
                const bool tables = group == "real" || group == "broken";
                if (e.is_regular_file() && name[0] != '.' && name != "README.md" &&
                    (!tables || e.path().extension() == ".bin"))
                    files.push_back(e.path());
            }
            std::sort(files.begin(), files.end());
            for (const fs::path& f : files) {
                std::string name = target + "_" + group + "_" + f.filename().string();
                std::replace_if(
                    name.begin(), name.end(), [](char c) { return !std::isalnum(c & 0xFF); }, '_');
                inputs.push_back({target, f.string(), name});
            }
        }
    }
    return inputs;
}

class Replay : public testing::TestWithParam<Input> {};

TEST_P(Replay, RunsClean) {
    const Input& input = GetParam();
    std::ifstream in(input.path, std::ios::binary);
    ASSERT_TRUE(in.good()) << input.path;
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    // A failed check or a sanitizer report ends the process with the input's
    // path on stderr above it.
    fprintf(stderr, "replaying %s (%zu bytes)\n", input.path.c_str(), bytes.size());
#ifdef KORVIX_FUZZ_TABLEFILE
    if (input.target == "tablefile") {
        EXPECT_EQ(FuzzTableFile(data, bytes.size()), 0);
        return;
    }
#endif
    EXPECT_EQ(FuzzTable(data, bytes.size()), 0);
}

INSTANTIATE_TEST_SUITE_P(Corpus, Replay, testing::ValuesIn(Inputs()),
                         [](const testing::TestParamInfo<Input>& info) { return info.param.name; });

// A wrong folder would make the suite above empty and pass; the real tables
// and the hand-made seeds must be there.
TEST(ReplayCorpus, FindsTheInputs) {
    const std::vector<Input> inputs = Inputs();
    const auto count = [&](const std::string& part) {
        return std::count_if(inputs.begin(), inputs.end(), [&](const Input& i) {
            return i.target == "table" && i.name.find(part) != std::string::npos;
        });
    };
    EXPECT_GE(count("_real_"), 30);
    EXPECT_GE(count("_broken_"), 1);
    EXPECT_GE(count("_seed_"), 5);
}
} // namespace
