#include "pack/replacement_input.hpp"

#include "pack/archive_packer.hpp"
#include "wav/wav_reader.hpp"

namespace pev::pack {

ReplacementSamples read_replacement(const std::string& path, std::uint32_t archive_rate) {
    ReplacementSamples result;
    wav::WavReadResult read = wav::read_wav_file(path);
    if (!read.ok()) {
        result.error = error_about(ErrorCode::wav_refused, path);
        result.error.detail = read.error;
        return result;
    }
    result.warnings = std::move(read.clip.warnings);
    // The packer would take the first clip's rate as the archive's; here the
    // archive has one already.
    if (read.clip.sample_rate != archive_rate) {
        result.error = error_about(ErrorCode::rate_mismatch, path);
        result.error.value = read.clip.sample_rate;
        result.error.limit = archive_rate;
        return result;
    }
    if (Error error = check_clip(read.clip.samples.size(), read.clip.sample_rate, archive_rate);
        !error.ok()) {
        error.subject = path;
        result.error = std::move(error);
        return result;
    }
    result.samples = std::move(read.clip.samples);
    return result;
}

} // namespace pev::pack
