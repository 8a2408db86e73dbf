#include "pack/archive_file.hpp"

#include "common/temporary_name.hpp"
#include "platform/files.hpp"
#include "platform/utf8_path.hpp"

#include <cerrno>
#include <filesystem>
#include <system_error>
#include <utility>

namespace pev::pack {
namespace {

bool exists(const std::string& name) {
    std::error_code ignored;
    return std::filesystem::exists(path_from_utf8(name), ignored);
}

std::string temporary_name(const std::string& archive) {
    return archive + temporary_suffix();
}

Error already_exists(const std::string& path) {
    return error_about(ErrorCode::file_exists, path);
}

} // namespace

ArchiveFile::ArchiveFile(std::string path, bool force) : path_(std::move(path)), force_(force) {}

ArchiveFile::~ArchiveFile() {
    if (!committed_ && !temp_name_.empty()) {
        discard();
    }
}

Error ArchiveFile::check_target() const {
    if (!force_ && exists(path_)) {
        return already_exists(path_);
    }
    return {};
}

Error ArchiveFile::create() {
    const std::string name = temporary_name(path_);
    file_ = open_for_writing(name);
    if (file_ == nullptr) {
        return os_error(ErrorCode::cannot_create, path_, errno);
    }
    // Only a file this object created is ever removed.
    temp_name_ = name;
    sink_.emplace(file_);
    return {};
}

Error ArchiveFile::commit() {
    if (file_ == nullptr) {
        return error_about(ErrorCode::cannot_write, path_);
    }
    sink_.reset();
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!closed) {
        return os_error(ErrorCode::cannot_write, path_, errno);
    }
    // Another program may have made the archive while this one was writing.
    if (Error error = check_target(); !error.ok()) {
        return error;
    }
    std::error_code error;
    std::filesystem::rename(path_from_utf8(temp_name_), path_from_utf8(path_), error);
    if (error) {
        return os_error(ErrorCode::cannot_put_in_place, path_, error);
    }
    committed_ = true;
    return {};
}

void ArchiveFile::discard() {
    sink_.reset();
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
    std::error_code ignored;
    std::filesystem::remove(path_from_utf8(temp_name_), ignored);
}

Error save_archive(const std::string& path, bool force,
                   const std::function<Error(archive::ByteSink&)>& write) {
    ArchiveFile file(path, force);
    if (Error error = file.check_target(); !error.ok()) {
        return error;
    }
    if (Error error = file.create(); !error.ok()) {
        return error;
    }
    if (Error error = write(file.sink()); !error.ok()) {
        error.subject = path;
        return error;
    }
    return file.commit();
}

} // namespace pev::pack
