#include "sound/sound_file_writer.hpp"

#include "platform/output_error.hpp"
#include "platform/output_file.hpp"
#include "wav/quantiser.hpp"

#include <algorithm>
#include <sndfile.h>

namespace pev::sound {
namespace {

int libsndfile_format(SoundFormat format) {
    switch (format) {
    case SoundFormat::wav:
        return SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    case SoundFormat::flac:
        return SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    case SoundFormat::ogg:
        return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    case SoundFormat::opus:
        return SF_FORMAT_OGG | SF_FORMAT_OPUS;
    case SoundFormat::mp3:
        return SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
    case SoundFormat::aiff:
        return SF_FORMAT_AIFF | SF_FORMAT_PCM_16;
    }
    return 0;
}

// Formats whose codec takes floats itself; the others store 16 bits.
bool is_lossy(SoundFormat format) {
    return format == SoundFormat::ogg || format == SoundFormat::opus || format == SoundFormat::mp3;
}

// Where libsndfile's bytes go: encoders go back to fill in what they learn
// last (FLAC's stream info, MP3's length tag, AIFF's sizes).
class Destination {
  public:
    virtual std::error_code write_at(std::uint64_t offset, std::span<const std::uint8_t> bytes) = 0;
    virtual std::uint64_t size() const = 0;

  protected:
    ~Destination() = default;
};

class FileDestination final : public Destination {
  public:
    explicit FileDestination(OutputFile& file) : file_(file) {}

    std::error_code write_at(std::uint64_t offset, std::span<const std::uint8_t> bytes) override {
        static constexpr std::uint8_t kZeros[4096] = {};
        while (offset > file_.size()) { // past the end: the gap is zeros
            const auto gap = static_cast<std::size_t>(
                std::min<std::uint64_t>(offset - file_.size(), sizeof kZeros));
            if (std::error_code error = file_.append({kZeros, gap})) {
                return error;
            }
        }
        const auto over =
            static_cast<std::size_t>(std::min<std::uint64_t>(file_.size() - offset, bytes.size()));
        if (over > 0) {
            if (std::error_code error = file_.write_at(offset, bytes.first(over))) {
                return error;
            }
        }
        return file_.append(bytes.subspan(over));
    }
    std::uint64_t size() const override { return file_.size(); }

  private:
    OutputFile& file_;
};

class MemoryDestination final : public Destination {
  public:
    explicit MemoryDestination(std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}

    std::error_code write_at(std::uint64_t offset, std::span<const std::uint8_t> bytes) override {
        const std::uint64_t end = offset + bytes.size();
        if (end > bytes_.size()) {
            bytes_.resize(static_cast<std::size_t>(end));
        }
        std::copy(bytes.begin(), bytes.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(offset));
        return {};
    }
    std::uint64_t size() const override { return bytes_.size(); }

  private:
    std::vector<std::uint8_t>& bytes_;
};

// libsndfile's virtual file: a position in a Destination.
struct VirtualFile {
    Destination& destination;
    sf_count_t position = 0;
    std::error_code failure; // the first write the destination refused

