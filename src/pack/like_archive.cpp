#include "pack/like_archive.hpp"

#include "archive/archive_reader.hpp"
#include "archive/byte_source.hpp"
#include "platform/files.hpp"

#include <cerrno>
#include <memory>

namespace pev::pack {

LikeRead read_like_archive(const std::string& path) {
    LikeRead result;
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(open_for_reading(path),
                                                               &std::fclose);
    if (file == nullptr) {
        result.error = os_error(ErrorCode::cannot_open, path, errno);
        return result;
    }
    // Read by the same reader as any archive, so it is refused alike.
    const archive::FileSource source(file.get());
    const archive::ArchiveReader reader(source);
    if (reader.open_result() != archive::OpenResult::ok) {
        result.error = error_about(ErrorCode::archive_refused, path);
        result.error.refusal = reader.open_result();
        result.error.value = reader.archive_size();
        // The count as stored, negative ones included.
        result.error.limit =
            static_cast<std::uint64_t>(std::int64_t{reader.header().wave_file_count});
        return result;
    }
    result.kept = archive::template_of(reader);
    return result;
}

} // namespace pev::pack
