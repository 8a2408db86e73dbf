#include "cli/pev/name_template.hpp"

#include <gtest/gtest.h>

namespace pev::cli::tool {
namespace {

TEST(NameTemplate, DefaultGivesPev2wavNames) {
    const NameTemplate names;
    EXPECT_EQ(names.expand("voices", 1, 500), "voices_0001.wav");
    EXPECT_EQ(names.expand("my clips", 9999, 0), "my clips_9999.wav");
    EXPECT_TRUE(names.numbers_clips());
}

TEST(NameTemplate, PlaceholdersExpandAnywhere) {
    const struct {
        const char* text;
        const char* expected;
        bool numbers_clips;
    } cases[] = {
        {"{n}", "0012", true},
        {"{id}.wav", "65535.wav", false},
        {"{base}{base}-{id}_{n}", "vv-65535_0012", true},
        {"plain.wav", "plain.wav", false},
        {"声_{n}.wav", "声_0012.wav", true},
    };
    for (const auto& c : cases) {
        NameTemplate names;
        ASSERT_EQ(names.parse(c.text), "") << c.text;
        EXPECT_EQ(names.expand("v", 12, 65535), c.expected);
        EXPECT_EQ(names.numbers_clips(), c.numbers_clips) << c.text;
    }
}

TEST(NameTemplate, RefusesWhatCannotBeAFileName) {
    for (const char* text : {"", "{", "}", "{n", "n}", "{}", "{N}", "{name}", "{n}}", "a/{n}",
                             "a\\{n}", ".", "..", "{n}\n.wav", "\t{n}", "{n}\x7F"}) {
        NameTemplate names;
        EXPECT_NE(names.parse(text), "") << text;
        // A refused template leaves the one in use as it was.
        EXPECT_EQ(names.expand("b", 1, 2), "b_0001.wav") << text;
    }
}

TEST(WindowsNames, RefusesWhatWindowsCannotName) {
    for (const char* name : {"a?.wav", "*", "a|b", "<a>", "c:x", "a\"b", "clip.", "clip ", "CON",
                             "con.wav", "Nul.txt", "COM1.wav", "lpt9", "aux"}) {
        EXPECT_NE(windows_name_problem(name), "") << name;
    }
    for (const char* name :
         {"a.wav", "console.wav", "com10.wav", "com0", "lpt.wav", ".wav", "x.con", "声_0001.wav"}) {
        EXPECT_EQ(windows_name_problem(name), "") << name;
    }
}

} // namespace
} // namespace pev::cli::tool
