#include "archive/clip_blocks.hpp"

#include "codec/block_decoder.hpp"

#include <algorithm>

namespace pev::archive {
namespace {

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
    const std::uint64_t offset = clip.compressed_offset() + byte;
    // A clip's stored bytes may run up to its block-size table's length past
    // the end of the archive (their end is checked without the table): those
    // read as 0, as in whole-clip decoding and in Pev2wav. Only the bytes
    // inside the archive's size must come.
    const std::uint64_t inside = offset < source.size() ? source.size() - offset : 0;
    const std::uint64_t expected = std::min(wanted, inside);
    const auto enough = [&](std::size_t got) { return got >= expected; };
    if (const std::span<const std::uint8_t> view = source.view(offset, wanted);
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

Error scan_clip(const ByteSource& source, const ClipInfo& clip, ScratchBuffer<std::uint8_t>& buffer,
                std::uint64_t& sample_count, std::span<BlockStart> starts) {
    BlockStart at;
    for (std::size_t block = 0; block < clip.block_sizes.size(); ++block) {
        const std::int16_t size = clip.block_sizes[block];
        if (!starts.empty()) {
            starts[block] = at;
        }
        std::span<const std::uint8_t> bytes;
        if (size != kSilentBlock && size != kRawBlock && holds_bytes(size)) {
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
