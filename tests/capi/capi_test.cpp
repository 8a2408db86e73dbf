// The C library's contract: every error code from bad input or misuse,
// buffers asked for first, and decoded clips identical to Pev2wav's files.

#include "capi/capi_support.hpp"
#include "support/archive_builder.hpp"
#include "support/process.hpp"
#include "support/sample_archives.hpp"
#include "support/temp_dir.hpp"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <set>
#include <string>

namespace pev::test {
namespace {

const std::string kDemo = PEV_SOURCE_DIR "/examples/demo.pev";

Bytes with_count(std::int32_t count) {
    Bytes bytes = build_archive(three_clip_archive());
    for (int i = 0; i < 4; ++i) {
        bytes[16 + i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(count) >> (8 * i));
    }
    return bytes;
}

Bytes one_entry(TestEntry entry) {
    TestArchive archive;
    archive.entries = {std::move(entry)};
    return build_archive(archive);
}

TestEntry entry_of(std::vector<std::int16_t> sizes, std::size_t byte_count) {
    TestEntry entry;
    entry.block_sizes = std::move(sizes);
    entry.bytes.assign(byte_count, 0x11);
    return entry;
}

// One clip's verdict, the same from the info and from every way to decode
// it; PEV_ERR_INVALID_ARGUMENT stands for a disagreement.
pev_status clip_verdict(std::span<const std::uint8_t> bytes, std::size_t index = 0) {
    const ArchiveHandle archive = open_bytes(bytes);
    pev_clip_info info{};
    std::size_t size = 0;
    const TempDir dir;
    if (!archive || pev_get_clip_info(archive.get(), index, &info) != PEV_OK ||
        pev_decode_clip(archive.get(), index, nullptr, 0, &size) != info.problem ||
        pev_decode_clip_wav(archive.get(), index, nullptr, 0, &size) != info.problem ||
        pev_decode_clip_to_file(archive.get(), index, dir.file("x.wav").c_str(), 0) !=
            info.problem) {
        return PEV_ERR_INVALID_ARGUMENT;
    }
    return info.problem;
}

// What a scenario returns when this host cannot set it up: the case is
// skipped, not passed.
constexpr auto kCannotTryHere = static_cast<pev_status>(-1000);

// The too-long clip: 32769 delta blocks of 32767 bytes, which could decode
// to 2^31 samples; the 1 GiB archive is mostly untouched zero pages.
pev_status too_long_clip_verdict() {
    const std::size_t blocks = 32769;
    const ZeroPages pages(32 + 8 + 2 * blocks + blocks * 32767);
    if (pages.data() == nullptr) {
        return kCannotTryHere; // no such mapping on this host
    }
    const Bytes head = one_entry(entry_of({}, 0));
    std::copy(head.begin(), head.end(), pages.data());
    pages.data()[34] = blocks & 0xFF;
    pages.data()[35] = blocks >> 8;
    for (std::size_t i = 0; i < blocks; ++i) {
        pages.data()[40 + 2 * i] = 0xFF;
        pages.data()[41 + 2 * i] = 0x7F;
    }
    return clip_verdict({pages.data(), pages.size()});
}

WriterHandle new_writer(const pev_archive* like = nullptr) {
    pev_writer* writer = nullptr;
    EXPECT_EQ(like ? pev_writer_new_like(22050, like, &writer) : pev_writer_new(22050, &writer),
              PEV_OK);
    return {writer, pev_writer_free};
}

// Finishes `writer` in memory; `archive`, when given, gets the bytes.
pev_status finish_in_memory(pev_writer* writer, Bytes* archive = nullptr) {
    void* bytes = nullptr;
    std::size_t size = 0;
    const pev_status status = pev_writer_finish_memory(writer, &bytes, &size);
    if (status == PEV_OK && archive != nullptr) {
        const auto* first = static_cast<const std::uint8_t*>(bytes);
        archive->assign(first, first + size);
    }
    pev_free(bytes);
    return status;
}

// A clip of 65536 blocks' worth of samples, refused before it is read.
pev_status too_long_clip_added() {
    const std::size_t count = 65535 * 1024 + 1;
    const ZeroPages pages(2 * count);
    if (pages.data() == nullptr) {
        return kCannotTryHere;
    }
    return pev_writer_add_clip(new_writer().get(),
                               reinterpret_cast<const std::int16_t*>(pages.data()), count);
}

struct ErrorCase {
    pev_status code;
    std::function<pev_status()> scenario;
};

std::vector<ErrorCase> error_cases() {
    static const Bytes three = build_archive(three_clip_archive());
    static const TempDir dir;
    const auto archive = [] { return open_bytes(three); };
    return {
        {PEV_OK, [] { return open_status(three); }},
        {PEV_ERR_INVALID_ARGUMENT, [] { return pev_open_memory(nullptr, 4, nullptr); }},
        {PEV_ERR_INVALID_ARGUMENT, [archive] { return pev_clip_count(archive().get(), nullptr); }},
        {PEV_ERR_INVALID_ARGUMENT,
         [archive] { return pev_decode_clip(archive().get(), 0, nullptr, 5, nullptr); }},
        {PEV_ERR_INVALID_ARGUMENT,
         [archive] {
             return pev_decode_clip_to_file(archive().get(), 0, dir.file("a").c_str(), 2);
         }},
        {PEV_ERR_CLIP_INDEX,
         [archive] {
             pev_clip_info info;
             return pev_get_clip_info(archive().get(), 3, &info);
         }},
        {PEV_ERR_BUFFER_TOO_SMALL,
         [archive] {
             std::size_t size;
             return pev_decode_clip_wav(archive().get(), 0, nullptr, 0, &size);
         }},
        {PEV_ERR_CANNOT_OPEN,
         [] {
             pev_archive* a = nullptr;
             return pev_open_file((dir.file("absent") + ".pev").c_str(), &a);
         }},
        {PEV_ERR_CANNOT_WRITE,
         [archive] {
             return pev_decode_clip_to_file(archive().get(), 0, dir.file("no/dir.wav").c_str(), 0);
         }},
        {PEV_ERR_FILE_EXISTS,
         [archive] {
             write_file(dir.file("taken.wav"), {1, 2, 3});
             return pev_decode_clip_to_file(archive().get(), 0, dir.file("taken.wav").c_str(), 0);
         }},
        {PEV_ERR_CANNOT_WRITE,
         [archive] {
             std::filesystem::create_directory(dir.file("folder.wav"));
             return pev_decode_clip_to_file(archive().get(), 0, dir.file("folder.wav").c_str(),
                                            PEV_REPLACE);
         }},
        {PEV_ERR_NOT_A_FILE,
         [] {
             pev_archive* a = nullptr;
             return pev_open_file(dir.path().string().c_str(), &a);
         }},
        {PEV_ERR_IO,
         [] {
             // A source that ends before the size it was opened with.
             pev_archive* a = nullptr;
             return pev_open_callbacks(
                 [](void*, std::uint64_t, void*, std::size_t) -> std::int64_t { return 0; }, 100,
                 nullptr, &a);
         }},
        {PEV_ERR_WAV_REFUSED,
         [] {
             pev_wav* wav = nullptr;
             const pev_status status = pev_wav_read("RIFF", 4, &wav);
             pev_wav_free(wav);
             return status;
         }},
        {PEV_ERR_NOT_AN_ARCHIVE, [] { return open_status({}); }},
        {PEV_ERR_NOT_AN_ARCHIVE, [] { return open_status(std::span(three).first(31)); }},
        {PEV_ERR_NOT_AN_ARCHIVE,
         [] {
             Bytes bytes = three;
             bytes[5] = 'X';
             return open_status(bytes);
         }},
        {PEV_ERR_TOO_MANY_CLIPS, [] { return open_status(with_count(10000)); }},
        {PEV_ERR_NEGATIVE_COUNT, [] { return open_status(with_count(-1)); }},
        {PEV_ERR_TABLE_CUT_SHORT,
         [] { return open_status(std::span(three).first(32 + 8 * 3 - 1)); }},
        {PEV_ERR_BLOCK_TABLE_PAST_END,
         [] {
             TestEntry entry = entry_of({}, 0);
             entry.block_count = 40;
             return clip_verdict(one_entry(entry));
         }},
        {PEV_ERR_MALFORMED_BLOCK_SIZE,
         [] {
             return clip_verdict(one_entry(entry_of({4, -2}, 4)));
         }},
        {PEV_ERR_BYTES_PAST_ROOM,
         [] {
             TestArchive a;
             a.entries = {entry_of({30}, 10), entry_of({2}, 2)};
             return clip_verdict(build_archive(a));
         }},
        {PEV_ERR_BYTES_PAST_END,
         [] {
             // The next row's offset is below this one's, so its room wraps
             // to about 4 GiB; only the file's end refuses it.
             TestArchive a;
             a.entries = {entry_of({20000}, 8), entry_of({2}, 2)};
             a.entries[1].data_offset = 40;
             return clip_verdict(build_archive(a));
         }},
        {PEV_ERR_TOO_LONG_FOR_WAV, too_long_clip_verdict},
        {PEV_ERR_INVALID_ARGUMENT,
         [] {
             pev_writer* writer = nullptr;
             return pev_writer_new(0, &writer);
         }},
        {PEV_ERR_WRITER_FINISHED,
         [] {
             const WriterHandle writer = new_writer();
             finish_in_memory(writer.get());
             return pev_writer_add_clip(writer.get(), nullptr, 0);
         }},
        {PEV_ERR_TOO_MANY_CLIPS,
         [] {
             const WriterHandle writer = new_writer();
             pev_status status = PEV_OK;
             for (int i = 0; i < 10000 && status == PEV_OK; ++i) {
                 status = pev_writer_add_clip(writer.get(), nullptr, 0);
             }
             return status;
         }},
        {PEV_ERR_CLIP_TOO_LONG, too_long_clip_added},
        {PEV_ERR_LIKE_MISMATCH,
         [archive] {
             const WriterHandle writer = new_writer(archive().get());
             pev_writer_add_clip(writer.get(), nullptr, 0);
             return finish_in_memory(writer.get());
         }},
        {PEV_ERR_LIKE_MISMATCH, // one clip too many fails when it is added
         [archive] {
             const WriterHandle writer = new_writer(archive().get());
             for (int i = 0; i < 3; ++i) {
                 EXPECT_EQ(pev_writer_add_clip(writer.get(), nullptr, 0), PEV_OK);
             }
             return pev_writer_add_clip(writer.get(), nullptr, 0);
         }},
        {PEV_ERR_NOT_AN_ARCHIVE,
         [] {
             write_file(dir.file("short.pev"), {'P', 'E', 'V'});
             pev_writer* writer = nullptr;
             return pev_writer_new_like_file(22050, dir.file("short.pev").c_str(), &writer);
         }},
    };
}

TEST(CapiErrors, EveryCodeFromBadInputOrMisuse) {
    std::set<int> seen;
    std::string untried;
    for (const ErrorCase& c : error_cases()) {
        const pev_status status = c.scenario();
        if (status == kCannotTryHere) {
            untried += std::string(" ") + pev_strerror(c.code) + ";";
            continue;
        }
        EXPECT_EQ(status, c.code) << pev_strerror(c.code);
        seen.insert(c.code);
    }
    // Not reachable from input: running out of memory, a fault of the
    // library, and an archive past 4 GiB (it would take gigabytes of samples
    // and hours).
    std::set<std::string> phrases;
    for (int code = 0; code < 64; ++code) {
        const std::string phrase = pev_strerror(code);
        if (phrase != "unknown status") {
            EXPECT_TRUE(seen.count(code) != 0 || code == PEV_ERR_NO_MEMORY ||
                        code == PEV_ERR_INTERNAL || code == PEV_ERR_ARCHIVE_TOO_LARGE ||
                        !untried.empty())
                << code << " " << phrase << " is never reached";
            EXPECT_TRUE(phrases.insert(phrase).second) << phrase;
        }
    }
    EXPECT_EQ(std::string(pev_strerror(-7)), "unknown status");
    if (!untried.empty()) {
        GTEST_SKIP() << "no large enough mapping on this host for:" << untried;
    }
}

// Each size-asking call with no buffer, one element short, exactly enough
// and more than enough: what it returns, the size it stores, and that it
// writes nothing beyond what it reports.
TEST(CapiDecode, TheSizeNeededIsAskedFirst) {
    const Bytes bytes = build_archive(three_clip_archive());
    const ArchiveHandle archive = open_bytes(bytes);
    for (std::size_t clip = 0; clip < 3; ++clip) {
        for (const bool wav : {false, true}) {
            const std::size_t unit = wav ? 1 : 2;
            const std::size_t needed = wav ? decode_wav(archive.get(), clip).size()
                                           : decode_samples(archive.get(), clip).size();
            ASSERT_GT(needed, 0u);
            for (const std::size_t capacity : {std::size_t{0}, needed - 1, needed, needed + 5}) {
                Bytes buffer(capacity * unit + 64, 0xA5);
                void* data = capacity == 0 ? nullptr : buffer.data();
                std::size_t size = 12345;
                const pev_status status =
                    wav ? pev_decode_clip_wav(archive.get(), clip, data, capacity, &size)
                        : pev_decode_clip(archive.get(), clip, static_cast<std::int16_t*>(data),
                                          capacity, &size);
                EXPECT_EQ(status, capacity < needed ? PEV_ERR_BUFFER_TOO_SMALL : PEV_OK);
                EXPECT_EQ(size, needed);
                const std::size_t written = status == PEV_OK ? needed * unit : 0;
                EXPECT_EQ(std::count(buffer.begin() + static_cast<std::ptrdiff_t>(written),
                                     buffer.end(), 0xA5),
                          static_cast<std::ptrdiff_t>(buffer.size() - written))
                    << "clip " << clip << (wav ? " wav" : " samples") << " capacity " << capacity;
            }
        }
    }
}

// Pev2wav's files against the library's images, from memory and from the
// file, its WAV files and its streaming reader, for the demo archive, the
// shared samples and the demo cut 200 bytes short: the bytes its last clip's
// sizes place past the end read as zeros everywhere, never as what the
// clips before left in a buffer.
TEST(CapiDecode, SameBytesAsPev2wav) {
    const Bytes demo = read_file(kDemo);
    const Bytes cut(demo.begin(), demo.end() - 200);
    for (const Bytes& bytes : {demo, build_archive(three_clip_archive()), cut}) {
        const TempDir dir;
        write_file(dir.file("a.pev"), bytes);
        const ProcessResult run =
            run_process(PEV_BINARY_DIR "/Pev2wav", {"a"}, dir.path().string());
        ASSERT_EQ(run.status, 0) << run.out;
        const ArchiveHandle from_memory = open_bytes(bytes);
        const ArchiveHandle from_file = open_path(dir.file("a.pev"));
        std::size_t count = 0;
        ASSERT_EQ(pev_clip_count(from_file.get(), &count), PEV_OK);
        ASSERT_EQ(count, 3u);
        for (std::size_t i = 0; i < count; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "a_%04zu.wav", i + 1);
            const Bytes expected = read_file(dir.file(name));
            EXPECT_EQ(decode_wav(from_memory.get(), i), expected) << name;
            EXPECT_EQ(decode_wav(from_file.get(), i), expected) << name;
            const std::string copy = dir.file(std::string("copy_") + name);
            ASSERT_EQ(pev_decode_clip_to_file(from_file.get(), i, copy.c_str(), 0), PEV_OK);
            EXPECT_EQ(read_file(copy), expected) << name;

            std::vector<std::int16_t> samples = decode_samples(from_memory.get(), i);
            pev_clip_info info{};
            ASSERT_EQ(pev_get_clip_info(from_memory.get(), i, &info), PEV_OK);
            EXPECT_EQ(info.sample_count, samples.size());
            pev_reader* reader = nullptr;
            ASSERT_EQ(pev_reader_open(from_file.get(), i, &reader), PEV_OK);
            std::vector<std::int16_t> streamed(samples.size() + 1);
            std::size_t got = 0;
            for (std::size_t step = 0; step < streamed.size(); step += got) {
                // Reads of 999 frames, across block boundaries.
                const std::size_t asked = std::min<std::size_t>(999, streamed.size() - step);
                ASSERT_EQ(pev_reader_read(reader, &streamed[step], asked, &got), PEV_OK);
                if (got == 0) {
                    streamed.resize(step);
                    break;
                }
            }
            pev_reader_close(reader);
            EXPECT_EQ(streamed, samples) << name << " streamed";
            ASSERT_EQ(expected.size(), 44 + 2 * samples.size());
            for (std::size_t s = 0; s < samples.size(); ++s) {
                ASSERT_EQ(samples[s], static_cast<std::int16_t>(expected[44 + 2 * s] |
                                                                expected[45 + 2 * s] << 8));
            }
        }
        // Only the files asked for: no temporary file stays behind.
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}),
                  1 + 2 * static_cast<std::ptrdiff_t>(count));
    }
}

