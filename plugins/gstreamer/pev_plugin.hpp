#pragma once
// What the plugin gives GStreamer: the type finder of voice archives and the
// pevdemux element. Separate from the plugin's entry point, so a test
// program can register both without loading the plugin's file.

#include <gst/gst.h>

gboolean pev_plugin_register(GstPlugin* plugin);
