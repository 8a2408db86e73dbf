#include "archive/clip_stream.hpp"

#include "wav/wav_writer.hpp"

namespace pev::archive {
namespace {

// The buffers only grow, so their capacities are the largest requests.
ExtractStats stats_of(const ClipBuffers& buffers) {
    const std::size_t samples = buffers.samples.capacity();
    const std::size_t room = samples == 0 ? 0 : wav::kHeaderRoomSamples;
    return {buffers.size_bytes.capacity(), buffers.compressed.capacity(),
            (samples - room) * sizeof(std::int16_t)};
}

} // namespace

void stream_clips(const ArchiveReader& reader, std::span<const std::size_t> indices,
                  const StreamOptions& options, const std::function<bool(ReadyClip& clip)>& consume,
                  ExtractStats* stats) {
    ClipBuffers buffers;
    // Filled however the stream ends, a failed allocation included: they
    // show that a refused clip took no buffer.
    struct StatsOnExit {
        const ClipBuffers& buffers;
        ExtractStats* stats;
        ~StatsOnExit() {
            if (stats != nullptr) {
                *stats = stats_of(buffers);
            }
        }
    } on_exit{buffers, stats};

    for (const std::size_t index : indices) {
        ReadyClip clip;
        clip.info = reader.inspect(index, buffers);
        if (clip.info.ok()) {
            clip.frame = reader.decode(clip.info, buffers);
        }
        if (!consume(clip) || (!clip.info.ok() && options.stop_at_refusal)) {
            return;
        }
    }
}

} // namespace pev::archive