TEST(CapiInfo, DemoClips) {
    struct Expected {
        std::uint16_t id, blocks;
        std::uint32_t silent, raw, delta;
        std::uint64_t stored, samples;
    };
    const Expected expected[] = {{0, 118, 26, 15, 77, 73167, 120828},
                                 {1, 101, 22, 44, 35, 75898, 103248},
                                 {2, 120, 15, 24, 81, 84239, 122202}};
    const ArchiveHandle archive = open_path(kDemo);
    std::uint32_t rate = 0;
    ASSERT_EQ(pev_sample_rate(archive.get(), &rate), PEV_OK);
    EXPECT_EQ(rate, 22050u);
    for (std::size_t i = 0; i < 3; ++i) {
        pev_clip_info info{};
        ASSERT_EQ(pev_get_clip_info(archive.get(), i, &info), PEV_OK);
        const Expected& e = expected[i];
        EXPECT_EQ(info.problem, PEV_OK);
        EXPECT_EQ(std::tie(info.entry_id, info.block_count, info.silent_blocks, info.raw_blocks,
                           info.delta_blocks, info.stored_bytes, info.sample_count),
                  std::tie(e.id, e.blocks, e.silent, e.raw, e.delta, e.stored, e.samples));
    }
}

TEST(CapiDecode, ToFileReplacesOnlyWhenAsked) {
    const TempDir dir;
    const ArchiveHandle archive = open_path(kDemo);
    const std::string path = dir.file("clip.wav");
    write_file(path, {1, 2, 3});
    EXPECT_EQ(pev_decode_clip_to_file(archive.get(), 1, path.c_str(), 0), PEV_ERR_FILE_EXISTS);
    EXPECT_EQ(read_file(path), (Bytes{1, 2, 3}));
    EXPECT_EQ(pev_decode_clip_to_file(archive.get(), 1, path.c_str(), PEV_REPLACE), PEV_OK);
    EXPECT_EQ(read_file(path), decode_wav(archive.get(), 1));
}

