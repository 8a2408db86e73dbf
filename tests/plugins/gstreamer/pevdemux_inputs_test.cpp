// pevdemux in real pipelines, pulled by filesrc and pushed through a queue,
// on the demo, on archives with damaged clips, on the fuzzers' seeds and on
// every input that ever broke a fuzz target: it must give exactly the
// samples of the clips libpev can decode, in order, warn of each clip left
// out, and end with an error message, never a crash, where the file cannot
// be opened. Sanitizer builds run it on their own build of the element.

#include "capi/capi_support.hpp"
#include "common/clip_list.hpp"
#include "pev_plugin.hpp"
#include "support/archive_builder.hpp"
#include "support/sample_archives.hpp"
#include "support/temp_dir.hpp"

#include <filesystem>
#include <gtest/gtest.h>

namespace pev::test {
namespace {

struct Outcome {
    std::vector<std::int16_t> samples;
    std::vector<guint> warned; // positions of the clips left out
    bool ended = false;        // end of stream reached
    bool failed = false;       // an error message came
};

// GStreamer for the whole program: initialised with the plugin registered
// from this build's code, and let go of at the end (its clock and worker
// threads), so that memory checkers see no leak of its own.
class GStreamer : public ::testing::Environment {
  public:
    void SetUp() override {
        // GStreamer's own elements (filesrc, queue, fakesink) come from the
        // system, listed in a registry of the build tree's, not the user's.
        g_setenv("GST_REGISTRY_1_0", PEV_BINARY_DIR "/tests/gst-registry.bin", TRUE);
        g_setenv("GST_PLUGIN_PATH_1_0", "", TRUE);
        gst_init(nullptr, nullptr);
        ASSERT_TRUE(gst_plugin_register_static(GST_VERSION_MAJOR, GST_VERSION_MINOR, "pev",
                                               "voice archives", pev_plugin_register, "test", "MIT",
                                               "pev2wav", "Pev2wav", "test"));
    }
    void TearDown() override { gst_deinit(); }
};
const auto* const gstreamer = ::testing::AddGlobalTestEnvironment(new GStreamer);

void keep_samples(GstElement*, GstBuffer* buffer, GstPad*, gpointer outcome) {
    GstMapInfo map;
    gst_buffer_map(buffer, &map, GST_MAP_READ);
    for (gsize i = 0; i + 1 < map.size; i += 2) { // little-endian whatever the host
        static_cast<Outcome*>(outcome)->samples.push_back(
            static_cast<std::int16_t>(map.data[i] | map.data[i + 1] << 8));
    }
    gst_buffer_unmap(buffer, &map);
}

Outcome play(const std::string& path, bool pushed, guint clip) {
    const std::string description = std::string("filesrc name=source ! ") +
                                    (pushed ? "queue ! " : "") +
                                    "pevdemux clip=" + std::to_string(clip) +
                                    " ! fakesink name=sink sync=false signal-handoffs=true";
    GstElement* pipeline = gst_parse_launch(description.c_str(), nullptr);
    Outcome outcome;
    GstElement* source = gst_bin_get_by_name(GST_BIN(pipeline), "source");
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    g_object_set(source, "location", path.c_str(), nullptr);
    g_signal_connect(sink, "handoff", G_CALLBACK(keep_samples), &outcome);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(pipeline);
    // A hang fails here, not at the test's time limit.
    while (GstMessage* message = gst_bus_timed_pop_filtered(
               bus, 60 * GST_SECOND,
               static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR |
                                           GST_MESSAGE_WARNING))) {
        const GstMessageType type = GST_MESSAGE_TYPE(message);
        if (type == GST_MESSAGE_WARNING) {
            const GstStructure* details = nullptr;
            guint position = 0;
            gst_message_parse_warning_details(message, &details);
            if (details != nullptr && gst_structure_get_uint(details, "position", &position)) {
                outcome.warned.push_back(position);
            }
        }
        outcome.ended = type == GST_MESSAGE_EOS;
        outcome.failed = type == GST_MESSAGE_ERROR;
        gst_message_unref(message);
        if (type != GST_MESSAGE_WARNING) {
            break;
        }
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(bus);
    gst_object_unref(source);
    gst_object_unref(sink);
    gst_object_unref(pipeline);
    return outcome;
}

// What libpev says the element must give.
void expect_plays_as_libpev(const std::string& path, guint clip = 0) {
    const Bytes bytes = read_file(path);
    pev_archive* opened = nullptr;
    const pev_status status = pev_open_memory(bytes.data(), bytes.size(), &opened);
    const ArchiveHandle archive(opened, pev_close);
    player::ClipList list;
    const bool playable = status == PEV_OK && player::list_clips(opened, clip, list) == PEV_OK;
    std::vector<std::int16_t> samples;
    std::vector<guint> skipped;
    for (const player::ListedClip& listed : list.clips) {
        const std::vector<std::int16_t> decoded = decode_samples(archive.get(), listed.index);
        samples.insert(samples.end(), decoded.begin(), decoded.end());
    }
    for (const player::SkippedClip& left_out : list.skipped) {
        skipped.push_back(static_cast<guint>(left_out.index + 1));
    }
    for (const bool pushed : {false, true}) {
        SCOPED_TRACE(path + (pushed ? ", pushed" : ", pulled") + ", clip " + std::to_string(clip));
        const Outcome outcome = play(path, pushed, clip);
        EXPECT_EQ(outcome.failed, !playable);
        EXPECT_EQ(outcome.ended, playable);
        EXPECT_EQ(outcome.samples, samples);
        EXPECT_EQ(outcome.warned, playable ? skipped : std::vector<guint>{});
    }
}

TEST(PevDemux, PlaysWhatLibpevDecodesOfEveryArchive) {
    const TempDir dir;
    TestArchive damaged = three_clip_archive();
    damaged.entries.insert(
        damaged.entries.begin() + 1,
        TestEntry{20, {static_cast<std::int16_t>(0x8004)}, {1, 2, 3, 4}, {}, {}});
    write_file(dir.file("damaged.pev"), build_archive(damaged));
    Bytes cut = read_file(PEV_SOURCE_DIR "/examples/demo.pev");
    cut.resize(cut.size() - 1000);
    write_file(dir.file("cut.pev"), cut);
    write_file(dir.file("empty.pev"), build_archive(TestArchive{}));
    write_file(dir.file("text.pev"), Bytes{'n', 'o', 't', ' ', 'a', 'n', ' ', 'a', 'r', 'c', 'h'});
    write_file(dir.file("nothing.pev"), Bytes{});

    std::vector<std::string> paths = {PEV_SOURCE_DIR "/examples/demo.pev",
                                      dir.file("damaged.pev"),
                                      dir.file("cut.pev"),
                                      dir.file("empty.pev"),
                                      dir.file("text.pev"),
                                      dir.file("nothing.pev")};
    for (const char* folder : {"/fuzz/seeds/capi", "/fuzz/seeds/extract", "/tests/fuzz_corpus/capi",
                               "/tests/fuzz_corpus/extract"}) {
        for (const auto& entry :
             std::filesystem::directory_iterator(PEV_SOURCE_DIR + std::string(folder))) {
            paths.push_back(entry.path().string());
        }
    }
    for (const std::string& path : paths) {
        expect_plays_as_libpev(path);
    }
}

TEST(PevDemux, PlaysTheOneClipAskedForOrSaysWhyNot) {
    const TempDir dir;
    TestArchive damaged = three_clip_archive();
    damaged.entries[1].block_sizes = {static_cast<std::int16_t>(0x8004)};
    write_file(dir.file("damaged.pev"), build_archive(damaged));
    for (const guint clip : {1u, 3u, 2u, 4u}) { // 2 is damaged, 4 is past the end
        expect_plays_as_libpev(dir.file("damaged.pev"), clip);
    }
}

} // namespace
} // namespace pev::test
