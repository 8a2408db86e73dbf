#pragma once
// How the `pev` tool words the core's verdicts and errors: one table, so
// every command says the same thing the same way.

#include "archive/archive_header.hpp"
#include "common/error.hpp"

#include <string>

namespace pev::cli::tool {

// "its block-size table runs past the end of the file"; "ok" for none.
const char* clip_problem_text(ClipProblem problem);

// Why an archive the reader refused cannot be read, after "NAME: ".
std::string archive_refusal_text(OpenResult result, const archive::ArchiveHeader& header);

// "NAME: REASON" for an error about a file the tool reads or writes.
std::string file_error_text(const Error& error);

// "FILE: REASON" for a file that cannot take a clip's place, or for the
// archive being rewritten with it: as `pev replace` and a mounted archive
// say it.
std::string replacement_refusal_text(const Error& error);

} // namespace pev::cli::tool
