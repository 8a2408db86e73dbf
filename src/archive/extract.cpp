#include "archive/extract.hpp"

#include "archive/archive_header.hpp"
#include "archive/archive_layout.hpp"
#include "archive/scratch_buffer.hpp"
#include "codec/block_decoder.hpp"
#include "common/little_endian.hpp"
#include "platform/files.hpp"
#include "wav/wav_writer.hpp"

#include <algorithm>
#include <cstdint>
#include <new>
#include <vector>

namespace pev::archive {
namespace {

constexpr std::uint16_t kChannels = 1;
constexpr std::uint64_t kMaxRiffSize = 0xFFFFFFFFu;
constexpr std::uint64_t kOffsetLimit = std::uint64_t{1} << 32;

struct EntryRow {
    std::uint16_t id = 0;
    std::uint16_t block_count = 0;
    std::uint64_t data_offset = 0; // 32-bit in the file; the sentinel holds the file size
};

// Reads `bytes.size()` bytes; whatever a truncated file cannot supply reads as
// 0, so the output stays deterministic.
void read_zero_filled(std::FILE* file, std::span<std::uint8_t> bytes) {
    const std::size_t got = bytes.empty() ? 0 : std::fread(bytes.data(), 1, bytes.size(), file);
    std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(got), bytes.end(), std::uint8_t{0});
}

// The bytes that belong to an entry: the next row's data offset minus its
// own, as an unsigned 32-bit difference (so a lower next offset wraps to a
// large room). Only the sentinel of a file of 4 GiB or more is beyond 32 bits.
std::uint64_t room_of(const EntryRow& row, const EntryRow& next) {
    if (next.data_offset >= kOffsetLimit) {
        return next.data_offset - row.data_offset;
    }
    return static_cast<std::uint32_t>(next.data_offset - row.data_offset);
}

// Unbuffered, the stream hands each whole file to the system in one call
// instead of staging it through a small buffer in two or three.
std::FILE* create_unbuffered(const std::string& name) {
    std::FILE* file = open_for_writing(name);
    if (file != nullptr) {
        std::setvbuf(file, nullptr, _IONBF, 0);
    }
    return file;
}

class Extractor {
  public:
    Extractor(std::FILE* archive, const ExtractOptions& options)
        : archive_(archive), options_(options) {}

    int run(const std::string& base_name) {
        ArchiveHeader header;
        if (read_archive_header(archive_, header, options_.out) != 0) {
            return -1;
        }
        const std::uint32_t stored_rate = static_cast<std::uint32_t>(header.samples_per_sec);
        rate_ = stored_rate == 0 ? kDefaultSampleRate : stored_rate;
        if (header.wave_file_count < 0) {
            return -1;
        }
        if (!read_entry_table(header.wave_file_count)) {
            return -1;
        }
        for (std::size_t i = 0; i + 1 < rows_.size(); ++i) {
            const int position = static_cast<int>(i) + 1;
            if (!extract_entry(rows_[i], rows_[i + 1], clip_file_name(base_name, position))) {
                return -1;
            }
        }
        return header.wave_file_count;
    }

    // The buffers only grow, so their capacities are the largest requests.
    // The header's room in front of the samples is not counted.
    ExtractStats stats() const {
        const std::size_t samples = samples_.capacity();
        const std::size_t room = samples == 0 ? 0 : wav::kHeaderRoomSamples;
        return {compressed_.capacity(), (samples - room) * sizeof(std::int16_t)};
    }

  private:
    // Reads the whole table and adds the sentinel row. A file too short to
    // hold every row is refused: its missing rows would be garbage.
    bool read_entry_table(std::int32_t count) {
        const auto rows = static_cast<std::size_t>(count);
        std::vector<std::uint8_t> table(rows * kEntryRowSize);
        if (rows > 0 && std::fread(table.data(), kEntryRowSize, rows, archive_) != rows) {
            return false;
        }
        archive_size_ =
            static_cast<std::uint64_t>(std::max<std::int64_t>(0, seek_to_end(archive_)));
        rows_.resize(rows + 1);
        for (std::size_t i = 0; i < rows; ++i) {
            const std::span<const std::uint8_t> row(table.data() + i * kEntryRowSize,
                                                    kEntryRowSize);
            rows_[i].id = load_u16le(row, kRowIdOffset);
            rows_[i].block_count = load_u16le(row, kRowBlockCountOffset);
            rows_[i].data_offset = load_u32le(row, kRowDataOffset);
        }
        rows_[rows] = EntryRow{kSentinelId, 0, archive_size_};
        return true;
    }