// The demo's clips packed like it give back the demo byte for byte, in
// memory and in a file, as Wav2pev does with its WAV files; a clip of odd
// length comes back with its last level repeated.
TEST(CapiPack, DecodedClipsPackBackIntoTheSameArchive) {
    const TempDir dir;
    const Bytes demo = read_file(kDemo);
    const ArchiveHandle archive = open_bytes(demo);
    pev_writer* from_file = nullptr;
    ASSERT_EQ(pev_writer_new_like_file(22050, kDemo.c_str(), &from_file), PEV_OK);
    const WriterHandle writers[] = {new_writer(archive.get()), {from_file, pev_writer_free}};
    for (const WriterHandle& writer : writers) {
        for (std::size_t i = 0; i < 3; ++i) {
            const std::vector<std::int16_t> clip = decode_samples(archive.get(), i);
            ASSERT_EQ(pev_writer_add_clip(writer.get(), clip.data(), clip.size()), PEV_OK);
        }
    }
    Bytes packed;
    ASSERT_EQ(finish_in_memory(writers[0].get(), &packed), PEV_OK);
    EXPECT_TRUE(packed == demo);
    const std::string path = dir.file("again.pev");
    write_file(path, {1});
    EXPECT_EQ(pev_writer_finish_file(writers[1].get(), path.c_str(), 0), PEV_ERR_FILE_EXISTS);
    EXPECT_EQ(pev_writer_finish_file(writers[1].get(), path.c_str(), PEV_REPLACE), PEV_OK);
    EXPECT_TRUE(read_file(path) == demo);

    const std::int16_t odd[] = {1000, -1000, 5000};
    const WriterHandle writer = new_writer();
    ASSERT_EQ(pev_writer_add_clip(writer.get(), odd, 3), PEV_OK);
    ASSERT_EQ(finish_in_memory(writer.get(), &packed), PEV_OK);
    const std::vector<std::int16_t> back = decode_samples(open_bytes(packed).get(), 0);
    ASSERT_EQ(back.size(), 4u);
    EXPECT_EQ(back[3], back[2]);
    // Packing what was decoded stores the same levels again.
    const WriterHandle again = new_writer();
    ASSERT_EQ(pev_writer_add_clip(again.get(), back.data(), back.size()), PEV_OK);
    Bytes repacked;
    ASSERT_EQ(finish_in_memory(again.get(), &repacked), PEV_OK);
    EXPECT_EQ(decode_samples(open_bytes(repacked).get(), 0), back);

    // An archive of no clips keeps its rate too.
    pev_writer* empty = nullptr;
    ASSERT_EQ(pev_writer_new(44100, &empty), PEV_OK);
    ASSERT_EQ(finish_in_memory(WriterHandle(empty, pev_writer_free).get(), &packed), PEV_OK);
    std::uint32_t rate = 0;
    EXPECT_EQ(pev_sample_rate(open_bytes(packed).get(), &rate), PEV_OK);
    EXPECT_EQ(rate, 44100u);
}

} // namespace
} // namespace pev::test
