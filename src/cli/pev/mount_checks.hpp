#pragma once
// What `pev mount` checks before it mounts anything, so that what cannot
// work is refused at once, in words that say what to do, instead of
// failing later where nobody reads the answer. Each returns "" when all is
// well.

#include "archive/archive_reader.hpp"

#include <string>

namespace pev::cli::tool {

// Why `folder` cannot be mounted on (missing, no folder, not empty, a mount
// whose program has ended).
std::string folder_problem(const std::string& folder);

// Why this process cannot mount at all (no /dev/fuse, no permission, no
// fusermount3 for users other than root).
std::string fuse_problem();

// Why the text of --name cannot name a mounted clip: a mounted clip is a
// WAV file, so an extension that names another format (which `pev extract`
// would write) is refused.
std::string mounted_name_problem(const std::string& name_template);

// Why a --write mount could never rewrite the archive at `path` (absolute;
// `given` is how the user named it): a clip that cannot be copied as
// stored, or an archive that cannot be replaced (a read-only file system,
// an immutable or append-only file or folder, a folder it may not write in
// or whose sticky bit keeps another user's file).
std::string rewrite_problem(const archive::ArchiveReader& reader, const std::string& path,
                            const std::string& given);

} // namespace pev::cli::tool
