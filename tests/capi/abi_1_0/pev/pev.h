/*
 * libpev: read, decode and write voice archives (".pev" files).
 *
 * A voice archive holds numbered mono clips of 16-bit samples at one sample
 * rate, each stored with a small block codec. This library opens archives
 * (from a file or from memory), tells what each clip holds, decodes clips
 * into samples, into WAV images or into WAV files, and packs samples into
 * new archives. Usable from C99 and C++.
 *
 * Conventions
 * - Every function returns a pev_status (PEV_OK on success), except the
 *   ones that release something (pev_close, pev_writer_free, pev_free),
 *   pev_strerror and pev_version. Outputs go through pointer parameters and
 *   are left untouched when a call fails, unless its comment says otherwise.
 * - File names are UTF-8 on every system, Windows included.
 * - "The size needed is asked first": a call that fills a caller's buffer
 *   takes its capacity; when the buffer is NULL or too small it writes
 *   nothing into it, stores the size needed in its size parameter and
 *   returns PEV_ERR_BUFFER_TOO_SMALL.
 *
 * Safety
 * Whatever the bytes of an archive, the library never reads or writes
 * outside the buffers it is given (and the ones it allocates), never
 * aborts, never prints, and takes memory in proportion to the archive and
 * its largest clip, never to what a broken file claims. Clips the format
 * cannot describe are refused with an error code, not decoded into
 * garbage.
 *
 * Threads
 * The library keeps no global mutable state. Distinct handles may be used
 * from different threads at once. One open archive may be used from several
 * threads at once for everything but pev_close: in particular, decoding
 * different clips (or the same clip) of one archive from several threads
 * at once is safe. A writer must be used by one thread at a time.
 */
#ifndef PEV_PEV_H
#define PEV_PEV_H

#include <stddef.h>
#include <stdint.h>

/* The library's version; pev_version() gives the one actually linked. */
#define PEV_VERSION_MAJOR 1
#define PEV_VERSION_MINOR 0
#define PEV_VERSION_PATCH 0
#define PEV_MAKE_VERSION(major, minor, patch) ((major) * 1000000L + (minor) * 1000L + (patch))
#define PEV_VERSION PEV_MAKE_VERSION(PEV_VERSION_MAJOR, PEV_VERSION_MINOR, PEV_VERSION_PATCH)

/* Users of the static library define PEV_STATIC before including this
 * header (the CMake target pev::pev_static does it for them). */
#if defined(PEV_STATIC)
#define PEV_API
#elif defined(_WIN32) || defined(__CYGWIN__)
#if defined(PEV_BUILDING_LIBRARY)
#define PEV_API __declspec(dllexport)
#else
#define PEV_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define PEV_API __attribute__((visibility("default")))
#else
#define PEV_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef enum pev_status {
    PEV_OK = 0,

    /* Use of the API */
    PEV_ERR_INVALID_ARGUMENT = 1, /* a NULL pointer where one is needed, an unknown flag */
    PEV_ERR_CLIP_INDEX = 2,       /* no clip at that index */
    PEV_ERR_BUFFER_TOO_SMALL = 3, /* the size needed was stored; see Conventions */
    PEV_ERR_NO_MEMORY = 4,
    PEV_ERR_WRITER_FINISHED = 5, /* the writer already produced its archive */

    /* Files */
    PEV_ERR_CANNOT_OPEN = 10,  /* the file cannot be opened for reading */
    PEV_ERR_CANNOT_WRITE = 11, /* creating, writing or renaming the output failed */
    PEV_ERR_FILE_EXISTS = 12,  /* the output exists and PEV_REPLACE was not given */

    /* Archives that cannot be opened */
    PEV_ERR_NOT_AN_ARCHIVE = 20,  /* shorter than its 32-byte header, or no "PEVPAC" magic */
    PEV_ERR_TOO_MANY_CLIPS = 21,  /* more than 9999 clips (also when packing) */
    PEV_ERR_NEGATIVE_COUNT = 22,  /* a clip count with its top bit set */
    PEV_ERR_TABLE_CUT_SHORT = 23, /* the file ends inside the entry table */

    /* Clips that cannot be decoded (pev_clip_info.problem) */
    PEV_ERR_BLOCK_TABLE_PAST_END = 30, /* its block-size table runs past the end of the file */
    PEV_ERR_MALFORMED_BLOCK_SIZE = 31, /* a block size has its top bit set */
    PEV_ERR_BYTES_PAST_ROOM = 32,      /* its stored bytes run into the next clip */
    PEV_ERR_BYTES_PAST_END = 33,       /* its stored bytes run past the end of the file */
    PEV_ERR_TOO_LONG_FOR_WAV = 34,     /* its samples do not fit a WAV file's 32-bit sizes */

    /* Packing */
    PEV_ERR_CLIP_TOO_LONG = 40,     /* a clip needs more than 65535 blocks of 1024 samples */
    PEV_ERR_ARCHIVE_TOO_LARGE = 41, /* the archive would pass 4 GiB */
    PEV_ERR_LIKE_MISMATCH = 42      /* the clip count differs from the "like" archive's */
} pev_status;

/* A short English phrase naming a status code (any value is accepted);
 * never NULL, never to be freed. */
PEV_API const char* pev_strerror(int status);

/* PEV_VERSION of the library in use. */
PEV_API long pev_version(void);

/* ---------------------------------------------------------------- Reading */

typedef struct pev_archive pev_archive;

