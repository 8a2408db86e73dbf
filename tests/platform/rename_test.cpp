#include "platform/rename.hpp"
#include "support/archive_builder.hpp"
#include "support/temp_dir.hpp"

#include <filesystem>
#include <gtest/gtest.h>

namespace pev::test {
namespace {

TEST(RenameWithoutReplacing, MovesIntoAFreeNameAndNeverOverAFile) {
    const TempDir dir;
    const std::string from = dir.file("from.tmp");
    const std::string taken = dir.file("taken.wav");
    write_file(from, {1, 2, 3});
    write_file(taken, {9});

    EXPECT_EQ(rename_without_replacing(from, taken), std::errc::file_exists);
    EXPECT_EQ(read_file(taken), std::vector<std::uint8_t>{9});
    EXPECT_EQ(read_file(from), (std::vector<std::uint8_t>{1, 2, 3}));

    const std::string free = dir.file("free.wav");
    EXPECT_FALSE(rename_without_replacing(from, free));
    EXPECT_EQ(read_file(free), (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_FALSE(std::filesystem::exists(from));
}

} // namespace
} // namespace pev::test
