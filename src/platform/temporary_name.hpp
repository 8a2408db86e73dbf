#pragma once
// The short temporary names files stand under beside their final name until
// they are complete.

#include <string>

namespace pev {

// A name in the folder of `path` (UTF-8), short and bounded in length, so
// that a final name as long as the folder allows still has room for one:
// ".pev-PID-RANDOM.tmp". Its 64 random bits, drawn for this process alone,
// make it a name no other file will bear, so it may be entered for removal
// on interruption before the file exists (see interrupt_cleanup.hpp) instead
// of blocking signals around the file's creation. The process id says whose
// it is once its process is gone.
std::string temporary_name(const std::string& path);

// Removes the temporary names in the folder of `path` whose process no longer
// runs. A file that replaces another takes a temporary name for the instant
// between linking it and renaming it over the old one (no system call
// replaces a name with an unnamed file); a process killed in that instant
// (SIGKILL, a crash, a power cut) leaves a complete file under it, which the
// next archive written in that folder clears away. Nothing on Windows, whose
// temporary names are removed when the console closes.
void remove_stale_temporary_names(const std::string& path);

// `path` up to and including its last separator; "" for the current folder.
std::string folder_prefix(const std::string& path);

} // namespace pev
