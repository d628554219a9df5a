// Replays the fuzz targets' checked-in inputs (seeds, regressions and the real
// tables) in the ordinary native test run, without libFuzzer: one test per
// input, under the sanitizers of the native build.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "FuzzTargets.h"

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

using Entry = int (*)(const uint8_t*, size_t);

Entry EntryOf(const std::string& target) {
#ifdef KORVIX_FUZZ_TABLEFILE
    if (target == "tablefile") return FuzzTableFile;
#endif
    return target == "table" ? FuzzTable : nullptr;
}

std::string TestName(const std::string& target, const std::string& group, const fs::path& file) {
    std::string name = target + "_" + group + "_" + file.filename().string();
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

// Regular files of `dir` (only those ending in `suffix` when one is given),
// sorted; the README of a corpus folder is not an input.
void Add(std::vector<Input>& inputs, const std::string& target, const std::string& group, const fs::path& dir,
         const std::string& suffix = "") {
    std::error_code ec;
    std::vector<fs::path> files;
    for (const fs::directory_entry& e : fs::directory_iterator(dir, ec)) {
        const std::string name = e.path().filename().string();
        if (!e.is_regular_file() || name == "README.md" || name[0] == '.') continue;
        if (!suffix.empty() && (name.size() < suffix.size() ||
                                name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0))
            continue;
        files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& f : files)
        inputs.push_back({target, f.string(), TestName(target, group, f)});
}

std::vector<Input> Inputs() {
    const fs::path fuzz = KORVIX_FUZZ_DIR;
    const fs::path real = fs::path(KORVIX_TEST_DATA_DIR) / "real";
    std::vector<Input> inputs;
    std::vector<std::string> targets = {"table"};
#ifdef KORVIX_FUZZ_TABLEFILE
    targets.push_back("tablefile");
#endif
    for (const std::string& target : targets) {
        Add(inputs, target, "seed", fuzz / "seeds" / target);
        Add(inputs, target, "regression", fuzz / "regressions" / target);
        // Raw tables are table files too.
        Add(inputs, target, "real", real, ".bin");
        Add(inputs, target, "broken", real / "broken", ".bin");
    }
    return inputs;
}

std::vector<char> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class Replay : public testing::TestWithParam<Input> {};

TEST_P(Replay, RunsClean) {
    const Input& input = GetParam();
    const Entry entry = EntryOf(input.target);
    ASSERT_NE(entry, nullptr);
    std::ifstream probe(input.path, std::ios::binary);
    ASSERT_TRUE(probe.good()) << input.path;
    const std::vector<char> bytes = ReadAll(input.path);
    // A failed check or a sanitizer report ends the process with the input's
    // path on stderr above it.
    fprintf(stderr, "replaying %s (%zu bytes)\n", input.path.c_str(), bytes.size());
    EXPECT_EQ(entry(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), 0);
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
