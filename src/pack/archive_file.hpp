#pragma once
// An archive file written safely: into a temporary file beside its final
// name (so the rename stays within one file system), put in place only when
// complete, and removed on every other path, an exception included. An
// existing archive is never replaced unless forced; that is checked before
// anything is written and again at the last moment.

#include "archive/byte_sink.hpp"
#include "common/error.hpp"

#include <cstdio>
#include <functional>
#include <optional>
#include <string>

namespace pev::pack {

class ArchiveFile {
  public:
    ArchiveFile(std::string path, bool force);
    ~ArchiveFile();
    ArchiveFile(const ArchiveFile&) = delete;
    ArchiveFile& operator=(const ArchiveFile&) = delete;

    // Whether the archive may be written: it does not exist, or is forced.
    Error check_target() const;

    // Creates the temporary file.
    Error create();

    // Where the archive's bytes go, from create() until commit().
    archive::ByteSink& sink() { return *sink_; }

    // The temporary file's name, which write errors concern.
    const std::string& temp_name() const { return temp_name_; }

    // Closes the temporary file and renames it to the archive's name.
    Error commit();

  private:
    void discard();

    std::string path_;
    bool force_;
    std::string temp_name_;
    std::FILE* file_ = nullptr;
    std::optional<archive::FileSink> sink_;
    bool committed_ = false;
};

// Writes a whole archive to `path` through an ArchiveFile: `write` fills the
// sink. Every error names `path`.
Error save_archive(const std::string& path, bool force,
                   const std::function<Error(archive::ByteSink&)>& write);

} // namespace pev::pack
