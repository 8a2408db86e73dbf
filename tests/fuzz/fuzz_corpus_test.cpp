// Replays the fuzzers' seeds and every input that ever broke (or nearly
// broke) a fuzz target through the targets' own checks, without libFuzzer,
// so a regression shows up in the ordinary test run.

#include "harness/capi_harness.hpp"
#include "harness/decoder_harness.hpp"
#include "harness/extract_harness.hpp"
#include "harness/wav_reader_harness.hpp"
#include "support/archive_builder.hpp"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct CorpusFile {
    std::string target; // the fuzz target whose checks the file goes through
    fs::path path;
};

std::vector<CorpusFile> corpus_files() {
    const fs::path root = PEV_SOURCE_DIR;
    std::vector<CorpusFile> files;
    for (const char* target : {"extract", "decoder", "wav_reader", "capi"}) {
        for (const fs::path& dir :
             {root / "tests" / "fuzz_corpus" / target, root / "fuzz" / "seeds" / target}) {
            if (!fs::is_directory(dir)) {
                continue;
            }
            for (const auto& entry : fs::directory_iterator(dir)) {
                if (entry.is_regular_file() && entry.path().filename().string()[0] != '.') {
                    files.push_back({target, entry.path()});
                }
            }
        }
    }
    std::sort(files.begin(), files.end(),
              [](const CorpusFile& a, const CorpusFile& b) { return a.path < b.path; });
    return files;
}

std::string check(const CorpusFile& file) {
    const std::vector<std::uint8_t> bytes = pev::test::read_file(file.path.string());
    if (file.target == "extract") {
        return pev::fuzz::check_extraction(bytes);
    }
    if (file.target == "decoder") {
        return pev::fuzz::check_decoder(bytes);
    }
    if (file.target == "capi") {
        return pev::fuzz::check_capi(bytes);
    }
    return pev::fuzz::check_wav_reader(bytes);
}

void PrintTo(const CorpusFile& file, std::ostream* os) {
    *os << file.target << ": " << file.path;
}

class FuzzCorpus : public testing::TestWithParam<CorpusFile> {};

TEST_P(FuzzCorpus, KeepsEveryPromise) {
    EXPECT_EQ(check(GetParam()), "") << GetParam().path;
}

std::string test_name(const testing::TestParamInfo<CorpusFile>& info) {
    std::string name = info.param.target + "_" +
                       info.param.path.parent_path().parent_path().filename().string() + "_" +
                       info.param.path.filename().string();
    std::replace_if(
        name.begin(), name.end(),
        [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
    return name;
}

INSTANTIATE_TEST_SUITE_P(Files, FuzzCorpus, testing::ValuesIn(corpus_files()), test_name);

// Without this the suite could silently replay nothing after a move.
TEST(FuzzCorpusLayout, HoldsFilesForEveryTarget) {
    const std::vector<CorpusFile> files = corpus_files();
    for (const char* target : {"extract", "decoder", "wav_reader", "capi"}) {
        EXPECT_TRUE(std::any_of(files.begin(), files.end(), [&](const CorpusFile& f) {
            return f.target == target;
        })) << target;
    }
}

} // namespace
