#pragma once
// The whole `pev` program as a function: parses the command line and runs
// the command it names.
//
//   pev list ARCHIVE... [--json] [-c LIST | --id IDS]
//   pev extract ARCHIVE... [-o DIR] [-c LIST | --id IDS] [--name TEMPLATE]
//               [--force | -n] [--dry-run] [-q | -v]
//   pev cat ARCHIVE N
//   pev test ARCHIVE... [-c LIST | --id IDS]
//   pev pack OUT.pev INPUT... [--like ARCHIVE] [--force] [-q | -v]
//   pev ARCHIVE... [-o DIR] [--force | -n] [-q | -v]   (extract beside each)
//   ARCHIVE "-" is standard input.
//   pev help [COMMAND], pev --help, pev COMMAND --help, pev --version

#include <cstdio>
#include <span>
#include <string>

namespace pev::cli::tool {

// `args` holds the program name and the arguments, already split. Returns
// the exit status: 0 done, 1 a clip or file failed, 2 a wrong command line.
int run_pev(std::span<const std::string> args, std::FILE* out, std::FILE* err);

} // namespace pev::cli::tool
