#include "archive/archive_writer.hpp"

#include "common/little_endian.hpp"

#include <algorithm>

namespace pev::archive {
namespace {

// The header ranges the unpacker never reads; a repacked archive keeps them.
struct ByteRange {
    std::size_t first;
    std::size_t size;
};
constexpr std::array<ByteRange, 3> kUnreadHeaderBytes = {{{6, 10}, {20, 4}, {28, 4}}};

// Entry offsets are 32-bit fields.
constexpr std::uint64_t kMaxDataOffset = 0xFFFFFFFFu;

Error write_error(const ByteSink& sink) {
    return os_error(ErrorCode::cannot_write, "", sink.error());
}

} // namespace

ArchiveTemplate template_of(const ArchiveReader& reader) {
    ArchiveTemplate kept;
    kept.header = reader.header().bytes;
    kept.entry_ids.resize(reader.clip_count());
    for (std::size_t i = 0; i < kept.entry_ids.size(); ++i) {
        kept.entry_ids[i] = reader.row(i).id;
    }
    return kept;
}

HeaderBytes make_archive_header(std::int32_t count, std::uint32_t rate, const HeaderBytes& kept) {
    HeaderBytes header{};
    for (const ByteRange& range : kUnreadHeaderBytes) {
        std::copy_n(kept.begin() + static_cast<std::ptrdiff_t>(range.first), range.size,
                    header.begin() + static_cast<std::ptrdiff_t>(range.first));
    }
    std::copy(kMagic.begin(), kMagic.end(), header.begin());
    store_u32le(header, kCountOffset, static_cast<std::uint32_t>(count));
    store_u32le(header, kRateOffset, rate);
    return header;
}

std::array<std::uint8_t, kEntryRowSize> make_entry_row(std::uint16_t id, std::uint16_t block_count,
                                                       std::uint32_t data_offset) {
    std::array<std::uint8_t, kEntryRowSize> row{};
    store_u16le(row, kRowIdOffset, id);
    store_u16le(row, kRowBlockCountOffset, block_count);
    store_u32le(row, kRowDataOffset, data_offset);
    return row;
}

ArchiveWriter::ArchiveWriter(ByteSink& sink, std::size_t clip_count)
    : sink_(sink), clip_count_(clip_count), table_(clip_count * kEntryRowSize) {
    // Room for the header and the table, filled in by finish().
    const std::vector<std::uint8_t> placeholder(kHeaderSize + table_.size());
    write(placeholder);
    end_ = placeholder.size();
}

bool ArchiveWriter::write(std::span<const std::uint8_t> bytes) {
    if (failed_) {
        return false;
    }
    if (!sink_.append(bytes)) {
        failed_ = true;
        return false;
    }
    return true;
}

Error ArchiveWriter::add_entry(std::uint16_t id, std::span<const std::int16_t> block_sizes,
                               std::span<const std::uint8_t> compressed) {
    if (added_ >= clip_count_) {
        return error_about(ErrorCode::more_clips_than_laid_out, "");
    }
    if (block_sizes.size() > 0xFFFF) {
        Error error = error_about(ErrorCode::clip_too_long, "");
        error.limit = block_sizes.size();
        return error;
    }
    if (end_ > kMaxDataOffset) {
        return error_about(ErrorCode::archive_too_large, "");
    }
    const auto row = make_entry_row(id, static_cast<std::uint16_t>(block_sizes.size()),
                                    static_cast<std::uint32_t>(end_));
    std::copy(row.begin(), row.end(),
              table_.begin() + static_cast<std::ptrdiff_t>(added_ * kEntryRowSize));
    ++added_;

    std::vector<std::uint8_t> sizes(block_sizes.size() * kBlockSizeFieldSize);
    for (std::size_t i = 0; i < block_sizes.size(); ++i) {
        store_u16le(sizes, i * kBlockSizeFieldSize, static_cast<std::uint16_t>(block_sizes[i]));
    }
    if (!write(sizes) || !write(compressed)) {
        return write_error(sink_);
    }
    end_ += sizes.size() + compressed.size();
    return {};
}

Error ArchiveWriter::finish(std::uint32_t rate, const HeaderBytes& kept) {
    if (added_ != clip_count_) {
        return error_about(ErrorCode::fewer_clips_than_laid_out, "");
    }
    if (failed_) {
        return write_error(sink_);
    }
    const HeaderBytes header =
        make_archive_header(static_cast<std::int32_t>(clip_count_), rate, kept);
    std::vector<std::uint8_t> front(header.begin(), header.end());
    front.insert(front.end(), table_.begin(), table_.end());
    if (!sink_.write_at(0, front) || !sink_.flush()) {
        failed_ = true;
        return write_error(sink_);
    }
    return {};
}

} // namespace pev::archive
