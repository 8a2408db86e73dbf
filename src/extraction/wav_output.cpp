#include "extraction/wav_output.hpp"

#include "platform/output_error.hpp"
#include "wav/wav_writer.hpp"

namespace pev::extraction {
namespace {

constexpr std::uint16_t kChannels = 1;

} // namespace

Error write_wav_file(const std::string& path, const wav::Frame& frame, std::uint32_t rate,
                     bool replace, NameSeen seen) {
    OutputFile file(path, OutputFileOptions{.replace = replace, .seen = seen});
    if (!file.create()) {
        const std::span<const std::uint8_t> bytes =
            wav::frame_to_file_bytes(frame, kChannels, rate);
        if (!file.append(bytes)) {
            file.commit();
        }
    }
    return output_error(file);
}

WavFileAhead::WavFileAhead(const std::string& path, const wav::Frame& frame, std::uint32_t rate)
    : file_(path, OutputFileOptions{.replace = true}),
      bytes_(wav::frame_to_file_bytes(frame, kChannels, rate)) {
    if (!file_.create()) {
        file_.append(bytes_);
    }
}

Error WavFileAhead::commit(NameSeen seen) {
    file_.saw(seen);
    file_.commit();
    return output_error(file_);
}

} // namespace pev::extraction
