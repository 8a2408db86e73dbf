// The page reads pev_clip_info straight from the module's memory at these
// offsets (wasm32); a change of the struct must show up here first. (WAV
// input, which the page once did here, is the library's pev_wav_read.)

#include "pev/pev.h"

#include <cstddef>

static_assert(offsetof(pev_clip_info, entry_id) == 0);
static_assert(offsetof(pev_clip_info, block_count) == 2);
static_assert(offsetof(pev_clip_info, silent_blocks) == 4);
static_assert(offsetof(pev_clip_info, raw_blocks) == 8);
static_assert(offsetof(pev_clip_info, delta_blocks) == 12);
static_assert(offsetof(pev_clip_info, stored_bytes) == 16);
static_assert(offsetof(pev_clip_info, sample_count) == 24);
static_assert(offsetof(pev_clip_info, problem) == 32);
static_assert(sizeof(pev_clip_info) == 40);
