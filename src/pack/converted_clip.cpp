#include "pack/converted_clip.hpp"

namespace pev::pack {

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
