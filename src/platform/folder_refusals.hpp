#pragma once
// What the host refused an OutputFile in a folder. A file system without
// unnamed files or without a no-replace rename answers alike for every file,
// so what the first file learns is kept for the run and the others go
// straight to the way that works instead of asking again. Only refusals are
// kept, and the ways taken instead keep every promise, so knowledge gone stale
// (the folder's name now on another file system) costs calls, never safety.

#include <string>

namespace pev {

enum class FolderRefusal : unsigned {
    unnamed_files = 1,     // open(O_TMPFILE), or linking through /proc
    rename_no_replace = 2, // renameat2(RENAME_NOREPLACE)
};

// Whether `refusal` was noted for `folder` (as the file's path names it)
// under the system calls `calls`: tests stand other calls in, and what those
// refused says nothing of the host's.
bool refused_in(const void* calls, const std::string& folder, FolderRefusal refusal);

// Remembers `refusal`; without memory for it, nothing is remembered.
void note_refused(const void* calls, const std::string& folder, FolderRefusal refusal) noexcept;

} // namespace pev