    // An entry is refused before any buffer for its bytes or samples is
    // taken when its stored sizes are outside the format, when they claim
    // more bytes than its room or than the file holds, or when its samples
    // could not be described by a WAV file's 32-bit sizes.
    bool entry_fits(const EntryRow& row, const EntryRow& next, const EntryMeasure& measure) const {
        if (measure.malformed) {
            return false;
        }
        if (static_cast<std::uint32_t>(measure.compressed_bytes) > room_of(row, next)) {
            return false;
        }
        if (row.data_offset + measure.compressed_bytes > archive_size_) {
            return false;
        }
        return 2 * measure.sample_bound + 36 <= kMaxRiffSize;
    }

    bool extract_entry(const EntryRow& row, const EntryRow& next, const std::string& name) {
        const std::span<std::int16_t> sizes = read_block_sizes(row);
        const EntryMeasure measure = measure_entry(sizes);
        if (!entry_fits(row, next, measure)) {
            std::fprintf(options_.err, "invalid pev size (id:%d)\n", static_cast<int>(row.id));
            return false;
        }
        const std::span<std::uint8_t> compressed = compressed_.take(measure.compressed_bytes);
        read_zero_filled(archive_, compressed);
        // The samples follow room for the WAV header, so that the whole file
        // can be written at once.
        const std::span<std::int16_t> frame =
            samples_.take(wav::kHeaderRoomSamples + measure.sample_bound);
        const std::size_t count =
            decode_entry(sizes, compressed, frame.subspan(wav::kHeaderRoomSamples));
        return write_wav(name, frame.first(wav::kHeaderRoomSamples + count));
    }

    std::span<std::int16_t> read_block_sizes(const EntryRow& row) {
        const std::span<std::uint8_t> raw = size_bytes_.take(row.block_count * kBlockSizeFieldSize);
        seek_to(archive_, row.data_offset);
        read_zero_filled(archive_, raw);
        const std::span<std::int16_t> sizes = block_sizes_.take(row.block_count);
        for (std::size_t i = 0; i < sizes.size(); ++i) {
            sizes[i] = static_cast<std::int16_t>(load_u16le(raw, i * kBlockSizeFieldSize));
        }
        return sizes;
    }

    bool write_wav(const std::string& name, std::span<std::int16_t> frame) {
        std::FILE* file =
            options_.create_output ? options_.create_output(name) : create_unbuffered(name);
        if (file == nullptr) {
            std::fprintf(options_.out, "File i/o error: %s\n", name.c_str());
            return false;
        }
        // Flushed before closing: some C runtimes report a failed final flush
        // from fflush but not from fclose.
        bool written = wav::write_file(file, frame, kChannels, rate_) && std::fflush(file) == 0;
        written = (std::fclose(file) == 0) && written;
        if (!written) {
            std::fprintf(options_.out, "File i/o error: %s\n", name.c_str());
            return false;
        }
        std::fprintf(options_.out, "Extracted: %s\n", name.c_str());
        return true;
    }

    std::FILE* archive_;
    const ExtractOptions& options_;
    std::uint32_t rate_ = kDefaultSampleRate;
    std::uint64_t archive_size_ = 0;
    std::vector<EntryRow> rows_;
    ScratchBuffer<std::uint8_t> size_bytes_;
    ScratchBuffer<std::int16_t> block_sizes_;
    ScratchBuffer<std::uint8_t> compressed_;
    ScratchBuffer<std::int16_t> samples_;
};

} // namespace

std::string clip_file_name(const std::string& base_name, int position) {
    char number[16];
    std::snprintf(number, sizeof number, "_%04d.wav", position);
    return base_name + number;
}

int extract_archive(const std::string& base_name, std::FILE* archive, const ExtractOptions& options,
                    ExtractStats* stats) {
    Extractor extractor(archive, options);
    int result = -1;
    try {
        result = extractor.run(base_name);
    } catch (const std::bad_alloc&) {
        // A buffer that cannot be had ends the extraction without a line.
        result = -1;
    }
    // Reported on failures too: they show that a refused entry got no buffer.
    if (stats != nullptr) {
        *stats = extractor.stats();
    }
    return result;
}

} // namespace pev::archive
