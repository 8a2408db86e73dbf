#include "archive/archive_header.hpp"
#include "support/archive_builder.hpp"
#include "support/captured_stream.hpp"

#include <functional>
#include <gtest/gtest.h>

namespace pev::test {
namespace {

struct HeaderCase {
    std::string name;
    std::function<void(std::vector<std::uint8_t>&)> edit; // applied to a good archive's bytes
    int result;
    std::string line; // what the reader prints
};

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
        {"accepted", nullptr, 0, "Found 1 wave files. (nSamplesPerSec: 22050)\n"},
        {"exactly_32_bytes", [](auto& b) { b.resize(32); }, 0,
         "Found 1 wave files. (nSamplesPerSec: 22050)\n"},
        {"31_bytes", [](auto& b) { b.resize(31); }, -1, ""},
        {"empty_file", [](auto& b) { b.clear(); }, -1, ""},
        {"magic_in_lower_case", [](auto& b) { b[0] = 'p'; }, -1, ""},
        {"count_9999", [](auto& b) { set_u32(b, 16, 9999); }, 0,
         "Found 9999 wave files. (nSamplesPerSec: 22050)\n"},
        {"count_10000", [](auto& b) { set_u32(b, 16, 10000); }, -1,
         "Found 10000 wave files. (nSamplesPerSec: 22050)\n"},
        {"count_0", [](auto& b) { set_u32(b, 16, 0); }, 0,
         "Found 0 wave files. (nSamplesPerSec: 22050)\n"},
        {"count_negative_passes", [](auto& b) { set_u32(b, 16, 0xFFFFFFFE); }, 0,
         "Found -2 wave files. (nSamplesPerSec: 22050)\n"},
        {"count_bytes_little_endian", [](auto& b) { set_u32(b, 16, 0x00000102); }, 0,
         "Found 258 wave files. (nSamplesPerSec: 22050)\n"},
        {"rate_0_printed_as_stored", [](auto& b) { set_u32(b, 24, 0); }, 0,
         "Found 1 wave files. (nSamplesPerSec: 0)\n"},
        {"rate_printed_signed", [](auto& b) { set_u32(b, 24, 0x80000000); }, 0,
         "Found 1 wave files. (nSamplesPerSec: -2147483648)\n"},
        {"unread_bytes_ignored",
         [](auto& b) {
             for (std::size_t i : {6, 7, 15, 20, 23, 28, 31}) {
                 b[i] = 0xEE;
             }
         },
         0, "Found 1 wave files. (nSamplesPerSec: 22050)\n"},
    };
    for (std::size_t i = 0; i < 6; ++i) {
        cases.push_back(
            {"magic_byte_" + std::to_string(i) + "_wrong", [i](auto& b) { b[i] ^= 0x01; }, -1, ""});
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
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fseek(file, 5, SEEK_SET); // the reader rewinds itself

    CapturedStream out;
    archive::ArchiveHeader header;
    EXPECT_EQ(archive::read_archive_header(file, header, out.get()), c.result);
    EXPECT_EQ(out.text(), c.line);
    if (c.result == 0) {
        EXPECT_EQ(std::ftell(file), 32) << "the entry table starts right after";
    }
    std::fclose(file);
}

INSTANTIATE_TEST_SUITE_P(Cases, HeaderReader, ::testing::ValuesIn(header_cases()),
                         [](const auto& info) { return info.param.name; });

TEST(HeaderReaderAbsentFile, IsRefused) {
    CapturedStream out;
    archive::ArchiveHeader header;
    EXPECT_EQ(archive::read_archive_header(nullptr, header, out.get()), -1);
    EXPECT_EQ(out.text(), "");
}

} // namespace
} // namespace pev::test
