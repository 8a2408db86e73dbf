#pragma once
// The archive a `pev` command names: found, opened and its entry table read,
// with the names its WAV files are derived from.

#include "archive/archive_reader.hpp"
#include "archive/byte_source.hpp"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace pev::cli::tool {

// The file an ARCHIVE argument means: the name as given when such a file
// exists, else the name with ".pev" added (so "voices" finds voices.pev and
// "voices.pev" finds itself).
std::string resolve_archive_path(const std::string& name);

// True when `name` ends in ".pev", in any letter case.
bool has_pev_extension(const std::string& name);

// "voices" for ".../voices.pev" (the extension in any letter case); the file
// name itself when it has another extension.
std::string base_name_of(const std::string& path);

// The folder part of `path`, "" when it has none (the current folder).
std::string folder_of(const std::string& path);

// `folder` + "/" + `name`, or `name` alone when `folder` is "".
std::string join_path(const std::string& folder, const std::string& name);

// "clip 0002 (id 11)": how messages name a clip, by the position its file is
// numbered with and the id the archive gives it.
std::string clip_label(std::size_t index, std::uint16_t id);

// The ARCHIVE that means standard input.
inline constexpr const char* kStandardInput = "-";

class NamedArchive {
  public:
    // Finds and opens the archive `name` names ("-": standard input, read
    // into memory, or into a temporary file when it is long) and reads its
    // entry table.
    // When it cannot be opened or is not an archive whose clips can be read,
    // says why on `err` ("pev: ...") and returns nullptr.
    static std::unique_ptr<NamedArchive> open(const std::string& name, std::FILE* err);

    NamedArchive(const NamedArchive&) = delete;
    NamedArchive& operator=(const NamedArchive&) = delete;

    const archive::ArchiveReader& reader() const { return reader_; }
    const std::string& path() const { return path_; }
    const std::string& base_name() const { return base_name_; }
    const std::string& folder() const { return folder_; }
    // The open archive file; null when the archive was read into memory.
    std::FILE* file() const { return file_.get(); }

  private:
    // Reads from `file` when it is not null, else from `bytes`.
    NamedArchive(std::string path, std::FILE* file, std::vector<std::uint8_t> bytes = {});

    // `archive`, or nullptr after saying on `err` why it is refused.
    static std::unique_ptr<NamedArchive> checked(std::unique_ptr<NamedArchive> archive,
                                                 std::FILE* err);

    std::string path_;
    std::string base_name_;
    std::string folder_;
    struct Closer {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::unique_ptr<std::FILE, Closer> file_;
    std::vector<std::uint8_t> bytes_;
    std::unique_ptr<archive::ByteSource> source_;
    archive::ArchiveReader reader_;
};

} // namespace pev::cli::tool