/* Opens the archive at `path` (UTF-8). The file stays open until pev_close.
 * Fails with PEV_ERR_CANNOT_OPEN or one of the archive errors (20..23). */
PEV_API pev_status pev_open_file(const char* path, pev_archive** archive);

/* Opens an archive held in memory. The bytes are not copied: they must stay
 * valid and unchanged until pev_close. `bytes` may be NULL when `size` is 0. */
PEV_API pev_status pev_open_memory(const void* bytes, size_t size, pev_archive** archive);

/* Closes an archive; NULL is ignored. No other call may use it meanwhile. */
PEV_API void pev_close(pev_archive* archive);

PEV_API pev_status pev_clip_count(const pev_archive* archive, size_t* count);

/* The rate every clip is decoded at, in samples per second. */
PEV_API pev_status pev_sample_rate(const pev_archive* archive, uint32_t* rate);

typedef struct pev_clip_info {
    uint16_t entry_id;      /* the id stored in the entry table */
    uint16_t block_count;   /* blocks of up to 1024 samples */
    uint32_t silent_blocks; /* blocks by kind (a malformed block counts in none) */
    uint32_t raw_blocks;
    uint32_t delta_blocks;
    uint64_t stored_bytes;  /* its block-size table and compressed bytes */
    uint64_t sample_count;  /* exact number of decoded samples; 0 when it cannot be decoded */
    pev_status problem;     /* PEV_OK when it can be decoded, else the reason (30..34) */
} pev_clip_info;

/* Describes clip `index` (0-based). Returns PEV_OK for a clip that cannot be
 * decoded too: the reason is in info->problem. The exact sample count takes
 * one decode of the clip the first time it is asked for; the archive keeps
 * it afterwards. */
PEV_API pev_status pev_get_clip_info(const pev_archive* archive, size_t index,
                                     pev_clip_info* info);

/* Decodes clip `index` into `samples` (host byte order), which holds
 * `capacity` samples. Stores the clip's sample count in *sample_count, and
 * returns PEV_ERR_BUFFER_TOO_SMALL when it exceeds `capacity`. A clip that
 * cannot be decoded gives its problem code. */
PEV_API pev_status pev_decode_clip(const pev_archive* archive, size_t index, int16_t* samples,
                                   size_t capacity, size_t* sample_count);

/* Decodes clip `index` into a complete 16-bit mono PCM WAV file image (a
 * 44-byte header, then the samples, little-endian) in `wav`, which holds
 * `capacity` bytes. Stores its size in *wav_size; PEV_ERR_BUFFER_TOO_SMALL
 * as above. The bytes are those the Pev2wav program writes for the clip. */
PEV_API pev_status pev_decode_clip_wav(const pev_archive* archive, size_t index, void* wav,
                                       size_t capacity, size_t* wav_size);

/* For the calls that create files: replace an existing file. */
#define PEV_REPLACE 1u

/* Decodes clip `index` into the WAV file `path` (UTF-8), with the bytes of
 * pev_decode_clip_wav. The file is written under a temporary name beside
 * it and renamed into place once complete, so a failure leaves no partial
 * file. An existing file is refused (PEV_ERR_FILE_EXISTS) unless `flags`
 * holds PEV_REPLACE. */
PEV_API pev_status pev_decode_clip_to_file(const pev_archive* archive, size_t index,
                                           const char* path, unsigned flags);

/* ---------------------------------------------------------------- Packing */

typedef struct pev_writer pev_writer;

/* Starts a new archive whose clips are all at `sample_rate` (not 0). Entry
 * ids are the positions 0, 1, ... and the header's unused bytes are 0. */
PEV_API pev_status pev_writer_new(uint32_t sample_rate, pev_writer** writer);

/* Starts a new archive like `like`: it keeps that archive's entry ids and
 * the header bytes readers never use, and must end with as many clips. */
PEV_API pev_status pev_writer_new_like(uint32_t sample_rate, const pev_archive* like,
                                       pev_writer** writer);

/* The same, with the "like" archive read from the file `path` (UTF-8). */
PEV_API pev_status pev_writer_new_like_file(uint32_t sample_rate, const char* path,
                                            pev_writer** writer);

/* Encodes `count` samples as the next clip (`samples` may be NULL when
 * `count` is 0). Every sample is stored at the nearest of the codec's 256
 * levels; a clip of odd length gets one more sample repeating its last
 * level, since the format cannot end a clip on an odd sample. The writer
 * keeps the encoded clips (about a third of the samples' size) until it is
 * finished. */
PEV_API pev_status pev_writer_add_clip(pev_writer* writer, const int16_t* samples, size_t count);

/* Writes the archive to `path` (UTF-8), under a temporary name beside it
 * that is renamed into place once complete. An existing file is refused
 * (PEV_ERR_FILE_EXISTS) unless `flags` holds PEV_REPLACE. On failure the
 * writer keeps its clips, so the call can be repeated. */
PEV_API pev_status pev_writer_finish_file(pev_writer* writer, const char* path, unsigned flags);

/* Writes the archive into a buffer the library allocates; release it with
 * pev_free. */
PEV_API pev_status pev_writer_finish_memory(pev_writer* writer, void** bytes, size_t* size);

/* Releases a writer, finished or not; NULL is ignored. */
PEV_API void pev_writer_free(pev_writer* writer);

/* Releases a buffer the library allocated; NULL is ignored. */
PEV_API void pev_free(void* bytes);

#ifdef __cplusplus
}
#endif

#endif /* PEV_PEV_H */
