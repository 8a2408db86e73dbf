// Entry point of pev: takes the process's arguments as UTF-8 strings and
// runs the program with a console that shows them.

#include "cli/pev/pev_main.hpp"
#include "cli/program_arguments.hpp"
#include "cli/guarded_run.hpp"
#include "platform/process.hpp"

#include <string>
#include <vector>

int main(int argc, char** argv) {
    return pev::cli::run_guarded("pev", stderr, [&] {
        const pev::Utf8Console console;
        const std::vector<std::string> args = pev::cli::program_arguments(argc, argv);
        return pev::cli::tool::run_pev(args, stdout, stderr);
    });
}
