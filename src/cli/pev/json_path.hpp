#pragma once
// File names in JSON documents, as the system gave them even when they are
// not UTF-8.

#include <string>
#include <string_view>

namespace pev::cli::tool {

// `path` as a quoted JSON string: valid UTF-8 as it is, and each byte that
// is not part of it as the lone surrogate U+DC80-U+DCFF ("surrogateescape"),
// so that Python's os.fsencode() of the decoded string gives the bytes back.
std::string json_path(std::string_view path);

} // namespace pev::cli::tool
