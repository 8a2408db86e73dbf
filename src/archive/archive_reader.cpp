#include "archive/archive_reader.hpp"

#include "archive/archive_layout.hpp"
#include "common/little_endian.hpp"
#include "wav/wav_writer.hpp"

#include <algorithm>

namespace pev::archive {
namespace {

constexpr std::uint64_t kMaxRiffSize = 0xFFFFFFFFu;
constexpr std::uint64_t kOffsetLimit = std::uint64_t{1} << 32;

// The bytes that belong to an entry: the next row's data offset minus its
// own, as an unsigned 32-bit difference (so a lower next offset wraps to a
// large room). Only the sentinel of a file of 4 GiB or more is beyond 32 bits.
std::uint64_t room_of(const EntryRow& row, const EntryRow& next) {
    if (next.data_offset >= kOffsetLimit) {
        return next.data_offset - row.data_offset;
    }
    return static_cast<std::uint32_t>(next.data_offset - row.data_offset);
}

} // namespace

ArchiveReader::ArchiveReader(const ByteSource& source) : source_(source), open_result_(open()) {}

std::uint32_t ArchiveReader::sample_rate() const {
    const auto stored = static_cast<std::uint32_t>(header_.samples_per_sec);
    return stored == 0 ? kDefaultSampleRate : stored;
}

OpenResult ArchiveReader::open() {
    const std::size_t got = source_.read_at(0, header_.bytes);
    if (got < header_.bytes.size()) {
        const bool has_magic =
            got >= kMagic.size() && std::equal(kMagic.begin(), kMagic.end(), header_.bytes.begin());
        return has_magic ? OpenResult::header_cut_short : OpenResult::not_an_archive;
    }
    if (!parse_archive_header(header_)) {
        return OpenResult::not_an_archive;
    }
    if (header_.wave_file_count > kMaxWaveFiles) {
        return OpenResult::too_many_clips;
    }
    if (header_.wave_file_count < 0) {
        return OpenResult::negative_count;
    }
    // A file too short to hold every row is refused: its missing rows would
    // be garbage.
    const auto count = static_cast<std::size_t>(header_.wave_file_count);
    std::vector<std::uint8_t> table(count * kEntryRowSize);
    if (source_.read_at(kHeaderSize, table) != table.size()) {
        return OpenResult::table_cut_short;
    }
    rows_.resize(count + 1);
    for (std::size_t i = 0; i < count; ++i) {
        const std::span<const std::uint8_t> row(table.data() + i * kEntryRowSize, kEntryRowSize);
        rows_[i].id = load_u16le(row, kRowIdOffset);
        rows_[i].block_count = load_u16le(row, kRowBlockCountOffset);
        rows_[i].data_offset = load_u32le(row, kRowDataOffset);
    }
    rows_[count] = EntryRow{kSentinelId, 0, source_.size()};
    return OpenResult::ok;
}

ReadOutcome ArchiveReader::read_zero_filled(std::uint64_t offset,
                                            std::span<std::uint8_t> into) const {
    const ReadOutcome outcome = source_.read_some(offset, into);
    std::fill(into.begin() + static_cast<std::ptrdiff_t>(outcome.got), into.end(), std::uint8_t{0});
    return outcome;
}

// An entry is refused before any buffer for its bytes or samples is taken
// when its stored sizes are outside the format, when they claim more bytes
// than its room or than the file holds, or when its samples could not be
// described by a WAV file's 32-bit sizes.
ClipProblem ArchiveReader::judge(const EntryRow& row, const EntryRow& next,
                                 const EntryMeasure& measure) const {
    if (measure.malformed) {
        return ClipProblem::malformed_block_size;
    }
    if (static_cast<std::uint32_t>(measure.compressed_bytes) > room_of(row, next)) {
        // The last clip's room ends with the file: there is no next clip.
        return &next == &rows_.back() ? ClipProblem::bytes_past_end : ClipProblem::bytes_past_room;
    }
    if (row.data_offset + measure.compressed_bytes > source_.size()) {
        return ClipProblem::bytes_past_end;
    }
    if (2 * measure.sample_bound + 36 > kMaxRiffSize) {
        return ClipProblem::too_long_for_wav;
    }
    return ClipProblem::none;
}

ClipInfo ArchiveReader::inspect(std::size_t index, ClipBuffers& buffers) const {
    ClipInfo clip;
    clip.index = index;
    clip.row = rows_[index];
    // Sizes that are not in the file must not become output: read as 0 they
    // would count as silent blocks, up to 134 MB of them from a few bytes.
    const std::uint64_t table_bytes = std::uint64_t{clip.row.block_count} * kBlockSizeFieldSize;
    if (clip.row.data_offset + table_bytes > source_.size()) {
        clip.problem = ClipProblem::block_table_past_end;
        return clip;
    }
    const std::span<std::uint8_t> raw = buffers.size_bytes.take(table_bytes);
    clip.table_read = read_zero_filled(clip.row.data_offset, raw);
    const std::span<std::int16_t> sizes = buffers.block_sizes.take(clip.row.block_count);
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        const auto size = static_cast<std::int16_t>(load_u16le(raw, i * kBlockSizeFieldSize));
        sizes[i] = size;
        if (size == kSilentBlock) {
            ++clip.silent_blocks;
        } else if (size == kRawBlock) {
            ++clip.raw_blocks;
        } else if (!is_malformed_block_size(size)) {
            ++clip.delta_blocks;
        }
    }
    clip.block_sizes = sizes;
    clip.measure = measure_entry(sizes);
    clip.problem = judge(clip.row, rows_[index + 1], clip.measure);
    return clip;
}

std::span<const std::uint8_t> ArchiveReader::read_stored_bytes(const ClipInfo& clip,
                                                               ClipBuffers& buffers) const {
    const std::span<std::uint8_t> compressed =
        buffers.compressed.take(clip.measure.compressed_bytes);
    read_zero_filled(clip.row.data_offset + clip.block_sizes.size() * kBlockSizeFieldSize,
                     compressed);
    return compressed;
}

wav::Frame ArchiveReader::decode(const ClipInfo& clip, ClipBuffers& buffers) const {
    const std::span<const std::uint8_t> compressed = read_stored_bytes(clip, buffers);
    const std::uint64_t bound = clip.measure.sample_bound;
    const wav::Frame room(buffers.samples.take(wav::Frame::buffer_size(bound)), bound);
    const std::size_t count = decode_entry(clip.block_sizes, compressed, room.samples());
    return wav::Frame(room.whole(), count);
}

} // namespace pev::archive
