#pragma once
// Hands the clips of an archive, read, judged and decoded, one at a time and
// in the order asked to a consumer that writes them somewhere. Every front end
// that turns many clips into files goes through here, so they all share one
// way of reading ahead: on a second thread, the next clip is read and decoded
// while the consumer writes the current one.

#include "archive/archive_reader.hpp"
#include "extraction/wav_output.hpp"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

namespace pev::extraction {

using archive::ArchiveReader;
using archive::ClipInfo;

// One clip on its way to its file.
struct ReadyClip {
    ClipInfo info;
    // The WAV header's room, then the samples; empty when the clip was
    // refused. Valid until the consumer returns.
    wav::Frame frame;
    // With StreamOptions::write_ahead, the clip's WAV file (when it is not
    // refused), written and waiting for its name; `frame` is its bytes then.
    std::unique_ptr<WavFileAhead> file;
};

// What the clips needed, for benchmarks and resource tests: the largest
// buffers taken (the samples without the header's room). Decoding ahead
// works in two sets of buffers; these are the largest of either.
struct ExtractStats {
    std::size_t largest_size_table_bytes = 0;
    std::size_t largest_compressed_bytes = 0;
    std::size_t largest_sample_buffer_bytes = 0;
};

struct StreamOptions {
    // Stop reading at the first refused clip, as the unpacker does; otherwise
    // a refused clip is handed over like any other and the stream goes on.
    bool stop_at_refusal = true;
    // 0: decode ahead on a second thread when the host has more than one CPU
    // and there is enough work to gain from it; 1: everything on the calling
    // thread; 2 or more: always decode ahead (on one more thread).
    unsigned threads = 0;
    // When set, each clip's WAV file is written, under no name yet, to the
    // path this gives for the clip's index, before the clip is handed over:
    // by the thread decoding ahead when it would otherwise wait for the
    // consumer, else on the calling thread. The consumer gives the file its
    // name, or drops it.
    std::function<std::string(std::size_t index)> write_ahead = nullptr;
};

// Calls `consume` with each clip of `indices`, in that order, until it
// returns false. `consume` always runs on the calling thread, and no clip
// after a refused one is read when stop_at_refusal holds. What reading or
// decoding throws (std::bad_alloc) comes out of here, after every earlier
// clip was consumed. Stats, when asked for, are filled on every path.
void stream_clips(const ArchiveReader& reader, std::span<const std::size_t> indices,
                  const StreamOptions& options, const std::function<bool(ReadyClip& clip)>& consume,
                  ExtractStats* stats = nullptr);

} // namespace pev::extraction
