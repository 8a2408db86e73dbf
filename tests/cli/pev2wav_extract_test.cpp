#include "cli/pev2wav_extract.hpp"
#include "cli/pev2wav_main.hpp"
#include "support/archive_builder.hpp"
#include "support/captured_stream.hpp"
#include "support/sample_archives.hpp"
#include "support/temp_dir.hpp"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace pev::test {
namespace {

std::vector<std::int16_t> wav_samples(const std::string& path) {
    const auto bytes = read_file(path);
    std::vector<std::int16_t> samples;
    for (std::size_t i = 44; i + 1 < bytes.size(); i += 2) {
        samples.push_back(static_cast<std::int16_t>(bytes[i] | bytes[i + 1] << 8));
    }
    return samples;
}

struct Extraction {
    int result;
    std::string out, err;
    extraction::ExtractStats stats;
};

Extraction extract(const TempDir& dir, const std::string& archive_name) {
    std::FILE* file = std::fopen(dir.file(archive_name + ".pev").c_str(), "rb");
    EXPECT_NE(file, nullptr);
    CapturedStream out, err;
    cli::ExtractOptions options;
    options.out = out.get();
    options.err = err.get();
    extraction::ExtractStats stats;
    const int result = cli::extract_archive(dir.file(archive_name), file, options, &stats);
    std::fclose(file);
    return {result, out.text(), err.text(), stats};
}

TEST(Extract, DecodesEveryKindOfBlock) {
    TempDir dir;
    write_file(dir.file("B.pev"), build_archive(three_clip_archive()));
    const Extraction run = extract(dir, "B");
    ASSERT_EQ(run.result, 3);

    std::vector<std::int16_t> first(1024, 0);
    first.insert(first.end(), {0, 0, 2, 0, 8, 0});
    EXPECT_EQ(wav_samples(dir.file("B_0001.wav")), first);

    const auto ramp = wav_samples(dir.file("B_0002.wav"));
    ASSERT_EQ(ramp.size(), 1024u);
    EXPECT_EQ(ramp[0], -32768);
    EXPECT_EQ(ramp[128], 0);
    EXPECT_EQ(ramp[255], 32258);
    EXPECT_EQ(ramp[256], -32768);

    // The escape at the end of the first block takes 0x3C (step -30, level
    // 15 wraps to 241) as its code; the
    // second block decodes that byte again, from level 0.
    const std::vector<std::int16_t> third = {-32258, -31250, -29768, -27848, -25538,
                                             25538,  29768,  30752,  31250,  30752};
    EXPECT_EQ(wav_samples(dir.file("B_0003.wav")), third);
}

TEST(Extract, StatsShowTheLargestEntryOnly) {
    TempDir dir;
    write_file(dir.file("B.pev"), build_archive(three_clip_archive()));
    const Extraction run = extract(dir, "B");
    ASSERT_EQ(run.result, 3);
    EXPECT_EQ(run.stats.largest_compressed_bytes, 1024u);
    EXPECT_EQ(run.stats.largest_sample_buffer_bytes, 2 * (1024u + 8u));
}

// An entry whose samples a WAV file's 32-bit sizes could not describe is
// refused before any buffer is taken. The archive is a sparse file of about
// 1 GiB, so the entry's bytes really are there.
TEST(Extract, RefusesAnEntryTooLargeForAWavFile) {
    TempDir dir;
    TestArchive archive;
    TestEntry huge;
    huge.id = 77;
    huge.block_sizes.assign(32769, 32767); // 2 x bound + 36 is just above 2^32 - 1
    archive.entries = {huge};
    const auto bytes = build_archive(archive);
    write_file(dir.file("B.pev"), bytes);
    std::filesystem::resize_file(dir.file("B.pev"), bytes.size() + 32769ull * 32767ull);

    const Extraction run = extract(dir, "B");
    EXPECT_EQ(run.result, -1);
    EXPECT_EQ(run.err, "invalid pev size (id:77)\n");
    EXPECT_EQ(run.stats.largest_compressed_bytes, 0u);
    EXPECT_EQ(run.stats.largest_sample_buffer_bytes, 0u);
    EXPECT_FALSE(std::filesystem::exists(dir.file("B_0001.wav")));
}

// The bytes a truncated entry lacks read as 0 even where the reused buffer
// held other bytes: the first entry fills it with 0x77 first.
TEST(Extract, TruncatedEntryReadsZerosInAReusedBuffer) {
    TestArchive cut;
    TestEntry loud;
    loud.block_sizes = {1024};
    loud.bytes.assign(1024, 0x77);
    cut.entries = {loud, delta_entry(2, {0x21, 0x43, 0x65})};
    TestArchive zeros = cut;
    zeros.entries[1].bytes = {0x21, 0, 0};
    cut.truncate_to = build_archive(cut).size() - 2;
    TempDir dir;
    write_file(dir.file("cut.pev"), build_archive(cut));
    write_file(dir.file("zeros.pev"), build_archive(zeros));
    ASSERT_EQ(extract(dir, "cut").result, 2);
    ASSERT_EQ(extract(dir, "zeros").result, 2);
    EXPECT_EQ(wav_samples(dir.file("cut_0002.wav")), wav_samples(dir.file("zeros_0002.wav")));
}

TEST(Extract, OutputCreatorReceivesEveryName) {
    TempDir dir;
    write_file(dir.file("B.pev"), build_archive(three_clip_archive()));
    std::FILE* file = std::fopen(dir.file("B.pev").c_str(), "rb");
    CapturedStream out, err;
    std::vector<std::string> names;
    cli::ExtractOptions options;
    options.out = out.get();
    options.err = err.get();
    options.create_output = [&names](const std::string& name) {
        names.push_back(name);
        return std::tmpfile();
    };
    EXPECT_EQ(cli::extract_archive("x/B", file, options), 3);
    std::fclose(file);
    EXPECT_EQ(names, (std::vector<std::string>{"x/B_0001.wav", "x/B_0002.wav", "x/B_0003.wav"}));
}

// The whole program in-process: the driver's lines around the extraction.
TEST(Driver, RunsInProcess) {
    TempDir dir;
    write_file(dir.file("B.pev"), build_archive(three_clip_archive()));
    const std::vector<std::string> args = {"Pev2wav", dir.file("B"), "ignored"};
    CapturedStream out, err;
    EXPECT_EQ(cli::run_pev2wav(args, out.get(), err.get()), 0);
    const std::string b = dir.file("B");
    EXPECT_EQ(out.text(), "Pev2wav version 0.36a / 2002.3 \n\nSearching for: " + b +
                              ".pev\nFound 3 wave files. (nSamplesPerSec: 22050)\nExtracted: " + b +
                              "_0001.wav\nExtracted: " + b + "_0002.wav\nExtracted: " + b +
                              "_0003.wav\n\nTotal files extracted: 3\n");
    EXPECT_EQ(err.text(), "");
}

} // namespace
} // namespace pev::test
