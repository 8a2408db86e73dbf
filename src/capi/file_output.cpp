#include "capi/file_output.hpp"

#include "platform/files.hpp"
#include "platform/utf8_path.hpp"

#include <cstdio>
#include <filesystem>
#include <random>

namespace pev::capi {
namespace {

bool file_exists(const std::filesystem::path& path) {
    std::error_code ignored;
    return std::filesystem::exists(path, ignored);
}

// Beside the final name, so the rename stays within one file system; the
// random part keeps two writers apart.
std::string temporary_name(const std::string& path) {
    std::random_device random;
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%08x.tmp", static_cast<unsigned>(random()));
    return path + suffix;
}

bool write_and_close(std::FILE* file, std::span<const std::uint8_t> bytes) {
    bool written =
        bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    // Flushed before closing: some C runtimes report a failed final flush
    // from fflush but not from fclose.
    written = std::fflush(file) == 0 && written;
    return std::fclose(file) == 0 && written;
}

} // namespace

pev_status write_file_atomically(const std::string& path, std::span<const std::uint8_t> bytes,
                                 bool replace) {
    const std::filesystem::path target = path_from_utf8(path);
    if (!replace && file_exists(target)) {
        return PEV_ERR_FILE_EXISTS;
    }
    const std::string temp_name = temporary_name(path);
    const std::filesystem::path temp = path_from_utf8(temp_name);
    std::FILE* file = open_for_writing(temp_name);
    if (file == nullptr) {
        return PEV_ERR_CANNOT_WRITE;
    }
    std::error_code error;
    if (!write_and_close(file, bytes)) {
        std::filesystem::remove(temp, error);
        return PEV_ERR_CANNOT_WRITE;
    }
    // Checked again at the last moment: another program may have made the
    // file meanwhile.
    if (!replace && file_exists(target)) {
        std::filesystem::remove(temp, error);
        return PEV_ERR_FILE_EXISTS;
    }
    std::filesystem::rename(temp, target, error);
    if (error) {
        std::filesystem::remove(temp, error);
        return PEV_ERR_CANNOT_WRITE;
    }
    return PEV_OK;
}

} // namespace pev::capi