    static VirtualFile& of(void* user) { return *static_cast<VirtualFile*>(user); }
};

sf_count_t virtual_length(void* user) {
    return static_cast<sf_count_t>(VirtualFile::of(user).destination.size());
}

sf_count_t virtual_seek(sf_count_t offset, int whence, void* user) {
    VirtualFile& file = VirtualFile::of(user);
    const sf_count_t base = whence == SEEK_CUR   ? file.position
                            : whence == SEEK_END ? virtual_length(user)
                                                 : 0;
    if (base + offset < 0) {
        return -1;
    }
    file.position = base + offset;
    return file.position;
}

sf_count_t virtual_read(void*, sf_count_t, void*) {
    return 0; // written only
}

sf_count_t virtual_write(const void* data, sf_count_t count, void* user) {
    VirtualFile& file = VirtualFile::of(user);
    if (file.failure || count <= 0) {
        return 0;
    }
    const std::span bytes(static_cast<const std::uint8_t*>(data), static_cast<std::size_t>(count));
    if (std::error_code error =
            file.destination.write_at(static_cast<std::uint64_t>(file.position), bytes)) {
        file.failure = error;
        return 0;
    }
    file.position += count;
    return count;
}

sf_count_t virtual_tell(void* user) {
    return VirtualFile::of(user).position;
}

Error refused_by_libsndfile(const char* reason) {
    Error error = error_about(ErrorCode::cannot_write, "");
    error.detail = reason != nullptr ? reason : "libsndfile refused it";
    return error;
}

std::span<const std::int16_t> to_16_bits(std::span<const float> floats, bool dither,
                                         std::vector<std::int16_t>& pcm) {
    pcm.resize(floats.size());
    wav::Quantiser(dither).quantise(floats, pcm);
    return pcm;
}

// Encodes the clip into `destination`; the failure of a write is the
// destination's own error (cannot_write with its system error).
Error encode(SoundFormat format, std::uint32_t rate, const ClipSamples& samples,
             Destination& destination) {
    SF_VIRTUAL_IO io{virtual_length, virtual_seek, virtual_read, virtual_write, virtual_tell};
    VirtualFile file{destination, 0, {}};
    SF_INFO info{};
    info.samplerate = static_cast<int>(rate);
    info.channels = 1;
    info.format = libsndfile_format(format);
    SNDFILE* sound = sf_open_virtual(&io, SFM_WRITE, &info, &file);
    if (sound == nullptr) {
        return file.failure ? os_error(ErrorCode::cannot_write, "", file.failure)
                            : refused_by_libsndfile(sf_strerror(nullptr));
    }
    std::vector<std::int16_t> pcm; // resampled floats brought to 16 bits
    std::span<const std::int16_t> exact = samples.exact;
    if (!samples.resampled.empty() && !is_lossy(format)) {
        exact = to_16_bits(samples.resampled, samples.dither, pcm);
    }
    const auto wanted =
        static_cast<sf_count_t>(exact.empty() ? samples.resampled.size() : exact.size());
    if (wanted == 0 && (format == SoundFormat::flac || format == SoundFormat::mp3)) {
        // FLAC and MP3 write their headers with the first samples; an empty
        // clip's file gets them only when asked.
        sf_command(sound, SFC_UPDATE_HEADER_NOW, nullptr, 0);
    }
    const sf_count_t written = exact.empty() && !samples.resampled.empty()
                                   ? sf_writef_float(sound, samples.resampled.data(), wanted)
                                   : sf_writef_short(sound, exact.data(), wanted);
    std::string problem = written == wanted ? "" : sf_strerror(sound);
    if (sf_close(sound) != 0 && problem.empty()) {
        problem = "libsndfile could not finish it";
    }
    if (file.failure) {
        return os_error(ErrorCode::cannot_write, "", file.failure);
    }
    return problem.empty() ? Error{} : refused_by_libsndfile(problem.c_str());
}

} // namespace

bool can_write(SoundFormat format) {
    SF_INFO info{};
    info.samplerate = 48000; // taken by every format
    info.channels = 1;
    info.format = libsndfile_format(format);
    if (format == SoundFormat::wav) {
        return true;
    }
    // Formats libsndfile was built without are missing from its list.
    int count = 0;
    sf_command(nullptr, SFC_GET_FORMAT_MAJOR_COUNT, &count, sizeof count);
    bool listed = false;
    for (int i = 0; i < count && !listed; ++i) {
        SF_FORMAT_INFO major{};
        major.format = i;
        sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &major, sizeof major);
        listed = major.format == (info.format & SF_FORMAT_TYPEMASK);
    }
    return listed && sf_format_check(&info) != 0;
}

Error write_sound_file(const std::string& path, SoundFormat format, std::uint32_t rate,
                       const ClipSamples& samples, bool replace, std::uint64_t* size,
                       NameSeen seen) {
    OutputFile file(path, OutputFileOptions{.replace = replace, .seen = seen});
    Error error;
    if (!file.create()) {
        FileDestination destination(file);
        error = encode(format, rate, samples, destination);
        if (size != nullptr) {
            *size = file.size();
        }
        if (error.ok()) {
            file.commit();
        }
    }
    if (error.ok() || file.error()) {
        // The file's own failure says which step failed.
        error = output_error(file);
    }
    if (!error.ok()) {
        error.subject = path;
    }
    return error;
}

Error encode_sound_file(SoundFormat format, std::uint32_t rate, const ClipSamples& samples,
                        std::vector<std::uint8_t>& bytes) {
    bytes.clear();
    MemoryDestination destination(bytes);
    return encode(format, rate, samples, destination);
}

} // namespace pev::sound
