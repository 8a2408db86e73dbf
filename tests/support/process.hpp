#pragma once
// Runs a built program as a real process, the way a user or a script would,
// and captures what it printed on each stream and its exit status.

#include <string>
#include <vector>

namespace pev::test {

struct ProcessResult {
    std::string out;
    std::string err;
    int status = -1;
};

// Runs `program` with `args` in `directory`. PEV_TEST_RUNNER, when set, is a
// command prefix (an emulator such as qemu or wine) put before the program.
// A non-zero `memory_limit_kb` caps the process's address space; a non-zero
// `file_size_limit_kb` caps the size of every file it writes, a write past
// it failing with EFBIG (the signal that would end the process is ignored).
// Standard input is `input` (a path, relative to `directory`).
ProcessResult run_process(const std::string& program, const std::vector<std::string>& args,
                          const std::string& directory, unsigned long memory_limit_kb = 0,
                          unsigned long file_size_limit_kb = 0,
                          const std::string& input = "/dev/null");

// True when the tests run the program through an emulator.
bool runs_through_emulator();

// True when strace, which fails chosen system calls of a real run, is here.
bool strace_available();

} // namespace pev::test
