#include "cli/pev/clip_selection.hpp"

#include <gtest/gtest.h>

namespace pev::cli::tool {
namespace {

struct Case {
    const char* list;
    std::size_t clip_count;
    std::vector<std::size_t> indices; // empty: an error is expected
};

TEST(ClipSelection, ListsBecomeSortedIndicesOrErrors) {
    const Case cases[] = {
        {"1", 3, {0}},
        {"3,1", 3, {0, 2}},
        {" 2 - 3 , 1 ", 3, {0, 1, 2}},
        {"1-3,2,2-2", 3, {0, 1, 2}},
        {"9999", 9999, {9998}},
        {"", 3, {}},
        {"1,,2", 3, {}},
        {"1,", 3, {}},
        {"0", 3, {}},
        {"0-2", 3, {}},
        {"3-1", 3, {}},
        {"4", 3, {}},
        {"2-4", 3, {}},
        {"99999999999999999999999", 3, {}},
        {"1-2-3", 3, {}},
        {"-2", 3, {0, 1}},
        {"2-", 3, {1, 2}},
        {" 3 - ", 3, {2}},
        {"-", 3, {}},
        {"4-", 3, {}},
        {"1-", 0, {}},
        {"-0", 3, {}},
        {"x", 3, {}},
        {"+1", 3, {}},
        {"1", 0, {}},
    };
    for (const Case& c : cases) {
        const ClipSelection selection = select_clips(c.list, c.clip_count);
        EXPECT_EQ(selection.indices, c.indices) << '"' << c.list << '"';
        EXPECT_EQ(selection.ok(), !c.indices.empty()) << '"' << c.list << '"';
    }
}

TEST(ClipSelection, OutOfRangeNamesTheFirstMissingClip) {
    EXPECT_EQ(select_clips("2-7", 3).error, "there is no clip 4: the archive holds 3 clips");
    EXPECT_EQ(select_clips("9", 1).error, "there is no clip 9: the archive holds 1 clip");
    EXPECT_EQ(select_clips("2-0099999999999999999999", 3).error,
              "there is no clip 4: the archive holds 3 clips");
    EXPECT_EQ(select_clips("0099999999999999999999", 3).error,
              "there is no clip 99999999999999999999: the archive holds 3 clips");
}

} // namespace
} // namespace pev::cli::tool

namespace pev::cli::tool {
namespace {

TEST(IdSelection, PicksClipsByEntryIdInTableOrder) {
    const std::uint16_t ids[] = {500, 7, 65535, 7, 0};
    const struct {
        const char* list;
        std::vector<std::size_t> indices; // empty: refused
    } cases[] = {
        {"7", {1, 3}}, {"0, 65535", {2, 4}}, {"-7", {1, 3, 4}}, {"501-", {2}}, {"8-499", {}},
        {"3", {}},     {"9-1", {}},          {"x", {}},         {"-", {}},     {"7,,0", {}},
        {"", {}},
    };
    for (const auto& c : cases) {
        const ClipSelection selection = select_ids(c.list, ids);
        EXPECT_EQ(selection.indices, c.indices) << '"' << c.list << '"';
        EXPECT_EQ(selection.ok(), !c.indices.empty()) << '"' << c.list << '"';
    }
}

} // namespace
} // namespace pev::cli::tool
