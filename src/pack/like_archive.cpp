#include "pack/like_archive.hpp"

#include "platform/files.hpp"

#include <cerrno>
#include <system_error>
#include <utility>

namespace pev::pack {

LikeRead read_like_archive(const std::string& path) {
    LikeRead result;
    std::FILE* file = open_for_reading(path);
    if (file == nullptr) {
        result.error = {path, "cannot open it: " + std::generic_category().message(errno)};
        return result;
    }
    archive::TemplateReadResult read = archive::read_archive_template(file);
    std::fclose(file);
    if (!read.ok()) {
        result.error = {path, std::move(read.error)};
        return result;
    }
    result.kept = std::move(read.kept);
    return result;
}

} // namespace pev::pack
