#pragma once
// End-to-end golden cases: a built program runs as a process in a scratch
// folder prepared for the case, and what it printed on each stream, its exit
// status and every file it left behind (names, sizes, checksums) are compared
// with the files in <golden root>/<case>/.
//
// PEV_TEST_RUNNER    a command prefix such as an emulator
// PEV_TEST_CRLF=1    accept "\r\n" line ends in the captured streams
// PEV_UPDATE_GOLDEN=1  rewrite the golden files from this run

#include "support/archive_builder.hpp"
#include "support/temp_dir.hpp"

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace pev::test {

struct GoldenCase {
    std::string name;
    std::vector<std::string> args;
    std::function<void(const TempDir&)> setup;
    unsigned long memory_limit_kb = 0; // caps the process's address space
    // Standard output is binary (a WAV file): it is pinned by its size and
    // checksum, and kept as written whatever the host's line ends.
    bool binary_stdout = false;
};

// Writes `archive` as `name` in the case's folder.
void put(const TempDir& dir, const std::string& name, const TestArchive& archive);

// Runs `program` on the case and compares the outcome with
// `golden_root`/<case name>/ (or rewrites it, under PEV_UPDATE_GOLDEN=1).
void run_golden_case(const GoldenCase& golden, const std::string& program,
                     const std::filesystem::path& golden_root);

} // namespace pev::test
