#include "support/archive_builder.hpp"

#include "common/little_endian.hpp"

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace pev::test {
namespace {

void append_u16(std::vector<std::uint8_t>& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void append_u32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    append_u16(out, static_cast<std::uint16_t>(value));
    append_u16(out, static_cast<std::uint16_t>(value >> 16));
}

} // namespace

std::vector<std::uint8_t> build_archive(const TestArchive& archive) {
    std::vector<std::uint8_t> out(32, archive.unread_fill);
    std::copy(archive.magic.begin(), archive.magic.end(), out.begin());
    const auto count =
        archive.wave_file_count.value_or(static_cast<std::int32_t>(archive.entries.size()));
    store_u32le(out, 16, static_cast<std::uint32_t>(count));
    store_u32le(out, 24, archive.samples_per_sec);

    std::uint32_t offset = static_cast<std::uint32_t>(32 + 8 * archive.entries.size());
    for (const TestEntry& entry : archive.entries) {
        append_u16(out, entry.id);
        append_u16(
            out, entry.block_count.value_or(static_cast<std::uint16_t>(entry.block_sizes.size())));
        append_u32(out, entry.data_offset.value_or(offset));
        offset += static_cast<std::uint32_t>(2 * entry.block_sizes.size() + entry.bytes.size());
    }
    for (const TestEntry& entry : archive.entries) {
        for (const std::int16_t size : entry.block_sizes) {
            append_u16(out, static_cast<std::uint16_t>(size));
        }
        out.insert(out.end(), entry.bytes.begin(), entry.bytes.end());
    }
    out.insert(out.end(), archive.trailing.begin(), archive.trailing.end());
    if (archive.truncate_to && *archive.truncate_to < out.size()) {
        out.resize(*archive.truncate_to);
    }
    return out;
}

void write_file(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    if (!file) {
        throw std::runtime_error("cannot write " + path);
    }
}

std::vector<std::uint8_t> read_file(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw std::runtime_error("cannot read " + path);
    }
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

TestEntry delta_entry(std::uint16_t id, std::vector<std::uint8_t> bytes) {
    TestEntry entry;
    entry.id = id;
    entry.block_sizes = {static_cast<std::int16_t>(bytes.size())};
    entry.bytes = std::move(bytes);
    return entry;
}

} // namespace pev::test
