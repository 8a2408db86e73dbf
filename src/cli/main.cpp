// Entry point of Pev2wav: takes the process's arguments as UTF-8 strings and
// runs the program with a console that shows them.

#include "cli/pev2wav_main.hpp"
#include "cli/program_arguments.hpp"
#include "cli/guarded_run.hpp"
#include "platform/process.hpp"

#include <string>
#include <vector>

int main(int argc, char** argv) {
    return pev::cli::run_guarded("Pev2wav", stderr, [&] {
        const pev::Utf8Console console;
        const std::vector<std::string> args = pev::cli::program_arguments(argc, argv);
        return pev::cli::run_pev2wav(args, stdout, stderr);
    });
}
