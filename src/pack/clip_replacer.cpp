#include "pack/clip_replacer.hpp"

#include "archive/archive_writer.hpp"
#include "loudness/level_match.hpp"
#include "pack/archive_output.hpp"
#include "pack/converted_clip.hpp"
#include "pack/replacement_input.hpp"
#include "pack/stored_clip.hpp"

namespace pev::pack {
namespace {

// For each clip position, what replaces it, or nullptr.
std::vector<const Replacement*> replacements_by_clip(std::size_t clip_count,
                                                     const std::vector<Replacement>& replacements) {
    std::vector<const Replacement*> by_clip(clip_count, nullptr);
    for (const Replacement& replacement : replacements) {
        if (replacement.index < clip_count) {
            by_clip[replacement.index] = &replacement;
        }
    }
    return by_clip;
}

// Reads `file` whole, scales its samples by `gain` and adds its clip to
// `packer`.
Error add_scaled_clip(const std::string& file, double gain, std::uint32_t archive_rate,
                      ArchivePacker& packer, const ReplaceRequest& request,
                      const ReplaceProgress& progress, ClipSummary& clip) {
    Conversion done;
    ReplacementSamples read = load_replacement(file, archive_rate, request.converter, done);
    if (progress.warning) {
        for (const std::string& warning : read.warnings) {
            progress.warning(file, warning);
        }
    }
    if (!read.error.ok()) {
        return read.error;
    }
    done.clipped += loudness::apply_gain(read.samples, gain, request.dither);
    if (!done.description.empty() && progress.converted) {
        progress.converted(file, done);
    }
    Error error = packer.add_clip(read.samples, archive_rate, &clip);
    if (!error.ok() && error.code != ErrorCode::cannot_write) {
        error.subject = file;
    }
    return error;
}

// Reads `file` and adds its clip to `packer`.
Error add_wav_clip(const std::string& file, std::uint32_t archive_rate, ArchivePacker& packer,
                   const ReplaceRequest& request, const ReplaceProgress& progress,
                   ClipSummary& clip) {
    const ReplacementRoute route = route_replacement(file, archive_rate, request.converter);
    if (route.convert) {
        ClipEncoder encoder;
        Conversion done;
        const Error error =
            add_converted_clip(*request.converter, file, ConvertTarget{archive_rate, true}, encoder,
                               packer, clip, done);
        if (error.ok() && progress.converted) {
            progress.converted(file, done);
        }
        return error;
    }
    const ReplacementSamples& read = route.read;
    if (progress.warning) {
        for (const std::string& warning : read.warnings) {
            progress.warning(file, warning);
        }
    }
    if (!read.error.ok()) {
        return read.error;
    }
    Error error = packer.add_clip(read.samples, archive_rate, &clip);
    if (!error.ok() && error.code != ErrorCode::cannot_write) {
        error.subject = file;
    }
    return error;
}

} // namespace

std::vector<Error> clips_that_cannot_be_copied(const archive::ArchiveReader& source,
                                               const std::vector<Replacement>& replacements) {
    const std::vector<const Replacement*> by_clip =
        replacements_by_clip(source.clip_count(), replacements);
    std::vector<Error> refused;
    archive::ClipBuffers buffers;
    for (std::size_t index = 0; index < by_clip.size(); ++index) {
        if (by_clip[index] != nullptr) {
            continue;
        }
        const archive::ClipInfo info = source.inspect(index, buffers);
        if (!info.ok()) {
            Error error = error_about(ErrorCode::clip_refused, "");
            error.clip = ClipRef{index, info.row.id};
            error.problem = info.problem;
            refused.push_back(std::move(error));
        }
    }
    return refused;
}

ReplaceOutcome replace_clips(const archive::ArchiveReader& source, const ReplaceRequest& request,
                             const ReplaceProgress& progress) {
    ReplaceOutcome outcome;
    const std::vector<const Replacement*> by_clip =
        replacements_by_clip(source.clip_count(), request.replacements);
    outcome.error = save_archive(request.output, request.replace, [&](archive::ByteSink& sink) {
        ArchivePacker packer(sink, archive::template_of(source));
        archive::ClipBuffers stored_buffers;
        for (std::size_t index = 0; index < by_clip.size(); ++index) {
            const std::uint16_t id = source.row(index).id;
            ClipSummary clip;
            if (const Replacement* replacement = by_clip[index]) {
                const std::string& file = replacement->file;
                const std::uint32_t rate = source.sample_rate();
                if (Error error = replacement->gain == 1.0
                                      ? add_wav_clip(file, rate, packer, request, progress, clip)
                                      : add_scaled_clip(file, replacement->gain, rate, packer,
                                                        request, progress, clip);
                    !error.ok()) {
                    return error;
                }
                ++outcome.replaced;
                if (progress.replaced) {
                    progress.replaced(index, id, file, clip);
                }
                continue;
            }
            StoredClip stored;
            // Only a progress line shows a copied clip's samples: without
            // one, copying reads no byte twice.
            Error error = read_stored_clip(source, index, stored_buffers, stored,
                                           progress.copied ? CountSamples::yes : CountSamples::no);
            if (error.ok()) {
                error = packer.add_stored_clip(stored, &clip);
            }
            if (!error.ok()) {
                if (error.code != ErrorCode::cannot_write) {
                    error.subject = request.source;
                    error.clip = ClipRef{index, id};
                }
                return error;
            }
            if (progress.copied) {
                progress.copied(index, id, clip);
            }
        }
        outcome.clips = packer.clips_added();
        outcome.archive_bytes = packer.size();
        if (Error error = packer.finish(); !error.ok()) {
            return error;
        }
        if (request.done_reading) {
            request.done_reading();
        }
        return Error{};
    });
    return outcome;
}

} // namespace pev::pack
