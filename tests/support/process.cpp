#include "support/process.hpp"

#include "support/archive_builder.hpp"
#include "support/temp_dir.hpp"

#include <cstdlib>
#include <stdexcept>
#include <sys/wait.h>

namespace pev::test {
namespace {

std::string shell_quote(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

std::string read_text(const std::string& path) {
    const auto bytes = read_file(path);
    return {bytes.begin(), bytes.end()};
}

} // namespace

bool runs_through_emulator() {
    const char* runner = std::getenv("PEV_TEST_RUNNER");
    return runner != nullptr && *runner != '\0';
}

bool strace_available() {
    return std::system("strace -V >/dev/null 2>&1") == 0;
}

ProcessResult run_process(const std::string& program, const std::vector<std::string>& args,
                          const std::string& directory, unsigned long memory_limit_kb,
                          unsigned long file_size_limit_kb, const std::string& input) {
    TempDir captures;
    const char* runner = std::getenv("PEV_TEST_RUNNER");
    std::string command = "cd ";
    command += shell_quote(directory);
    command += " && ";
    if (memory_limit_kb != 0) {
        command += "ulimit -v ";
        command += std::to_string(memory_limit_kb);
        command += " && ";
    }
    if (file_size_limit_kb != 0) {
        // The POSIX shell counts the limit in blocks of 512 bytes.
        command += "trap '' XFSZ && ulimit -f ";
        command += std::to_string(2 * file_size_limit_kb);
        command += " && ";
    }
    if (runner != nullptr && *runner != '\0') {
        command += runner;
        command += ' ';
    }
    command += shell_quote(program);
    for (const std::string& arg : args) {
        command += ' ';
        command += shell_quote(arg);
    }
    // Appended piece by piece: g++ 12 warns falsely on "literal" + string&&.
    command += " <";
    command += shell_quote(input);
    command += " >";
    command += shell_quote(captures.file("out"));
    command += " 2>";
    command += shell_quote(captures.file("err"));
    const int raw = std::system(command.c_str());
    if (raw == -1 || !WIFEXITED(raw)) {
        throw std::runtime_error("could not run: " + command);
    }
    return {read_text(captures.file("out")), read_text(captures.file("err")), WEXITSTATUS(raw)};
}

} // namespace pev::test
