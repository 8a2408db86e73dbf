// Writes the seed corpora: small well-formed and slightly broken archives for
// fuzz_extract and fuzz_capi, block tables for fuzz_decoder and WAV files for
// the WAV reader. Usage: make_fuzz_seeds DIR (writes DIR/extract, DIR/capi,
// DIR/decoder, DIR/wav_reader).

#include "support/archive_builder.hpp"
#include "wav/wav_writer.hpp"

#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using pev::test::TestArchive;
using pev::test::TestEntry;
using Bytes = std::vector<std::uint8_t>;

TestEntry entry_of(std::uint16_t id, std::vector<std::int16_t> sizes, Bytes bytes) {
    TestEntry entry;
    entry.id = id;
    entry.block_sizes = std::move(sizes);
    entry.bytes = std::move(bytes);
    return entry;
}

Bytes ramp(std::size_t n, std::uint8_t start, std::uint8_t step) {
    Bytes out(n);
    for (std::size_t i = 0; i < n; ++i) {
        out[i] = static_cast<std::uint8_t>(start + step * i);
    }
    return out;
}

std::vector<std::pair<std::string, Bytes>> archive_seeds() {
    std::vector<std::pair<std::string, Bytes>> seeds;
    TestArchive mixed;
    mixed.entries = {
        entry_of(1, {0}, {}), entry_of(2, {1024}, ramp(1024, 0, 1)),
        entry_of(3, {6, 0, 4}, {0x21, 0xFF, 0x07, 0x12, 0x34, 0x56, 0x7F, 0x3C, 0, 0})};
    seeds.emplace_back("mixed", build_archive(mixed));

    TestArchive empty;
    seeds.emplace_back("empty", build_archive(empty));

    TestArchive escapes;
    escapes.samples_per_sec = 0;
    escapes.entries = {entry_of(500, {4}, {0x11, 0x22, 0x33, 0xF7}),
                       entry_of(7, {2}, {0x3C, 0xFF})};
    seeds.emplace_back("escapes_rate0", build_archive(escapes));

    TestArchive no_blocks;
    no_blocks.entries = {entry_of(9, {}, {})};
    seeds.emplace_back("no_blocks", build_archive(no_blocks));

    TestArchive too_big = mixed;
    too_big.entries[2].block_sizes = {6, 0, 5};
    seeds.emplace_back("one_byte_too_many", build_archive(too_big));

    TestArchive wrapping = mixed;
    wrapping.entries[2].data_offset = 40;
    seeds.emplace_back("wrapping_room", build_archive(wrapping));

    TestArchive bad_size;
    bad_size.entries = {entry_of(4, {-2, 8}, ramp(8, 1, 17))};
    seeds.emplace_back("bit15_size", build_archive(bad_size));

    TestArchive truncated = mixed;
    truncated.truncate_to = 1000;
    seeds.emplace_back("truncated", build_archive(truncated));

    TestArchive short_table = mixed;
    short_table.wave_file_count = 40;
    short_table.truncate_to = 60;
    seeds.emplace_back("short_table", build_archive(short_table));
    return seeds;
}

// Block count, span choice, sizes, bytes: the layout fuzz_decoder reads.
Bytes decoder_seed(const std::vector<std::int16_t>& sizes, std::uint8_t choice,
                   const Bytes& bytes) {
    Bytes out = {static_cast<std::uint8_t>(sizes.size()),
                 static_cast<std::uint8_t>(sizes.size() >> 8), choice};
    for (const std::int16_t size : sizes) {
        out.push_back(static_cast<std::uint8_t>(size));
        out.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(size) >> 8));
    }
    out.insert(out.end(), bytes.begin(), bytes.end());
    return out;
}

std::vector<std::pair<std::string, Bytes>> decoder_seeds() {
    return {
        {"silent_raw_delta", decoder_seed({0, 1024, 3}, 0, ramp(1027, 3, 7))},
        {"escape_last_nibble", decoder_seed({4, 2}, 0, {0x11, 0x22, 0x33, 0xF7, 0x3C, 0xFF})},
        {"escape_second_last", decoder_seed({4}, 0, {0x11, 0x22, 0x33, 0x7F})},
        {"short_span", decoder_seed({8, 0}, 0x85, ramp(8, 0x10, 0x11))},
        {"long_span", decoder_seed({8}, 0x50, ramp(8, 0x10, 0x11))},
        {"bit15_size", decoder_seed({-1, 16, 1024}, 0, ramp(40, 0xEE, 1))},
    };
}

Bytes wav_file(std::uint16_t channels, std::uint32_t rate, std::size_t samples) {
    const auto header =
        pev::wav::make_header(static_cast<std::uint32_t>(2 * samples), channels, rate);
    Bytes out(header.begin(), header.end());
    for (std::size_t i = 0; i < 2 * samples; ++i) {
        out.push_back(static_cast<std::uint8_t>(i * 37));
    }
    return out;
}

std::vector<std::pair<std::string, Bytes>> wav_seeds() {
    Bytes with_list = wav_file(1, 22050, 8);
    const Bytes list = {'L', 'I', 'S', 'T', 4, 0, 0, 0, 'I', 'N', 'F', 'O'};
    with_list.insert(with_list.begin() + 36, list.begin(), list.end());
    with_list[4] = static_cast<std::uint8_t>(with_list[4] + list.size());
    return {{"mono_22050", wav_file(1, 22050, 64)},
            {"stereo_44100", wav_file(2, 44100, 32)},
            {"empty_data", wav_file(1, 8000, 0)},
            {"list_chunk", with_list}};
}

void write_all(const std::filesystem::path& dir,
               const std::vector<std::pair<std::string, Bytes>>& seeds) {
    std::filesystem::create_directories(dir);
    for (const auto& [name, bytes] : seeds) {
        pev::test::write_file((dir / name).string(), bytes);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: make_fuzz_seeds DIR\n", stderr);
        return 2;
    }
    const std::filesystem::path root = argv[1];
    try {
        write_all(root / "extract", archive_seeds());
        write_all(root / "capi", archive_seeds());
        write_all(root / "decoder", decoder_seeds());
        write_all(root / "wav_reader", wav_seeds());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "make_fuzz_seeds: cannot write the seeds: %s\n", error.what());
        return 1;
    }
    return 0;
}
