#pragma once
// Hands the clips of an archive, read, judged and decoded, one at a time and
// in the order asked to a consumer that writes them somewhere. Every front end
// that turns many clips into files goes through here, so they all share one
// way of reading ahead.

#include "archive/archive_reader.hpp"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

namespace pev::archive {

// One clip on its way to its file.
struct ReadyClip {
    ClipInfo info;
    // The WAV header's room, then the samples; empty when the clip was
    // refused. Valid until the consumer returns.
    std::span<std::int16_t> frame;
};

// What the clips needed, for benchmarks and resource tests: the largest
// buffers taken (the samples without the header's room).
struct ExtractStats {
    std::size_t largest_size_table_bytes = 0;
    std::size_t largest_compressed_bytes = 0;
    std::size_t largest_sample_buffer_bytes = 0;
};

struct StreamOptions {
    // Stop reading at the first refused clip, as the unpacker does; otherwise
    // a refused clip is handed over like any other and the stream goes on.
    bool stop_at_refusal = true;
};

// Calls `consume` with each clip of `indices`, in that order, until it
// returns false. Stats, when asked for, are filled on every path.
void stream_clips(const ArchiveReader& reader, std::span<const std::size_t> indices,
                  const StreamOptions& options, const std::function<bool(ReadyClip& clip)>& consume,
                  ExtractStats* stats = nullptr);

} // namespace pev::archive
