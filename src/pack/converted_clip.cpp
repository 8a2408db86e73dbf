#include "pack/converted_clip.hpp"

#include "platform/files.hpp"
#include "wav/wav_reader.hpp"

#include <cstdio>
#include <vector>

namespace pev::pack {

bool for_the_converter(const std::string& path, std::uint32_t rate) {
    std::FILE* file = open_for_reading(path);
    if (file == nullptr) {
        return true; // the converter says why
    }
    std::vector<std::uint8_t> start(64 * 1024);
    start.resize(std::fread(start.data(), 1, start.size(), file));
    std::fclose(file);
    const wav::WavReadResult read = wav::parse_wav(start, {}, wav::Samples::left_as_bytes);
    return !read.ok() || (rate != 0 && read.clip.sample_rate != rate);
}

Error add_converted_clip(const InputConverter& converter, const std::string& path,
                         const ConvertTarget& target, ClipEncoder& encoder, ArchivePacker& packer,
                         ClipSummary& clip, Conversion& done) {
    encoder.start();
    Error error = converter.convert(path, target, encoder, done);
    if (error.ok()) {
        encoder.finish();
        error = packer.add_encoded_clip(encoder.sizes(), encoder.stored(), encoder.counts(),
                                        encoder.sample_count(), done.rate, &clip);
    }
    if (!error.ok() && error.code != ErrorCode::cannot_write) {
        error.subject = path;
    }
    return error;
}

} // namespace pev::pack
