#include "support/archive_builder.hpp"
#include "support/temp_dir.hpp"
#include "wav/wav_reader.hpp"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

void append_u16(Bytes& out, unsigned value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void append_u32(Bytes& out, std::uint32_t value) {
    append_u16(out, value & 0xFFFF);
    append_u16(out, value >> 16);
}

void append_tag(Bytes& out, const std::string& tag) {
    out.insert(out.end(), tag.begin(), tag.end());
}

struct Chunk {
    std::string id;
    Bytes body;
    std::optional<std::uint32_t> claimed; // default: body.size()
};

// A RIFF file of the given chunks; odd bodies get their pad byte.
Bytes riff(const std::vector<Chunk>& chunks, const std::string& form = "WAVE") {
    Bytes out;
    append_tag(out, "RIFF");
    append_u32(out, 0); // never trusted by the reader
    append_tag(out, form);
    for (const Chunk& chunk : chunks) {
        append_tag(out, chunk.id);
        append_u32(out, chunk.claimed.value_or(static_cast<std::uint32_t>(chunk.body.size())));
        out.insert(out.end(), chunk.body.begin(), chunk.body.end());
        if (chunk.body.size() % 2 == 1) {
            out.push_back(0);
        }
    }
    return out;
}

struct Format {
    unsigned tag = 1;
    unsigned channels = 1;
    std::uint32_t rate = 8000;
    unsigned bits = 16;
    std::optional<unsigned> block_align; // default: channels * bits / 8
    std::optional<unsigned> sub_format;  // makes an extensible header
    bool odd_guid = false;               // a sub-format GUID not of the PCM family

    Format& with_tag(unsigned v) { return tag = v, *this; }
    Format& with_channels(unsigned v) { return channels = v, *this; }
    Format& with_rate(std::uint32_t v) { return rate = v, *this; }
    Format& with_bits(unsigned v) { return bits = v, *this; }
    Format& with_block_align(unsigned v) { return block_align = v, *this; }
    Format& extensible(unsigned v) { return sub_format = v, *this; }
    Format& with_odd_guid() { return odd_guid = true, *this; }
};

Chunk fmt(const Format& f) {
    Bytes body;
    const unsigned align = f.block_align.value_or(f.channels * f.bits / 8);
    append_u16(body, f.sub_format ? 0xFFFE : f.tag);
    append_u16(body, f.channels);
    append_u32(body, f.rate);
    append_u32(body, f.rate * align);
    append_u16(body, align);
    append_u16(body, f.bits);
    if (f.sub_format) {
        append_u16(body, 22);     // extension size
        append_u16(body, f.bits); // valid bits
        append_u32(body, 4);      // channel mask
        append_u16(body, *f.sub_format);
        const Bytes tail = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                            0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
        body.insert(body.end(), tail.begin(), tail.end());
        if (f.odd_guid) {
            body.back() ^= 0xFF;
        }
    }
    return {"fmt ", body, std::nullopt};
}

Chunk data(const std::vector<std::int16_t>& samples) {
    Bytes body;
    for (const std::int16_t s : samples) {
        append_u16(body, static_cast<std::uint16_t>(s));
    }
    return {"data", body, std::nullopt};
}

const std::vector<std::int16_t> kSamples = {0, 1, -1, 32767, -32768, 1234};

TEST(WavReader, AcceptsTheShapesOtherProgramsWrite) {
    const Chunk list{"LIST",
                     Bytes{'I', 'N', 'F', 'O', 'I', 'S', 'F', 'T', 3, 0, 0, 0, 'a', 'b', 'c'},
                     std::nullopt}; // odd size: padded
    const Chunk odd{"junk", Bytes{1, 2, 3}, std::nullopt};
    struct Case {
        const char* name;
        Bytes file;
        std::vector<std::int16_t> samples = kSamples;
    };
    const Case cases[] = {
        {"canonical", riff({fmt(Format()), data(kSamples)})},
        {"empty data chunk at the very end", riff({fmt(Format()), data({})}), {}},
        {"LIST first, odd sized", riff({list, fmt(Format()), data(kSamples)})},
        {"fmt after data", riff({data(kSamples), fmt(Format())})},
        {"odd unknown chunk between", riff({fmt(Format()), odd, data(kSamples)})},
        {"fact chunk",
         riff({fmt(Format()), {"fact", Bytes{6, 0, 0, 0}, std::nullopt}, data(kSamples)})},
        {"extensible PCM", riff({fmt(Format().extensible(1)), data(kSamples)})},
        {"fmt with extra bytes", riff({{"fmt ",
                                        [] {
                                            Bytes body = fmt(Format()).body;
                                            body.insert(body.end(), {0, 0});
                                            return body;
                                        }(),
                                        std::nullopt},
                                       data(kSamples)})},
        {"second data chunk ignored", riff({fmt(Format()), data(kSamples), data({5, 5})})},
    };
    for (const Case& c : cases) {
        const pev::wav::WavReadResult result = pev::wav::parse_wav(c.file);
        ASSERT_TRUE(result.ok()) << c.name << ": " << result.error;
        EXPECT_EQ(result.clip.sample_rate, 8000u) << c.name;
        EXPECT_EQ(result.clip.samples, c.samples) << c.name;
        EXPECT_TRUE(result.clip.warnings.empty()) << c.name;
    }
}

TEST(WavReader, DataLargerThanTheFileTakesWhatIsThereAndSaysSo) {
    for (const std::uint32_t claimed : {100u, 0xFFFFFFFFu}) {
        Chunk chunk = data(kSamples);
        chunk.claimed = claimed;
        const pev::wav::WavReadResult result = pev::wav::parse_wav(riff({fmt(Format()), chunk}));
        ASSERT_TRUE(result.ok()) << result.error;
        EXPECT_EQ(result.clip.samples, kSamples);
        ASSERT_EQ(result.clip.warnings.size(), 1u);
        EXPECT_NE(result.clip.warnings[0].find("claims " + std::to_string(claimed) + " bytes"),
                  std::string::npos)
            << result.clip.warnings[0];
    }
}

TEST(WavReader, HalfASampleAtTheEndIsDroppedWithAWarning) {
    Chunk chunk = data(kSamples);
    chunk.body.push_back(0x7F);
    const pev::wav::WavReadResult result = pev::wav::parse_wav(riff({fmt(Format()), chunk}));
    ASSERT_TRUE(result.ok()) << result.error;
    EXPECT_EQ(result.clip.samples, kSamples);
    EXPECT_EQ(result.clip.warnings.size(), 1u);
}

TEST(WavReader, RefusesWhatItCannotPackSayingWhatItIs) {
    Chunk short_extensible = fmt(Format().extensible(1));
    short_extensible.body.resize(short_extensible.body.size() - 4);
    struct Case {
        const char* name;
        Bytes file;
        const char* says;
    };
    const Case cases[] = {
        {"empty", {}, "empty"},
        {"Ogg", Bytes{'O', 'g', 'g', 'S', 0, 0, 0, 0, 0, 0, 0, 0, 0}, "\"OggS\""},
        {"short RIFF", Bytes{'R', 'I', 'F', 'F', 0}, "not a RIFF file"},
        {"RIFX", riff({fmt(Format()), data(kSamples)}, "WAVE"), "RIFX"},
        {"RF64", riff({fmt(Format()), data(kSamples)}, "WAVE"), "RF64"},
        {"AVI", riff({}, "AVI "), "not WAVE (it starts with \"AVI \")"},
        {"no fmt", riff({data(kSamples)}), "no fmt chunk"},
        {"short fmt", riff({{"fmt ", Bytes(14), std::nullopt}, data(kSamples)}), "too short"},
        {"no data", riff({fmt(Format())}), "no data chunk"},
        {"stereo", riff({fmt(Format().with_channels(2)), data(kSamples)}), "16-bit stereo PCM"},
        {"six channels", riff({fmt(Format().with_channels(6)), data(kSamples)}), "6-channel"},
        {"8-bit", riff({fmt(Format().with_bits(8)), data(kSamples)}), "8-bit mono PCM"},
        {"24-bit", riff({fmt(Format().with_bits(24).extensible(1)), data(kSamples)}),
         "24-bit mono PCM"},
        {"32-bit", riff({fmt(Format().with_bits(32)), data(kSamples)}), "32-bit mono PCM"},
        {"float", riff({fmt(Format().with_tag(3).with_bits(32)), data(kSamples)}),
         "floating-point"},
        {"extensible float", riff({fmt(Format().with_bits(32).extensible(3)), data(kSamples)}),
         "floating-point"},
        {"A-law", riff({fmt(Format().with_tag(6).with_bits(8)), data(kSamples)}),
         "A-law-compressed"},
        {"mu-law", riff({fmt(Format().with_tag(7).with_bits(8)), data(kSamples)}),
         "mu-law-compressed"},
        {"ADPCM", riff({fmt(Format().with_tag(2).with_bits(4)), data(kSamples)}),
         "ADPCM-compressed"},
        {"MP3", riff({fmt(Format().with_tag(0x55).with_bits(0)), data(kSamples)}),
         "MPEG-compressed"},
        {"unknown tag", riff({fmt(Format().with_tag(0x1234)), data(kSamples)}),
         "format tag 0x1234"},
        {"unknown GUID", riff({fmt(Format().extensible(1).with_odd_guid()), data(kSamples)}),
         "unknown sub-format"},
        {"short extensible", riff({short_extensible, data(kSamples)}),
         "extensible fmt chunk is too short"},
        {"block align", riff({fmt(Format().with_block_align(4)), data(kSamples)}),
         "block align is 4"},
        {"rate 0", riff({fmt(Format().with_rate(0)), data(kSamples)}), "sample rate is 0"},
    };
    for (Case c : cases) {
        if (std::string(c.name) == "RIFX" || std::string(c.name) == "RF64") {
            std::copy_n(c.name, 4, c.file.begin());
        }
        const pev::wav::WavReadResult result = pev::wav::parse_wav(c.file);
        ASSERT_FALSE(result.ok()) << c.name;
        EXPECT_NE(result.error.find(c.says), std::string::npos) << c.name << ": " << result.error;
    }
}

// Every prefix of a file (a download cut short) is either refused or read up
// to where it stops; nothing is read beyond the bytes given.
TEST(WavReader, EveryTruncationIsHandled) {
    const Bytes whole =
        riff({{"LIST", Bytes(9, 'x'), std::nullopt}, fmt(Format().extensible(1)), data(kSamples)});
    for (std::size_t size = 0; size <= whole.size(); ++size) {
        const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
        const pev::wav::WavReadResult result = pev::wav::parse_wav(cut);
        if (result.ok()) {
            EXPECT_LE(result.clip.samples.size(), kSamples.size());
            EXPECT_TRUE(std::equal(result.clip.samples.begin(), result.clip.samples.end(),
                                   kSamples.begin()));
        }
    }
}

std::string fixture(const std::string& name) {
    return std::string(PEV_SOURCE_DIR) + "/tests/wav/fixtures/" + name;
}

// Files sox and ffmpeg wrote, kept in the repository so the test runs
// everywhere (tests/wav/fixtures/make_fixtures.sh remakes them).
TEST(WavReaderFixtures, AcceptsSoxAndFfmpegOutput) {
    struct Case {
        const char* file;
        std::uint32_t rate;
        std::size_t samples;
    };
    const Case cases[] = {
        {"sox_pcm16.wav", 8000, 40},
        {"ffmpeg_pcm16_list.wav", 11025, 55},
        {"ffmpeg_pcm16_extensible.wav", 11025, 55},
        {"ffmpeg_pcm16_junk.wav", 11025, 55},
    };
    for (const Case& c : cases) {
        const pev::wav::WavReadResult result = pev::wav::read_wav_file(fixture(c.file));
        ASSERT_TRUE(result.ok()) << c.file << ": " << result.error;
        EXPECT_EQ(result.clip.sample_rate, c.rate) << c.file;
        EXPECT_EQ(result.clip.samples.size(), c.samples) << c.file;
        EXPECT_TRUE(result.clip.warnings.empty()) << c.file;
    }
    // The three ffmpeg files hold the same tone behind different headers.
    const auto list = pev::wav::read_wav_file(fixture("ffmpeg_pcm16_list.wav")).clip.samples;
    EXPECT_EQ(pev::wav::read_wav_file(fixture("ffmpeg_pcm16_extensible.wav")).clip.samples, list);
    EXPECT_EQ(pev::wav::read_wav_file(fixture("ffmpeg_pcm16_junk.wav")).clip.samples, list);
    EXPECT_NE(list, std::vector<std::int16_t>(55, 0));
}

TEST(WavReaderFixtures, RefusesOtherKindsFromSoxAndFfmpeg) {
    struct Case {
        const char* file;
        const char* says;
    };
    const Case cases[] = {
        {"sox_stereo.wav", "16-bit stereo PCM"},
        {"sox_u8.wav", "8-bit mono PCM"},
        {"sox_s24_extensible.wav", "24-bit mono PCM"},
        {"sox_s32_extensible.wav", "32-bit mono PCM"},
        {"sox_float.wav", "32-bit mono floating-point"},
        {"ffmpeg_float_extensible.wav", "32-bit mono floating-point"},
        {"sox_alaw.wav", "A-law-compressed"},
        {"sox_ulaw.wav", "mu-law-compressed"},
        {"sox_ima_adpcm.wav", "IMA-ADPCM-compressed"},
        {"sox_ms_adpcm.wav", "mono ADPCM-compressed"},
    };
    for (const Case& c : cases) {
        const pev::wav::WavReadResult result = pev::wav::read_wav_file(fixture(c.file));
        ASSERT_FALSE(result.ok()) << c.file;
        EXPECT_NE(result.error.find(c.says), std::string::npos) << c.file << ": " << result.error;
    }
}

TEST(WavReaderFixtures, TruncatedFfmpegFileIsReadUpToItsEnd) {
    Bytes bytes = pev::test::read_file(fixture("ffmpeg_pcm16_list.wav"));
    bytes.resize(bytes.size() - 10);
    const pev::wav::WavReadResult result = pev::wav::parse_wav(bytes);
    ASSERT_TRUE(result.ok()) << result.error;
    EXPECT_EQ(result.clip.samples.size(), 50u);
    EXPECT_EQ(result.clip.warnings.size(), 1u);
}

TEST(WavReaderFile, MissingFileSaysItCannotBeOpened) {
    const pev::test::TempDir dir;
    const pev::wav::WavReadResult result = pev::wav::read_wav_file(dir.file("missing.wav"));
    ASSERT_FALSE(result.ok());
    EXPECT_NE(result.error.find("cannot open"), std::string::npos) << result.error;
}

bool have_tool(const char* probe) {
    return std::system(probe) == 0;
}

// The same tools run now, on this machine's versions: every 16-bit mono file
// they write reads back sample for sample as their own raw dump.
TEST(WavReaderTools, ReadsWhatInstalledToolsWrite) {
    const bool sox = have_tool("sox --version >/dev/null 2>&1");
    const bool ffmpeg = have_tool("ffmpeg -version >/dev/null 2>&1");
    const bool espeak = have_tool("espeak-ng --version >/dev/null 2>&1");
    if (!sox) {
        GTEST_SKIP() << "sox is not installed";
    }
    const pev::test::TempDir dir;
    std::vector<std::string> made;
    auto run = [&](const std::string& command, const std::string& name) {
        ASSERT_EQ(std::system((command + " >/dev/null 2>&1").c_str()), 0) << command;
        made.push_back(name);
    };
    run("sox -n -r 16000 -b 16 -c 1 --comment hello '" + dir.file("sox.wav") +
            "' synth 0.3 pinknoise vol 0.3",
        "sox.wav");
    if (ffmpeg) {
        run("ffmpeg -y -f lavfi -i sine=frequency=300:sample_rate=16000:duration=0.3 "
            "-metadata title=clip -c:a pcm_s16le '" +
                dir.file("ffmpeg.wav") + "'",
            "ffmpeg.wav");
        run("ffmpeg -y -f lavfi -i sine=frequency=300:sample_rate=16000:duration=0.3 "
            "-af aformat=channel_layouts=FL -c:a pcm_s16le '" +
                dir.file("ffmpeg_ext.wav") + "'",
            "ffmpeg_ext.wav");
    }
    if (espeak) {
        run("espeak-ng -w '" + dir.file("espeak.wav") + "' 'test'", "espeak.wav");
    }
    const std::vector<std::string> written = made;
    for (const std::string& name : written) {
        const pev::wav::WavReadResult result = pev::wav::read_wav_file(dir.file(name));
        ASSERT_TRUE(result.ok()) << name << ": " << result.error;
        EXPECT_TRUE(result.clip.warnings.empty()) << name;
        run("sox '" + dir.file(name) + "' -t raw -e signed -b 16 -L '" + dir.file("dump.raw") + "'",
            "dump.raw");
        const Bytes raw = pev::test::read_file(dir.file("dump.raw"));
        ASSERT_EQ(raw.size(), 2 * result.clip.samples.size()) << name;
        for (std::size_t i = 0; i < result.clip.samples.size(); ++i) {
            ASSERT_EQ(static_cast<std::uint16_t>(result.clip.samples[i]),
                      raw[2 * i] | (raw[2 * i + 1] << 8))
                << name << " sample " << i;
        }
    }
}

} // namespace
