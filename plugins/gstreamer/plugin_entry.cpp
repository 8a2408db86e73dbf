// The entry point GStreamer looks for in the plugin's file.
#include "pev_plugin.hpp"

#define PACKAGE "pev2wav"

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, pev,
                  "Voice archives (.pev): type finder and demuxer", pev_plugin_register,
                  PEV_PLUGIN_VERSION, "MIT", "Pev2wav", "Pev2wav")
