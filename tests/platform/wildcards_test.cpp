// Wildcards as a Windows program expands them itself.

#include "platform/wildcards.hpp"
#include "support/temp_dir.hpp"

#include <fstream>
#include <gtest/gtest.h>

namespace pev::test {
namespace {

TEST(Wildcards, FitAsWindowsNamesDo) {
    struct Case {
        const char* pattern;
        const char* name;
        bool fits;
    };
    for (const Case& c :
         {Case{"*.pev", "voices.pev", true}, Case{"*.pev", "VOICES.PEV", true},
          Case{"*.pev", "voices.pev.bak", false}, Case{"*", "", true},
          Case{"clip?.pev", "clip1.pev", true}, Case{"clip?.pev", "clip.pev", false},
          Case{"a*b*c", "aXbYbZc", true}, Case{"a*b*c", "aXbYc!", false}, Case{"**x", "x", true},
          Case{"?", "", false}}) {
        EXPECT_EQ(fits_wildcard(c.pattern, c.name), c.fits) << c.pattern << " / " << c.name;
    }
}

TEST(Wildcards, ExpandInTheOrderPeopleSortNames) {
    TempDir dir;
    for (const char* name : {"b10.pev", "b9.pev", "A.PEV", ".hidden.pev", "notes.txt"}) {
        std::ofstream(dir.path() / name) << "x";
    }
    const std::string folder = dir.path().generic_string() + "/";
    const std::vector<std::string> expanded =
        expand_wildcards({folder + "*.pev", folder + "*.none", "plain", folder + ".*.pev"});
    EXPECT_EQ(expanded,
              (std::vector<std::string>{folder + "A.PEV", folder + "b9.pev", folder + "b10.pev",
                                        folder + "*.none", "plain", folder + ".hidden.pev"}));
}

} // namespace
} // namespace pev::test
