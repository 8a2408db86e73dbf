#include "pack/like_archive.hpp"

#include "archive/archive_reader.hpp"
#include "archive/byte_source.hpp"
#include "platform/files.hpp"

#include <cerrno>
#include <memory>
#include <system_error>

namespace pev::pack {
namespace {

// Why the reader refused the archive, in the packer's words.
std::string refusal(const archive::ArchiveReader& reader) {
    const std::string count = std::to_string(reader.header().wave_file_count);
    switch (reader.open_result()) {
    case archive::OpenResult::ok:
        break;
    case archive::OpenResult::header_cut_short:
    case archive::OpenResult::not_an_archive:
        return reader.archive_size() < archive::kHeaderSize
                   ? "it is too short to be a voice archive"
                   : "it is not a voice archive (no PEVPAC magic)";
    case archive::OpenResult::too_many_clips:
    case archive::OpenResult::negative_count:
        return "its clip count " + count + " is out of range";
    case archive::OpenResult::table_cut_short:
        return "its entry table is cut short";
    }
    return "";
}

} // namespace

LikeRead read_like_archive(const std::string& path) {
    LikeRead result;
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(open_for_reading(path),
                                                               &std::fclose);
    if (file == nullptr) {
        result.error = {path, "cannot open it: " + std::generic_category().message(errno)};
        return result;
    }
    // Read by the same reader as any archive, so it is refused alike.
    const archive::FileSource source(file.get());
    const archive::ArchiveReader reader(source);
    if (const std::string why = refusal(reader); !why.empty()) {
        result.error = {path, why};
        return result;
    }
    result.kept = archive::template_of(reader);
    return result;
}

} // namespace pev::pack
