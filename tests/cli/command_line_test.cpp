#include "cli/command_line.hpp"

#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace {

using Arguments = std::vector<std::string>;

struct SplitCase {
    const char* name;
    std::string_view line;
    Arguments expected;
};

// PrintTo keeps failure messages readable for lines holding tabs and quotes.
void PrintTo(const SplitCase& c, std::ostream* os) {
    *os << c.name;
}

class SplitCommandLine : public testing::TestWithParam<SplitCase> {};

TEST_P(SplitCommandLine, GivesTheExpectedArguments) {
    const SplitCase& c = GetParam();
    EXPECT_EQ(pev::cli::split_command_line(c.line), c.expected) << "line: [" << c.line << "]";
}

const SplitCase separator_cases[] = {
    {"EmptyLine", "", {}},
    {"OnlyBlanksAndTabs", " \t  \t", {}},
    {"OneWord", "Pev2wav", {"Pev2wav"}},
    {"TwoWords", "Pev2wav voice", {"Pev2wav", "voice"}},
    {"LeadingAndTrailingBlanks", "  Pev2wav voice \t ", {"Pev2wav", "voice"}},
    {"RunOfBlanksAndTabs", "Pev2wav \t \t voice\tmore", {"Pev2wav", "voice", "more"}},
    {"ExtraArgumentsKept", "p a b c", {"p", "a", "b", "c"}},
    // Only blanks and tabs separate; other control characters are data.
    {"NewlineIsOrdinary", "p a\nb", {"p", "a\nb"}},
    {"CarriageReturnIsOrdinary", "p a\r", {"p", "a\r"}},
};
INSTANTIATE_TEST_SUITE_P(Separators, SplitCommandLine, testing::ValuesIn(separator_cases),
                         [](const auto& info) { return std::string(info.param.name); });

const SplitCase quote_cases[] = {
    {"QuotedRunHoldsBlanks", "p \"my voice\"", {"p", "my voice"}},
    {"QuotedRunHoldsTabs", "p \"a\tb\"", {"p", "a\tb"}},
    {"QuotesInsideAWord", "p ab\"c d\"ef", {"p", "abc def"}},
    {"QuotedThenPlain", "p \"a\"b", {"p", "ab"}},
    {"TwoQuotedRunsJoin", "p \"a b\"\"c d\"", {"p", "a bc d"}},
    {"EmptyQuotesAreAnEmptyArgument", "p \"\" x", {"p", "", "x"}},
    {"EmptyQuotesAtTheEnd", "p \"\"", {"p", ""}},
    {"UnclosedQuoteRunsToTheEnd", "p \"a b  ", {"p", "a b  "}},
    {"QuotedProgramPath",
     "\"C:\\Program Files\\Pev2wav.exe\" voice",
     {"C:\\Program Files\\Pev2wav.exe", "voice"}},
};
INSTANTIATE_TEST_SUITE_P(Quotes, SplitCommandLine, testing::ValuesIn(quote_cases),
                         [](const auto& info) { return std::string(info.param.name); });

const SplitCase backslash_cases[] = {
    {"EscapedQuoteIsLiteral", "p a\\\"b", {"p", "a\"b"}},
    {"EscapedQuoteAlone", "p \\\"", {"p", "\""}},
    {"EscapedQuoteDoesNotCloseARun", "p \"a \\\" b\" c", {"p", "a \" b", "c"}},
    {"EscapedQuoteDoesNotOpenARun", "p \\\"a b", {"p", "\"a", "b"}},
    {"PathBackslashesAreOrdinary", "p C:\\dir\\voice", {"p", "C:\\dir\\voice"}},
    {"TrailingBackslashIsOrdinary", "p dir\\", {"p", "dir\\"}},
    // Backslashes are not escapes of each other: of two before a quote, the
    // first is kept and the second makes the quote literal.
    {"DoubleBackslashBeforeQuote", "p a\\\\\"b c\"", {"p", "a\\\"b", "c"}},
    {"EscapedQuoteAtEndOfUnclosedRun", "p \"a b\\\"", {"p", "a b\""}},
};
INSTANTIATE_TEST_SUITE_P(Backslashes, SplitCommandLine, testing::ValuesIn(backslash_cases),
                         [](const auto& info) { return std::string(info.param.name); });

const SplitCase text_cases[] = {
    {"WildcardsKeptAsTyped", "p *.pev v?ice", {"p", "*.pev", "v?ice"}},
    {"Utf8NameUnchanged",
     "p \xE5\xA3\xB0\xE3\x81\xAE_\xC3\xBC",
     {"p", "\xE5\xA3\xB0\xE3\x81\xAE_\xC3\xBC"}},
    {"QuotedUtf8NameWithBlank", "p \"\xE5\xA3\xB0 \xC3\xBC\"", {"p", "\xE5\xA3\xB0 \xC3\xBC"}},
};
INSTANTIATE_TEST_SUITE_P(Text, SplitCommandLine, testing::ValuesIn(text_cases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
