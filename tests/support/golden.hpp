#pragma once
// The end-to-end golden check the programs' suites share: what a run
// printed on each stream, its exit status and every file it left behind are
// compared with the files of the case's golden folder.
//
// A case's `files` lists "path size checksum" for every output file. A copy
// of each expected output (up to 64 KiB) is kept once, named by its
// checksum, in the golden root's output_bytes/ folder, so a differing file
// is shown where it differs: the first differing byte and, in a WAV file,
// the header field or the sample it lies in.
//
// PEV_TEST_CRLF=1      accept "\r\n" line ends in the captured streams
// PEV_UPDATE_GOLDEN=1  rewrite the golden files (and add copies) from this run

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace pev::test {

// The regular files under `root`, relative to it, with '/' between folders.
std::vector<std::string> list_regular_files(const std::filesystem::path& root);

// `text` with "\r\n" turned into "\n" when PEV_TEST_CRLF=1.
std::string without_carriage_returns(std::string text);

// Compares `actual` with the golden file `stream` of the case in `case_dir`.
void check_golden(const std::filesystem::path& case_dir, const std::string& stream,
                  const std::string& actual);

// Compares the files under `root` but `inputs` with the case's `files`, and
// says where each differing file differs from its stored copy.
void check_golden_outputs(const std::filesystem::path& case_dir, const std::filesystem::path& root,
                          const std::vector<std::string>& inputs);

// Where `actual` first differs from `expected`, in words; a ".wav" name
// gets the header field or the sample index.
std::string describe_difference(const std::string& name, const std::vector<std::uint8_t>& expected,
                                const std::vector<std::uint8_t>& actual);

} // namespace pev::test
