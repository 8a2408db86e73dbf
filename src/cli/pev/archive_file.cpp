#include "cli/pev/archive_file.hpp"

#include "archive/archive_layout.hpp"
#include "platform/files.hpp"
#include "platform/utf8_path.hpp"

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace pev::cli::tool {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kExtension = ".pev";

bool is_file_not_folder(const std::string& name) {
    std::error_code error;
    const fs::file_status status = fs::status(path_from_utf8(name), error);
    return !error && fs::exists(status) && !fs::is_directory(status);
}

} // namespace

bool has_pev_extension(const std::string& name) {
    if (name.size() < kExtension.size()) {
        return false;
    }
    const std::string_view tail = std::string_view(name).substr(name.size() - kExtension.size());
    for (std::size_t i = 0; i < tail.size(); ++i) {
        const char c = tail[i] >= 'A' && tail[i] <= 'Z' ? char(tail[i] - 'A' + 'a') : tail[i];
        if (c != kExtension[i]) {
            return false;
        }
    }
    return true;
}

namespace {

std::string refusal(archive::OpenResult result, const archive::ArchiveHeader& header) {
    const std::string count = std::to_string(header.wave_file_count);
    switch (result) {
    case archive::OpenResult::ok:
        break;
    case archive::OpenResult::not_an_archive:
        return "not a voice archive (it does not begin with PEVPAC)";
    case archive::OpenResult::header_cut_short:
        return "the file is cut short inside its 32-byte header";
    case archive::OpenResult::too_many_clips:
        return "its header claims " + count + " clips; an archive holds at most 9999";
    case archive::OpenResult::negative_count:
        return "its header claims a negative number of clips (" + count + ")";
    case archive::OpenResult::table_cut_short:
        return "the file ends inside its table of " + count + " clips";
    }
    return "";
}

} // namespace

std::string resolve_archive_path(const std::string& name) {
    return is_file_not_folder(name) ? name : name + std::string(kExtension);
}

std::string base_name_of(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (has_pev_extension(name) && name.size() > kExtension.size()) {
        name.resize(name.size() - kExtension.size());
    }
    return name;
}

std::string folder_of(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    if (slash == std::string::npos) {
        return "";
    }
    // "/voices.pev" lives in "/", not in "".
    return path.substr(0, slash == 0 ? 1 : slash);
}

std::string join_path(const std::string& folder, const std::string& name) {
    if (folder.empty()) {
        return name;
    }
    const char last = folder.back();
    return last == '/' || last == '\\' ? folder + name : folder + "/" + name;
}

std::string clip_label(std::size_t index, std::uint16_t id) {
    char label[48];
    std::snprintf(label, sizeof label, "clip %04zu (id %u)", index + 1, static_cast<unsigned>(id));
    return label;
}

std::unique_ptr<ArchiveFile> ArchiveFile::open(const std::string& name, std::FILE* err) {
    const std::string path = resolve_archive_path(name);
    std::FILE* file = open_for_reading(path);
    if (file == nullptr) {
        const int code = errno;
        if (code == ENOENT && path != name) {
            std::fprintf(err, "pev: %s: no such file (nor %s)\n", name.c_str(), path.c_str());
        } else {
            std::fprintf(err, "pev: %s: cannot open it: %s\n", path.c_str(),
                         std::generic_category().message(code).c_str());
        }
        return nullptr;
    }
    std::unique_ptr<ArchiveFile> archive(new ArchiveFile(path, file));
    const archive::OpenResult result = archive->reader_.open_result();
    if (result != archive::OpenResult::ok) {
        std::fprintf(err, "pev: %s: %s\n", path.c_str(),
                     refusal(result, archive->reader_.header()).c_str());
        return nullptr;
    }
    return archive;
}

ArchiveFile::ArchiveFile(std::string path, std::FILE* file)
    : path_(std::move(path)), base_name_(base_name_of(path_)), folder_(folder_of(path_)),
      file_(file), source_(file_.get()), reader_(source_) {}

} // namespace pev::cli::tool
