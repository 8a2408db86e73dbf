#pragma once
// Moving a finished file into place under its final name.

#include <string>
#include <system_error>

namespace pev {

// Renames `from` to `to` unless `to` exists, in one step where the host's
// file system allows, so a file made meanwhile by another program is never
// replaced. Fails with std::errc::file_exists when `to` exists.
std::error_code rename_without_replacing(const std::string& from, const std::string& to);

} // namespace pev
