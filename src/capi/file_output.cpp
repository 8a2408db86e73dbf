#include "capi/file_output.hpp"

#include "pack/archive_file.hpp"
#include "platform/utf8_path.hpp"

#include <filesystem>

namespace pev::capi {

pev_status save_file(const std::string& path, bool replace,
                     const std::function<std::string(archive::ByteSink&)>& write) {
    if (pack::save_archive(path, replace, write).ok()) {
        return PEV_OK;
    }
    // The engine refuses an existing file before writing and again before
    // the rename; either way the file is there now.
    std::error_code ignored;
    const bool taken = std::filesystem::exists(path_from_utf8(path), ignored);
    return !replace && taken ? PEV_ERR_FILE_EXISTS : PEV_ERR_CANNOT_WRITE;
}

} // namespace pev::capi
