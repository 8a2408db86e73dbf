// Entry point of Pev2wav: turns the process's arguments into strings and runs
// the program.

#include "cli/pev2wav_main.hpp"

#include <string>
#include <vector>

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv, argv + argc);
    return pev::cli::run_pev2wav(args, stdout, stderr);
}
