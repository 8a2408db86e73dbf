// A clip's WAV file served in slices must be the same bytes, wherever a slice
// starts and ends, as the whole file extraction writes. The kernel asks for
// whole pages, so odd offsets and short reads are checked here, against the
// library, not only through a mount.

#include "archive/archive_reader.hpp"
#include "mount/clip_bytes.hpp"
#include "support/archive_builder.hpp"
#include "support/sample_archives.hpp"
#include "support/step_bound.hpp"
#include "support/temp_dir.hpp"
#include "wav/wav_writer.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <random>

namespace pev::test {
namespace {

std::shared_ptr<const mount::ArchiveGeneration> opened(const TempDir& dir,
                                                       const TestArchive& archive) {
    const std::string path = dir.file("a.pev");
    write_file(path, build_archive(archive));
    OpenResult refusal = OpenResult::ok;
    Error error;
    return mount::ArchiveGeneration::open(::open(path.c_str(), O_RDONLY | O_CLOEXEC), refusal,
                                          error);
}

// The WAV file extraction writes for clip `index`.
std::vector<std::uint8_t> extracted(const archive::ArchiveReader& reader, std::size_t index) {
    archive::ClipBuffers buffers;
    const archive::ClipInfo info = reader.inspect(index, buffers);
    const wav::Frame frame = reader.decode(info, buffers);
    const auto bytes = wav::frame_to_file_bytes(frame, 1, reader.sample_rate());
    return {bytes.begin(), bytes.end()};
}

TEST(ClipBytes, EverySliceIsTheExtractedFilesSlice) {
    // A read that never ends (one ending inside a sample, say) fails here
    // with a message, under valgrind too.
    const StepBound bound("ClipBytes: every slice", std::chrono::seconds(20));
    TempDir dir;
    TestArchive archive = three_clip_archive();
    archive.entries.push_back(silent_entry(13, 40)); // many blocks: seeks between them
    const auto generation = opened(dir, archive);
    ASSERT_TRUE(generation);
    mount::ClipBytes bytes(2); // fewer kept readers than clips: some are opened again
    // Front to back, as the kernel reads: each read goes on where the last
    // stopped, in odd steps.
    for (std::size_t index = 0; index < archive.entries.size(); ++index) {
        const std::vector<std::uint8_t> whole = extracted(generation->reader(), index);
        std::vector<std::uint8_t> got(whole.size() + 5000);
        std::size_t done = 0;
        for (long count = 1; count > 0; done += static_cast<std::size_t>(count)) {
            count = bytes.read(generation, index, done, std::span(got).subspan(done, 4093));
            ASSERT_GE(count, 0);
        }
        got.resize(done);
        EXPECT_EQ(got, whole) << "clip " << index << " read front to back";
    }
    std::mt19937 random(3);
    for (int round = 0; round < 400; ++round) {
        const std::size_t index = random() % archive.entries.size();
        const std::vector<std::uint8_t> whole = extracted(generation->reader(), index);
        ASSERT_EQ(generation->wav_size(index), whole.size());
        // Offsets in the header, at its end, odd ones, near and past the end.
        const std::uint64_t offsets[] = {0,
                                         1,
                                         43,
                                         44,
                                         45,
                                         whole.size() - 1,
                                         whole.size(),
                                         whole.size() + 7,
                                         random() % whole.size()};
        const std::size_t lengths[] = {1, 2, 3, 44, 4096, 70001, random() % 9000 + 1};
        const std::uint64_t offset = offsets[random() % std::size(offsets)];
        const std::size_t length = lengths[random() % std::size(lengths)];
        std::vector<std::uint8_t> got(length, 0xAA);
        const long count = bytes.read(generation, index, offset, got);
        const std::size_t from = std::min<std::size_t>(offset, whole.size());
        const std::size_t wanted = std::min(length, whole.size() - from);
        ASSERT_EQ(count, static_cast<long>(wanted)) << index << " at " << offset;
        EXPECT_TRUE(std::equal(got.begin(), got.begin() + count, whole.begin() + from))
            << "clip " << index << ", " << length << " bytes at " << offset;
        EXPECT_TRUE(std::all_of(got.begin() + count, got.end(), [](auto b) { return b == 0xAA; }));
    }
}

} // namespace
} // namespace pev::test
