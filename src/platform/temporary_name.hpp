#pragma once
// The short temporary names files stand under beside their final name until
// they are complete.

#include <string>

namespace pev {

// A name in the folder of `path` (UTF-8), of a fixed short length, so that a
// final name as long as the folder allows still has room for one. Its 64
// random bits, drawn for this process alone, make it a name no other file
// will bear, so it may be entered for removal on interruption before the
// file exists (see interrupt_cleanup.hpp) instead of blocking signals around
// the file's creation.
std::string temporary_name(const std::string& path);

// `path` up to and including its last separator; "" for the current folder.
std::string folder_prefix(const std::string& path);

} // namespace pev
