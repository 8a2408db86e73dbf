#include "archive/archive_reader.hpp"
#include "archive/byte_source.hpp"
#include "support/archive_builder.hpp"

#include <functional>
#include <gtest/gtest.h>
#include <ostream>

namespace pev::test {
namespace {

struct HeaderCase {
    std::string name;
    std::function<void(std::vector<std::uint8_t>&)> edit; // applied to a good archive's bytes
    archive::OpenResult result;
    std::int32_t count = 1;
    std::int32_t rate = 22050; // nSamplesPerSec as stored
};

// Named by the case, so test names stay the same from build to build.
inline void PrintTo(const HeaderCase& c, std::ostream* os) {
    *os << c.name;
}

using enum archive::OpenResult;

std::vector<std::uint8_t> good_archive() {
    TestArchive archive;
    archive.entries = {delta_entry(1, {0x21})};
    return build_archive(archive);
}

void set_u32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

std::vector<HeaderCase> header_cases() {
    std::vector<HeaderCase> cases = {
        {"accepted", nullptr, ok},
        {"exactly_32_bytes", [](auto& b) { b.resize(32); }, table_cut_short},
        {"31_bytes", [](auto& b) { b.resize(31); }, header_cut_short},
        {"magic_alone", [](auto& b) { b.resize(6); }, header_cut_short},
        {"5_bytes", [](auto& b) { b.resize(5); }, not_an_archive},
        {"empty_file", [](auto& b) { b.clear(); }, not_an_archive},
        {"magic_in_lower_case", [](auto& b) { b[0] = 'p'; }, not_an_archive},
        {"count_9999", [](auto& b) { set_u32(b, 16, 9999); }, table_cut_short, 9999},
        {"count_10000", [](auto& b) { set_u32(b, 16, 10000); }, too_many_clips, 10000},
        {"count_0", [](auto& b) { set_u32(b, 16, 0); }, ok, 0},
        {"count_negative", [](auto& b) { set_u32(b, 16, 0xFFFFFFFE); }, negative_count, -2},
        {"count_bytes_little_endian", [](auto& b) { set_u32(b, 16, 0x00000102); }, table_cut_short,
         258},
        {"rate_0_kept_as_stored", [](auto& b) { set_u32(b, 24, 0); }, ok, 1, 0},
        {"rate_signed", [](auto& b) { set_u32(b, 24, 0x80000000); }, ok, 1, INT32_MIN},
        {"unread_bytes_ignored",
         [](auto& b) {
             for (std::size_t i : {6, 7, 15, 20, 23, 28, 31}) {
                 b[i] = 0xEE;
             }
         },
         ok},
    };
    for (std::size_t i = 0; i < 6; ++i) {
        cases.push_back({"magic_byte_" + std::to_string(i) + "_wrong",
                         [i](auto& b) { b[i] ^= 0x01; }, not_an_archive});
    }
    return cases;
}

class HeaderReader : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(HeaderReader, AcceptsOrRefuses) {
    const HeaderCase& c = GetParam();
    std::vector<std::uint8_t> bytes = good_archive();
    if (c.edit) {
        c.edit(bytes);
    }
    const archive::MemorySource source(bytes);
    const archive::ArchiveReader reader(source);
    EXPECT_EQ(reader.open_result(), c.result);
    if (c.result != not_an_archive && c.result != header_cut_short) {
        EXPECT_EQ(reader.header().wave_file_count, c.count);
        EXPECT_EQ(reader.header().samples_per_sec, c.rate);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, HeaderReader, ::testing::ValuesIn(header_cases()),
                         [](const auto& info) { return info.param.name; });

} // namespace
} // namespace pev::test
