#include "cli/pev/safe_wav_writer.hpp"

#include "common/temporary_name.hpp"
#include "platform/files.hpp"
#include "platform/rename.hpp"
#include "platform/utf8_path.hpp"
#include "wav/wav_writer.hpp"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace pev::cli::tool {
namespace {

namespace fs = std::filesystem;

constexpr std::uint16_t kChannels = 1;

std::string reason(const char* what, int code) {
    return std::string(what) + ": " + std::generic_category().message(code);
}

// Removes the temporary file unless it was renamed into place.
class TempFile {
  public:
    explicit TempFile(std::string name) : name_(std::move(name)) {}
    ~TempFile() {
        if (file != nullptr) {
            std::fclose(file);
        }
        if (!kept_) {
            std::error_code ignored;
            fs::remove(path_from_utf8(name_), ignored);
        }
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    const std::string& name() const { return name_; }
    void keep() { kept_ = true; }

    std::FILE* file = nullptr;

  private:
    std::string name_;
    bool kept_ = false;
};

} // namespace

SafeWavWriter::SafeWavWriter(bool replace) : replace_(replace), temp_suffix_(temporary_suffix()) {}

std::string SafeWavWriter::write(const std::string& path, std::span<std::int16_t> frame,
                                 std::uint32_t rate) const {
    TempFile temp(path + temp_suffix_);
    temp.file = open_for_writing(temp.name());
    if (temp.file == nullptr) {
        return reason("cannot create it", errno);
    }
    // Unbuffered, the whole file goes to the system in one call.
    std::setvbuf(temp.file, nullptr, _IONBF, 0);
    // Flushed before closing: some C runtimes report a failed final flush
    // from fflush but not from fclose.
    errno = 0;
    bool written =
        wav::write_file(temp.file, frame, kChannels, rate) && std::fflush(temp.file) == 0;
    const int write_error = errno;
    written = std::fclose(temp.file) == 0 && written;
    temp.file = nullptr;
    if (!written) {
        return reason("cannot write it", write_error != 0 ? write_error : errno);
    }
    // Without --force the final name is claimed in the same step as the
    // rename: another program may have made the file since the run began.
    std::error_code error;
    if (replace_) {
        fs::rename(path_from_utf8(temp.name()), path_from_utf8(path), error);
    } else {
        error = rename_without_replacing(temp.name(), path);
    }
    if (error == std::errc::file_exists) {
        return "it appeared while extracting; use --force to replace it";
    }
    if (error) {
        return "cannot put it in place: " + error.message();
    }
    temp.keep();
    return "";
}

} // namespace pev::cli::tool
