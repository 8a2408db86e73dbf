#pragma once
// The whole `pev` program as a function: parses the command line and runs
// the command it names.
//
//   pev list ARCHIVE... [--json]
//   pev extract ARCHIVE [-o DIR] [-c LIST] [--name TEMPLATE] [--force] [-q | -v]
//   pev cat ARCHIVE N
//   pev test ARCHIVE
//   pev pack OUT.pev INPUT... [--like ARCHIVE] [--force]
//   pev ARCHIVE...              (extract beside each archive)
//   pev help [COMMAND], pev --help, pev COMMAND --help, pev --version

#include <cstdio>
#include <span>
#include <string>

namespace pev::cli::tool {

// `args` holds the program name and the arguments, already split. Returns
// the exit status: 0 done, 1 a clip or file failed, 2 a wrong command line.
int run_pev(std::span<const std::string> args, std::FILE* out, std::FILE* err);

} // namespace pev::cli::tool
