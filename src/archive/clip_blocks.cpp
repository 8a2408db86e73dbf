#include "archive/clip_blocks.hpp"

#include "codec/block_decoder.hpp"

#include <algorithm>
#include <cstdint>
#include <optional>

namespace pev::archive {
namespace {

// How far past a block a view of it runs: the 40 bytes a decoder's stretch
// loads, from the block's last whole stretch on.
constexpr std::uint64_t kBlockViewSlack = 64;

std::uint64_t stored_size_of(std::int16_t size) {
    return is_malformed_block_size(size) ? 0 : static_cast<std::uint64_t>(size);
}

bool holds_bytes(std::int16_t size) {
    return size != kSilentBlock && !is_malformed_block_size(size);
}

} // namespace

Error read_failure(const ClipInfo& clip, const ReadOutcome& outcome) {
    Error error;
    error.code = ErrorCode::cannot_read;
    error.clip = ClipRef{clip.index, clip.row.id};
    if (outcome.os_error != 0) {
        error.os = std::error_code(outcome.os_error, std::generic_category());
    }
    return error;
}

Error read_block(const ByteSource& source, const ClipInfo& clip, std::size_t block,
                 std::uint64_t byte, ScratchBuffer<std::uint8_t>& buffer,
                 std::span<const std::uint8_t>& bytes) {
    const std::uint64_t stored = stored_size_of(clip.block_sizes[block]);
    const std::uint64_t wanted = std::min(stored + 1, clip.measure.compressed_bytes - byte);
    // A view costs nothing, so it runs on a little past the block (within
    // the clip), where the decoder's last loads then find their bytes in
    // place instead of copied.
    const std::uint64_t viewed =
        std::min(stored + kBlockViewSlack, clip.measure.compressed_bytes - byte);
    const std::uint64_t offset = clip.compressed_offset() + byte;
    // A clip's stored bytes may run up to its block-size table's length past
    // the end of the archive (their end is checked without the table): those
    // read as 0, as in whole-clip decoding and in Pev2wav. Only the bytes
    // inside the archive's size must come.
    const std::uint64_t inside = offset < source.size() ? source.size() - offset : 0;
    const std::uint64_t expected = std::min(wanted, inside);
    const auto enough = [&](std::size_t got) { return got >= expected; };
    if (const std::span<const std::uint8_t> view = source.view(offset, viewed);
        enough(view.size()) && !view.empty()) {
        bytes = view;
        return {};
    }
    const std::span<std::uint8_t> into = buffer.take(wanted);
    const ReadOutcome outcome = source.read_some(offset, into);
    if (!enough(outcome.got) || outcome.os_error != 0) {
        return read_failure(clip, outcome);
    }
    bytes = into.first(outcome.got);
    return {};
}

std::optional<std::span<const std::uint8_t>> clip_bytes_in_place(const ByteSource& source,
                                                                 const ClipInfo& clip) {
    const std::uint64_t offset = clip.compressed_offset();
    const std::uint64_t wanted = clip.measure.compressed_bytes;
    const std::uint64_t inside = offset < source.size() ? source.size() - offset : 0;
    if (wanted > SIZE_MAX) {
        return std::nullopt;
    }
    const std::span<const std::uint8_t> view =
        source.view(offset, static_cast<std::size_t>(wanted));
    if (view.size() < std::min(wanted, inside)) {
        return std::nullopt;
    }
    return view;
}

std::span<const std::uint8_t> block_in_place(std::span<const std::uint8_t> clip_bytes,
                                             std::int16_t size, std::uint64_t byte) {
    const std::size_t from =
        static_cast<std::size_t>(std::min<std::uint64_t>(byte, clip_bytes.size()));
    const std::uint64_t viewed = stored_size_of(size) + kBlockViewSlack;
    return clip_bytes.subspan(
        from, static_cast<std::size_t>(std::min<std::uint64_t>(viewed, clip_bytes.size() - from)));
}

Error scan_clip(const ByteSource& source, const ClipInfo& clip, ScratchBuffer<std::uint8_t>& buffer,
                std::uint64_t& sample_count, std::span<BlockStart> starts) {
    const auto in_place = clip_bytes_in_place(source, clip);
    if (in_place && starts.empty()) {
        sample_count = count_entry_samples(clip.block_sizes, *in_place);
        return {};
    }
    BlockStart at;
    for (std::size_t block = 0; block < clip.block_sizes.size(); ++block) {
        const std::int16_t size = clip.block_sizes[block];
        if (!starts.empty()) {
            starts[block] = at;
        }
        std::span<const std::uint8_t> bytes;
        if (in_place) {
            bytes = block_in_place(*in_place, size, at.byte);
        } else if (size != kSilentBlock && size != kRawBlock && holds_bytes(size)) {
            if (Error error = read_block(source, clip, block, at.byte, buffer, bytes)) {
                return error;
            }
        }
        at.sample += count_block_samples(size, bytes);
        at.byte += stored_size_of(size);
    }
    if (!starts.empty()) {
        starts[clip.block_sizes.size()] = at;
    }
    sample_count = at.sample;
    return {};
}

Error decode_clip(const ByteSource& source, const ClipInfo& clip,
                  ScratchBuffer<std::uint8_t>& buffer, std::span<std::int16_t> samples,
                  std::uint64_t& written) {
    // In memory, the whole clip in one call: the same samples as block by
    // block, without a call per block.
    if (const auto view = clip_bytes_in_place(source, clip)) {
        written = decode_entry(clip.block_sizes, *view, samples);
        return {};
    }
    std::uint64_t byte = 0;
    std::size_t out = 0;
    for (std::size_t block = 0; block < clip.block_sizes.size(); ++block) {
        const std::int16_t size = clip.block_sizes[block];
        std::span<const std::uint8_t> bytes;
        if (holds_bytes(size)) {
            if (Error error = read_block(source, clip, block, byte, buffer, bytes)) {
                return error;
            }
        }
        out += decode_block(size, bytes, samples.subspan(out));
        byte += stored_size_of(size);
    }
    written = out;
    return {};
}

} // namespace pev::archive
