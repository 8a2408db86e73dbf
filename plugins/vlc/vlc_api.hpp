#pragma once
// VLC 3.0's plugin API, as every file of the module includes it. The build
// defines MODULE_STRING ("pev"), which tags the module's log messages.

#include <vlc_common.h>
// (vlc_common.h first: the others use its types)
#include <vlc_demux.h>
#include <vlc_es.h>
#include <vlc_input.h>
#include <vlc_input_item.h>
#include <vlc_meta.h>
#include <vlc_stream.h>
