#pragma once
// Test-only builder of voice archives. Every field has a sensible default
// and can be overridden, so malformed files are as easy to write as good ones.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pev::test {

struct TestEntry {
    std::uint16_t id = 0;
    std::vector<std::int16_t> block_sizes;
    std::vector<std::uint8_t> bytes;          // the compressed bytes of all blocks
    std::optional<std::uint16_t> block_count; // default: block_sizes.size()
    std::optional<std::uint32_t> data_offset; // default: where the builder puts it
};

struct TestArchive {
    std::array<std::uint8_t, 6> magic = {'P', 'E', 'V', 'P', 'A', 'C'};
    std::optional<std::int32_t> wave_file_count; // default: entries.size()
    std::uint32_t samples_per_sec = 22050;
    std::uint8_t unread_fill = 0; // the header bytes the reader skips
    std::vector<TestEntry> entries;
    std::vector<std::uint8_t> trailing;     // bytes after the last entry
    std::optional<std::size_t> truncate_to; // cut the file to this many bytes
};

// The archive's bytes: header, rows, then each entry's sizes and bytes in
// table order, laid back to back.
std::vector<std::uint8_t> build_archive(const TestArchive& archive);

void write_file(const std::string& path, const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> read_file(const std::string& path);

// An entry of one delta block holding `bytes`.
TestEntry delta_entry(std::uint16_t id, std::vector<std::uint8_t> bytes);

} // namespace pev::test
