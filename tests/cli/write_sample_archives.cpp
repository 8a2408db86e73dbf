// Writes a few voice archives with every kind of block into a folder, so a
// script can run builds for different hosts on the same inputs and compare
// what they print and write byte for byte.
//
// Usage: write_sample_archives FOLDER

#include "support/archive_builder.hpp"
#include "support/sample_archives.hpp"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using pev::test::TestArchive;
using pev::test::TestEntry;

// A fixed pseudo-random byte stream, the same on every host.
class ByteStream {
  public:
    std::uint8_t next() {
        state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<std::uint8_t>(state_ >> 56);
    }

  private:
    std::uint64_t state_ = 0x5EED;
};

void add_block(TestEntry& entry, std::int16_t size, ByteStream& bytes) {
    entry.block_sizes.push_back(size);
    const int stored = size == 0 ? 0 : size;
    for (int i = 0; i < stored; ++i) {
        entry.bytes.push_back(bytes.next());
    }
}

// Delta blocks of many lengths between silent and raw blocks. Every entry
// ends with a raw block, so an escape begun in the last nibble of a delta
// block still takes its code from stored bytes.
TestArchive mixed_archive(ByteStream& bytes) {
    TestArchive archive;
    archive.samples_per_sec = 44100;
    const std::int16_t delta_sizes[] = {1, 2, 3, 17, 255, 256, 1023, 1025, 4000, 32767};
    std::uint16_t id = 100;
    for (const std::int16_t size : delta_sizes) {
        TestEntry entry;
        entry.id = id++;
        add_block(entry, 0, bytes);
        add_block(entry, size, bytes);
        add_block(entry, static_cast<std::int16_t>(size == 1 ? 2 : size / 2), bytes);
        add_block(entry, 1024, bytes);
        archive.entries.push_back(entry);
    }
    // A long clip: more than 64 KiB of samples in raw blocks.
    TestEntry long_entry;
    long_entry.id = 7;
    for (int i = 0; i < 40; ++i) {
        add_block(long_entry, 1024, bytes);
    }
    archive.entries.push_back(long_entry);
    return archive;
}

// Large enough that the extraction decodes ahead on a second thread.
TestArchive decoded_ahead_archive() {
    ByteStream bytes;
    TestArchive archive;
    for (int i = 0; i < 3; ++i) {
        const TestArchive part = mixed_archive(bytes);
        archive.entries.insert(archive.entries.end(), part.entries.begin(), part.entries.end());
    }
    return archive;
}

TestArchive rate_zero_archive() {
    TestArchive archive = pev::test::three_clip_archive();
    archive.samples_per_sec = 0;
    return archive;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: write_sample_archives FOLDER\n", stderr);
        return 2;
    }
    const std::string folder = argv[1];
    pev::test::write_file(folder + "/three_clips.pev",
                          pev::test::build_archive(pev::test::three_clip_archive()));
    ByteStream bytes;
    pev::test::write_file(folder + "/mixed.pev", pev::test::build_archive(mixed_archive(bytes)));
    pev::test::write_file(folder + "/decoded_ahead.pev",
                          pev::test::build_archive(decoded_ahead_archive()));
    pev::test::write_file(folder + "/rate_zero.pev", pev::test::build_archive(rate_zero_archive()));
    return 0;
}
