#include "pack/wav_packer.hpp"

#include "archive/archive_layout.hpp"
#include "pack/archive_output.hpp"
#include "pack/like_archive.hpp"
#include "pack/wav_read_ahead.hpp"
#include "wav/wav_reader.hpp"

#include <cinttypes>
#include <cstdio>
#include <optional>
#include <thread>
#include <utility>

namespace pev::pack {
namespace {

// The ids and kept header bytes for the request's clips.
LayoutResult read_layout(const PackRequest& request, Error& error) {
    if (!request.like) {
        return layout_for(request.inputs.size(), nullptr);
    }
    const LikeRead like = read_like_archive(*request.like);
    if (!like.error.ok()) {
        error = like.error;
        return {};
    }
    LayoutResult layout = layout_for(request.inputs.size(), &like.kept);
    if (!layout.error.ok()) {
        error = layout.error;
        error.subject = *request.like;
    }
    return layout;
}

bool reads_ahead(const PackRequest& request) {
    if (request.threads == 1 || request.inputs.size() < 2) {
        return false;
    }
    return request.threads >= 2 || std::thread::hardware_concurrency() > 1;
}

} // namespace

PackOutcome pack_wav_files(const PackRequest& request, const PackProgress& progress) {
    PackOutcome outcome;
    if (request.inputs.size() > static_cast<std::size_t>(archive::kMaxWaveFiles)) {
        outcome.error = error_about(ErrorCode::too_many_inputs, request.archive);
        outcome.error.value = request.inputs.size();
        return outcome;
    }
    // The archive's name is claimed (or found taken) before any input is read.
    outcome.error = save_archive(request.archive, request.force, [&](archive::ByteSink& sink) {
        Error error;
        LayoutResult layout = read_layout(request, error);
        if (!error.ok()) {
            return error;
        }
        ArchivePacker packer(sink, std::move(layout.layout));
        std::optional<WavReadAhead> ahead;
        if (reads_ahead(request)) {
            ahead.emplace(request.inputs);
        }
        for (const std::string& name : request.inputs) {
            std::optional<wav::WavReadResult> ready;
            if (ahead) {
                ready = ahead->take();
            }
            if (!ready) {
                // A large file is read alone, and the buffers the clips before
                // it were encoded in are let go first: its bytes, its samples
                // and its encoding never meet them, so peak memory is set by
                // the largest clip alone.
                if (file_size_or_max(name) > kReadAheadMaxFileBytes) {
                    packer.release_buffers();
                }
                ready = wav::read_wav_file(name);
            }
            wav::WavReadResult& read = *ready;
            if (!read.ok()) {
                error = error_about(ErrorCode::wav_refused, name);
                error.detail = read.error;
                return error;
            }
            if (progress.warning) {
                for (const std::string& warning : read.clip.warnings) {
                    progress.warning(name, warning);
                }
            }
            ClipSummary clip;
            if (error = packer.add_clip(read.clip.samples, read.clip.sample_rate, &clip);
                !error.ok()) {
                // A failed write concerns the archive, whichever clip was going in.
                error.subject = error.code == ErrorCode::cannot_write ? "" : name;
                return error;
            }
            if (progress.packed) {
                progress.packed(name, clip);
            }
            if (ahead) {
                ahead->give_back(std::move(read.clip.samples));
            }
        }
        outcome.clips = packer.clips_added();
        outcome.stored_samples = packer.stored_samples();
        outcome.archive_bytes = packer.size();
        return packer.finish();
    });
    return outcome;
}

std::string packed_clip_line(const std::string& file, const ClipSummary& clip) {
    return "Packed: " + file + " (" + std::to_string(clip.input_samples) + " samples, " +
           std::to_string(clip.blocks) + (clip.blocks == 1 ? " block: " : " blocks: ") +
           std::to_string(clip.silent_blocks) + " silent, " + std::to_string(clip.raw_blocks) +
           " raw, " + std::to_string(clip.delta_blocks) + " delta, " +
           std::to_string(clip.stored_bytes) + " bytes)" +
           (clip.padded ? " + 1 sample repeating the last, for its odd length" : "");
}

std::string packed_archive_line(const std::string& archive, const PackOutcome& outcome) {
    const std::uint64_t sample_bytes = 2 * outcome.stored_samples;
    const double percent =
        sample_bytes == 0 ? 0.0 : 100.0 * double(outcome.archive_bytes) / double(sample_bytes);
    char figures[128];
    std::snprintf(figures, sizeof figures,
                  ": %" PRIu64 " bytes (%.1f%% of the %" PRIu64 " bytes of samples)",
                  outcome.archive_bytes, percent, sample_bytes);
    return "Packed " + std::to_string(outcome.clips) +
           (outcome.clips == 1 ? " clip, " : " clips, ") + std::to_string(outcome.stored_samples) +
           " samples, into " + archive + figures;
}

} // namespace pev::pack
