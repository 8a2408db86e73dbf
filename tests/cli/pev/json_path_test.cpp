#include "cli/pev/json_path.hpp"

#include <gtest/gtest.h>

namespace pev::cli::tool {
namespace {

TEST(JsonPath, KeepsUtf8AndEscapesEveryOtherByte) {
    const struct {
        std::string path;
        std::string json;
    } cases[] = {
        {"voices.pev", "\"voices.pev\""},
        {"a\"b\\c\n", "\"a\\\"b\\\\c\\u000a\""},
        {"声é.pev", "\"声é.pev\""},
        {"v\xff\xe9.pev", "\"v\\udcff\\udce9.pev\""},  // Latin-1, not UTF-8
        {"\xc0\xaf", "\"\\udcc0\\udcaf\""},            // an overlong "/"
        {"\xed\xa0\x80", "\"\\udced\\udca0\\udc80\""}, // a surrogate
        {"\xe5\xa3", "\"\\udce5\\udca3\""},            // cut short
    };
    for (const auto& c : cases) {
        EXPECT_EQ(json_path(c.path), c.json) << c.path;
    }
}

} // namespace
} // namespace pev::cli::tool
