// A program midway through writing a file under a temporary name, for the
// interruption tests: `output_file_child FOLDER default|ignore|handler`.
// Sets SIGINT, SIGTERM and SIGHUP as asked, starts the file, writes "r" and
// waits for its standard input to close; then exits 0 if the temporary file
// still stands. With its own handler, it writes "h" and exits 7.
// `output_file_child FOLDER commit|commit-unnamed|commit-synced` writes the
// file (named, unnamed, or named and synced as archives are) and puts it in
// place: 0 when done, 3 when the writing failed and 5 when the commit did.

#include "platform/output_file.hpp"
#include "platform/refused_calls.hpp"

#include <csignal>
#include <cstring>
#include <filesystem>
#include <unistd.h>
#include <vector>

namespace {

void own_handler(int) {
    const char mark = 'h';
    [[maybe_unused]] const auto written = write(STDOUT_FILENO, &mark, 1);
    _exit(7);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        return 2;
    }
    const std::string folder = argv[1];
    const std::string disposition = argv[2];
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        if (disposition == "ignore") {
            std::signal(signal, SIG_IGN);
        } else if (disposition == "handler") {
            std::signal(signal, own_handler);
        }
    }
    const pev::OutputFileSystemCalls calls = pev::test::named_file_calls();
    pev::OutputFile file(folder + "/out.pev",
                         {.sync = disposition == "commit-synced",
                          .system_calls = disposition == "commit-unnamed" ? nullptr : &calls});
    const std::vector<std::uint8_t> bytes(100000, 0x5a);
    if (file.create() || file.append(bytes) || file.flush()) {
        return 3;
    }
    if (disposition.starts_with("commit")) {
        return file.commit() ? 5 : 0;
    }
    if (write(STDOUT_FILENO, "r", 1) != 1) {
        return 4;
    }
    char ignored;
    while (read(STDIN_FILENO, &ignored, 1) > 0) {
    }
    const auto count = std::distance(std::filesystem::directory_iterator(folder),
                                     std::filesystem::directory_iterator());
    return count == 1 ? 0 : 1;
}
