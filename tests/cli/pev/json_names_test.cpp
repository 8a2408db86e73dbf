// Every JSON document pev prints must parse, whatever bytes the names of the
// archives hold, and give those bytes back: names that are not UTF-8 are
// normal on Linux (Latin-1 names of archives copied from old systems), and
// the JSON library throws on them. Python's json module is the independent
// reader; os.fsencode() turns its strings back into bytes.

#include "support/golden_runner.hpp"
#include "support/process.hpp"
#include "support/sample_archives.hpp"
#include "support/temp_dir.hpp"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>

namespace pev::test {
namespace {

// Each kind of byte sequence that is not UTF-8, and UTF-8 that JSON escapes.
const char* const kBaseNames[] = {
    "voix\xe9",        // Latin-1
    "a\x80z",          // a lone continuation byte
    "\xc0\xaf",        // an overlong "/"
    "\xed\xa0\x80",    // a surrogate
    "cut\xe5\xa3",     // a sequence cut short
    "\xf5\x80\x80\x80", // past U+10FFFF
    "\xff\xfe",        // bytes UTF-8 never holds
    "q\"b\x01\x1f",     // a quote, control characters
    "\xe5\xa3\xb0",    // valid UTF-8 beyond ASCII
};

// Reads the document on standard input and prints every name it holds, as
// bytes in hexadecimal: the archive's path and each clip's file.
constexpr const char* kReader =
    "import json, os, sys\n"
    "doc = json.load(sys.stdin)\n"
    "for d in (doc if isinstance(doc, list) else [doc]):\n"
    "    print(os.fsencode(d['archive']).hex(), *[os.fsencode(c['file']).hex() for c in "
    "d['clips']])\n";

std::string hex(const std::string& bytes) {
    std::string text;
    for (const unsigned char byte : bytes) {
        static constexpr char kDigits[] = "0123456789abcdef";
        text += kDigits[byte >> 4];
        text += kDigits[byte & 15];
    }
    return text;
}

std::string names_line(const std::string& base) {
    return hex(base + ".pev") + " " + hex(base + "_0001.wav") + " " + hex(base + "_0002.wav") +
           " " + hex(base + "_0003.wav") + "\n";
}

TEST(PevJson, EveryDocumentParsesAndGivesEveryNameBack) {
    if (runs_through_emulator() || std::system("python3 -c '' 2>/dev/null") != 0) {
        GTEST_SKIP() << "needs a native build and python3";
    }
    const TempDir dir;
    put(dir, "plain.pev", three_clip_archive());
    for (const std::string base : kBaseNames) {
        put(dir, base + ".pev", three_clip_archive());
        for (const std::string command : {"list --json", "test --json"}) {
            for (const bool several : {false, true}) {
                const std::string archives =
                    "'" + base + ".pev'" + (several ? " plain.pev" : "");
                const std::string shell = "cd '" + dir.path().string() + "' && " PEV_BINARY_DIR
                                          "/pev " + command + " " + archives +
                                          " | python3 -c \"$PEV_JSON_READER\" >names.txt";
                setenv("PEV_JSON_READER", kReader, 1);
                const int status = std::system(shell.c_str());
                ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
                    << command << " " << hex(base);
                const std::vector<std::uint8_t> got = read_file(dir.file("names.txt"));
                EXPECT_EQ(std::string(got.begin(), got.end()),
                          names_line(base) + (several ? names_line("plain") : ""))
                    << command << " " << hex(base);
            }
        }
    }
}

} // namespace
} // namespace pev::test
