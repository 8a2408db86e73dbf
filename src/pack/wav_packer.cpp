#include "pack/wav_packer.hpp"

#include "archive/archive_layout.hpp"
#include "pack/archive_output.hpp"
#include "pack/converted_clip.hpp"
#include "pack/encode_ahead.hpp"
#include "pack/like_archive.hpp"
#include "wav/wav_reader.hpp"

#include <algorithm>
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

// Worker threads that read and encode beside the calling thread, which
// encodes too while it waits: one thread per core in all, none for one
// thread or one file.
unsigned workers_for(const PackRequest& request) {
    constexpr unsigned kMostThreads = 8;
    if (request.inputs.size() < 2) {
        return 0;
    }
    const unsigned threads =
        request.threads != 0 ? request.threads : std::thread::hardware_concurrency();
    return std::min(std::max(threads, 1u), kMostThreads) - 1;
}

// Adds one clip to `packer` and tells `progress`; the error names the file
// unless it concerns the archive.
class ClipAdder {
  public:
    ClipAdder(ArchivePacker& packer, const PackRequest& request, const PackProgress& progress)
        : packer_(packer), request_(request), progress_(progress) {}

    // A file read and encoded (ahead, or here).
    Error add(const std::string& name, const EncodedFile& file) {
        if (needs_converting(file)) {
            return add_converted(name);
        }
        if (!file.error.empty()) {
            return refused(name, file.error);
        }
        warn(name, file.warnings);
        ClipSummary clip;
        return added(name,
                     packer_.add_encoded_clip(file.sizes(), file.stored(), file.counts,
                                              file.sample_count, file.sample_rate, &clip),
                     clip);
    }

    // The rate the next clip must have; 0 before the first, unless one was
    // asked for.
    std::uint32_t target_rate() const {
        return request_.rate != 0 ? request_.rate : packer_.rate();
    }

    // A file through the converter.
    Error add_converted(const std::string& name) {
        // Without a rate asked for, the first clip's is the archive's.
        const ConvertTarget target{target_rate(), request_.rate != 0};
        ClipSummary clip;
        Conversion done;
        Error error =
            add_converted_clip(*request_.converter, name, target, encoder_, packer_, clip, done);
        if (error.ok() && progress_.converted) {
            progress_.converted(name, done);
        }
        return added(name, std::move(error), clip);
    }

  private:
    // What the WAV reader refused, or a WAV file at another rate than the
    // one asked for, goes to the converter when there is one.
    bool needs_converting(const EncodedFile& file) const {
        return request_.converter != nullptr &&
               (!file.error.empty() || (request_.rate != 0 && file.sample_rate != request_.rate));
    }

    static Error refused(const std::string& name, const std::string& why) {
        Error error = error_about(ErrorCode::wav_refused, name);
        error.detail = why;
        return error;
    }

    void warn(const std::string& name, const std::vector<std::string>& warnings) const {
        if (progress_.warning) {
            for (const std::string& warning : warnings) {
                progress_.warning(name, warning);
            }
        }
    }

    Error added(const std::string& name, Error error, const ClipSummary& clip) const {
        if (!error.ok()) {
            // A failed write concerns the archive, whichever clip was going in.
            error.subject = error.code == ErrorCode::cannot_write ? "" : name;
            return error;
        }
        if (progress_.packed) {
            progress_.packed(name, clip);
        }
        return error;
    }

    ArchivePacker& packer_;
    const PackRequest& request_;
    const PackProgress& progress_;
    ClipEncoder encoder_; // for converted files, kept from file to file
};

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
        ClipAdder adder(packer, request, progress);
        std::optional<EncodeAhead> ahead;
        if (const unsigned workers = workers_for(request); workers > 0) {
            ahead.emplace(request.inputs, workers);
            if (!ahead->running()) {
                ahead.reset();
            }
        }
        // For the files encoded here, kept from file to file.
        EncodeBuffers own;
        EncodedFile alone;
        for (const std::string& name : request.inputs) {
            if (ahead) {
                EncodedFile file = ahead->take();
                const bool done = !file.left_to_caller;
                if (done) {
                    error = adder.add(name, file);
                }
                ahead->give_back(std::move(file));
                if (!error.ok()) {
                    return error;
                }
                if (done) {
                    continue;
                }
            }
            // A large recording of another kind goes to the converter
            // without being read whole first.
            if (request.converter != nullptr && for_the_converter(name, adder.target_rate())) {
                if (error = adder.add_converted(name); !error.ok()) {
                    return error;
                }
                continue;
            }
            // A large file is read here. Each buffer lets its old memory go
            // before it takes more, so peak memory is still set by the
            // largest clip alone.
            read_and_encode(name, own, alone);
            if (error = adder.add(name, alone); !error.ok()) {
                return error;
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
    return "Packed: " + file + " " + clip_figures(clip);
}

std::string clip_figures(const ClipSummary& clip) {
    // Appended piece by piece: g++ 12 warns falsely about "(" + to_string().
    std::string figures = "(";
    figures += std::to_string(clip.input_samples) + " samples, ";
    figures += std::to_string(clip.blocks) + (clip.blocks == 1 ? " block: " : " blocks: ");
    figures += std::to_string(clip.silent_blocks) + " silent, ";
    figures += std::to_string(clip.raw_blocks) + " raw, ";
    figures += std::to_string(clip.delta_blocks) + " delta, ";
    figures += std::to_string(clip.stored_bytes) + " bytes)";
    if (clip.padded) {
        figures += " + 1 sample repeating the last, for its odd length";
    }
    return figures;
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
