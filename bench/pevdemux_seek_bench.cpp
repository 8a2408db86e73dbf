// How long a seek in pevdemux takes to land: from a flushing, accurate seek
// to a random sample until the paused pipeline has the buffer that starts
// there (the reader of its clip opened, one block decoded, the buffer
// through to the sink). Loads the plugin as players do, through
// GST_PLUGIN_PATH.
//
//   GST_PLUGIN_PATH=build/plugins/gstreamer pevdemux_seek_bench ARCHIVE [SEEKS]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <gst/gst.h>
#include <random>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    gst_init(&argc, &argv);
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: pevdemux_seek_bench ARCHIVE [SEEKS]\n");
        return 2;
    }
    const int seeks = argc == 3 ? std::atoi(argv[2]) : 500;
    GstElement* pipeline =
        gst_parse_launch("filesrc name=source ! pevdemux ! fakesink sync=false", nullptr);
    GstElement* source = gst_bin_get_by_name(GST_BIN(pipeline), "source");
    g_object_set(source, "location", argv[1], nullptr);
    gst_object_unref(source);
    gst_element_set_state(pipeline, GST_STATE_PAUSED);
    gint64 total = 0;
    if (gst_element_get_state(pipeline, nullptr, nullptr, 60 * GST_SECOND) !=
            GST_STATE_CHANGE_SUCCESS ||
        !gst_element_query_duration(pipeline, GST_FORMAT_DEFAULT, &total) || total <= 0) {
        std::fprintf(stderr, "pevdemux_seek_bench: %s does not play\n", argv[1]);
        return 1;
    }
    std::mt19937_64 random(33);
    std::uniform_int_distribution<gint64> position(0, total - 1);
    std::vector<double> milliseconds;
    for (int i = 0; i < seeks; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const bool landed =
            gst_element_seek_simple(
                pipeline, GST_FORMAT_DEFAULT,
                static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                position(random)) &&
            gst_element_get_state(pipeline, nullptr, nullptr, 60 * GST_SECOND) ==
                GST_STATE_CHANGE_SUCCESS;
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - start;
        if (!landed) {
            std::fprintf(stderr, "pevdemux_seek_bench: seek %d failed\n", i);
            return 1;
        }
        milliseconds.push_back(took.count());
    }
    std::sort(milliseconds.begin(), milliseconds.end());
    const auto at = [&](double fraction) {
        return milliseconds[static_cast<std::size_t>(fraction * (milliseconds.size() - 1))];
    };
    std::printf(
        "%d seeks over %lld samples: median %.3f ms, 95%% %.3f ms, 99%% %.3f ms, max %.3f ms\n",
        seeks, static_cast<long long>(total), at(0.5), at(0.95), at(0.99), milliseconds.back());
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return 0;
}
