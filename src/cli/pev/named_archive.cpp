#include "cli/pev/named_archive.hpp"

#include "archive/archive_layout.hpp"
#include "cli/pev/messages.hpp"
#include "common/name_order.hpp"
#include "platform/console.hpp"
#include "platform/files.hpp"
#include "platform/utf8_path.hpp"
#include "platform/wildcards.hpp"

#include <cerrno>
#include <filesystem>
#include <system_error>
#include <vector>

namespace pev::cli::tool {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kExtension = ".pev";

bool is_file_not_folder(const std::string& name) {
    std::error_code error;
    const fs::file_status status = fs::status(path_from_utf8(name), error);
    return !error && fs::exists(status) && !fs::is_directory(status);
}

// Why `path` cannot be read as an archive before it is even opened: a folder,
// or a pipe, device or socket, whose size cannot be known and whose bytes
// cannot be read twice (opening a named pipe would also wait for a writer).
// "" for a regular file or one that does not exist.
std::string kind_refusal(const std::string& path) {
    std::error_code error;
    const fs::file_status status = fs::status(path_from_utf8(path), error);
    if (error || !fs::exists(status) || fs::is_regular_file(status)) {
        return "";
    }
    return fs::is_directory(status) ? "it is a folder, not an archive"
                                    : "not a regular file (a pipe, device or socket)";
}

// Standard input, read to its end: a pipe can be read only once and has no
// size, and the reader seeks. Up to kInMemoryBound bytes stay in memory; a
// longer archive goes on into an unnamed temporary file, which the system
// removes when it is closed, so memory stays bounded whatever comes in.
struct StandardInputCopy {
    std::vector<std::uint8_t> bytes; // the whole archive when `spill` is null
    std::FILE* spill = nullptr;      // else the whole archive is here
    int os_error = 0;                // when it could not be copied
};

constexpr std::size_t kInMemoryBound = std::size_t{64} << 20;

StandardInputCopy copy_of_standard_input() {
    set_binary_mode(stdin);
    StandardInputCopy copy;
    std::vector<std::uint8_t> buffer(std::size_t{1} << 16);
    std::size_t got = 0;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), stdin)) > 0) {
        if (copy.spill == nullptr && copy.bytes.size() + got > kInMemoryBound) {
            errno = 0;
            copy.spill = std::tmpfile();
            if (copy.spill == nullptr || std::fwrite(copy.bytes.data(), 1, copy.bytes.size(),
                                                     copy.spill) != copy.bytes.size()) {
                break;
            }
            std::vector<std::uint8_t>().swap(copy.bytes);
        }
        if (copy.spill == nullptr) {
            copy.bytes.insert(copy.bytes.end(), buffer.begin(), buffer.begin() + got);
        } else if (std::fwrite(buffer.data(), 1, got, copy.spill) != got) {
            break;
        }
    }
    const bool complete = std::feof(stdin) != 0 && std::ferror(stdin) == 0 &&
                          (copy.spill == nullptr || std::fflush(copy.spill) == 0);
    if (!complete) {
        copy.os_error = errno != 0 ? errno : EIO;
        if (copy.spill != nullptr) {
            std::fclose(copy.spill);
            copy.spill = nullptr;
        }
        return copy;
    }
    if (copy.spill != nullptr) {
        std::rewind(copy.spill);
    }
    return copy;
}

} // namespace

bool has_pev_extension(const std::string& name) {
    return ends_with_ignoring_case(name, kExtension);
}

std::string resolve_archive_path(const std::string& name) {
    if (is_file_not_folder(name)) {
        return name;
    }
    // "VOICES" finds VOICES.PEV on hosts whose names are case-sensitive.
    const std::string lower = name + std::string(kExtension);
    const std::string upper = name + ".PEV";
    return !is_file_not_folder(lower) && is_file_not_folder(upper) ? upper : lower;
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
    if (last == '/' || last == '\\') {
        return folder + name;
    }
#ifdef _WIN32
    // The separator the folder was written with ("o2\\sub"), so a path never
    // mixes them; "/" when it holds none, which Windows takes too.
    const std::size_t separator = folder.find_last_of("/\\");
    return folder + (separator == std::string::npos ? '/' : folder[separator]) + name;
#else
    return folder + "/" + name;
#endif
}

std::string clip_label(std::size_t index, std::uint16_t id) {
    char label[48];
    std::snprintf(label, sizeof label, "clip %04zu (id %u)", index + 1, static_cast<unsigned>(id));
    return label;
}

std::unique_ptr<NamedArchive> NamedArchive::open(const std::string& name, std::FILE* err) {
    if (name == kStandardInput) {
        StandardInputCopy copy = copy_of_standard_input();
        if (copy.os_error != 0) {
            std::fprintf(err, "pev: cannot read the archive from standard input: %s\n",
                         std::generic_category().message(copy.os_error).c_str());
            return nullptr;
        }
        return checked(std::unique_ptr<NamedArchive>(
                           new NamedArchive(name, copy.spill, std::move(copy.bytes))),
                       err);
    }
    std::string path = resolve_archive_path(name);
    std::error_code ignored;
    if (!kind_refusal(name).empty() && path != name && !fs::exists(path_from_utf8(path), ignored)) {
        path = name; // a folder "voices" with no voices.pev beside it
    }
    if (const std::string refusal = kind_refusal(path); !refusal.empty()) {
        std::fprintf(err, "pev: %s: %s\n", path.c_str(), refusal.c_str());
        return nullptr;
    }
    std::FILE* file = open_for_reading(path);
    if (file == nullptr) {
        int code = errno;
        // Windows calls a name with * or ? invalid: a pattern nothing fitted
        // names no file there, as it does elsewhere.
        if (code == EINVAL && !kShellExpandsWildcards && name.find_first_of("*?") != name.npos) {
            code = ENOENT;
        }
        if (code == ENOENT && path != name) {
            std::fprintf(err, "pev: %s: no such file (nor %s)\n", name.c_str(), path.c_str());
        } else {
            std::fprintf(err, "pev: %s: cannot open it: %s\n", path.c_str(),
                         std::generic_category().message(code).c_str());
        }
        return nullptr;
    }
    return checked(std::unique_ptr<NamedArchive>(new NamedArchive(path, file)), err);
}

std::unique_ptr<NamedArchive> NamedArchive::checked(std::unique_ptr<NamedArchive> archive,
                                                    std::FILE* err) {
    const std::string& path = archive->path_;
    const archive::OpenResult result = archive->reader_.open_result();
    if (result != archive::OpenResult::ok) {
        std::fprintf(err, "pev: %s: %s\n", path.c_str(),
                     archive_refusal_text(result, archive->reader_.header()).c_str());
        return nullptr;
    }
    return archive;
}

NamedArchive::NamedArchive(std::string path, std::FILE* file, std::vector<std::uint8_t> bytes)
    : path_(std::move(path)),
      // An archive read from standard input has no name: its clips are
      // named stdin_0001.wav and so on, in the current folder.
      base_name_(path_ == kStandardInput ? "stdin" : base_name_of(path_)),
      folder_(path_ == kStandardInput ? "" : folder_of(path_)), file_(file),
      bytes_(std::move(bytes)),
      source_(file_ != nullptr
                  ? std::unique_ptr<archive::ByteSource>(new archive::FileSource(file_.get()))
                  : std::unique_ptr<archive::ByteSource>(new archive::MemorySource(bytes_))),
      reader_(*source_) {}

} // namespace pev::cli::tool
