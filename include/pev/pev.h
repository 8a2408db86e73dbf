/*
 * libpev: read, decode and write voice archives (".pev" files).
 *
 * A voice archive holds numbered mono clips of 16-bit samples at one sample
 * rate, each stored with a small block codec. This library opens archives
 * (from a file, from memory or through the caller's read callback), tells
 * what each clip holds, decodes clips into samples, into WAV images or into
 * WAV files, streams them with sample-accurate seeking, reads WAV files, and
 * packs samples into new archives. Usable from C99 and C++.
 *
 * Conventions
 * - Every function returns a pev_status (PEV_OK on success), except the
 *   ones that release something (pev_close, pev_reader_close,
 *   pev_writer_free, pev_wav_free, pev_free), pev_strerror, pev_version and
 *   the getters of a read WAV file (pev_wav_*). Outputs go through pointer
 *   parameters and are left untouched when a call fails, unless its comment
 *   says otherwise.
 * - Handles are released once. Releasing one twice is undefined, as with
 *   free(): set your pointer to NULL after releasing it (NULL is ignored).
 * - File names are UTF-8 on every system, Windows included.
 * - "The size needed is asked first": a call that fills a caller's buffer
 *   takes its capacity (0 for a NULL buffer) and always stores the size
 *   needed in its size parameter; when that exceeds the capacity it writes
 *   nothing into the buffer and returns PEV_ERR_BUFFER_TOO_SMALL. So a NULL
 *   buffer asks the size, except for an empty clip, which fits it: PEV_OK
 *   with a size of 0.
 * - Reads of an archive that come up short after it was opened (the file
 *   was cut or removed, a read callback failed) give PEV_ERR_IO for that
 *   call, never silent zeros; pev_last_os_error tells the system's reason.
 *
 * Safety
 * Whatever the bytes of an archive, the library never reads or writes
 * outside the buffers it is given (and the ones it allocates), never
 * aborts, never prints, and takes memory in proportion to the archive and
 * its largest clip, never to what a broken file claims. Decoding a clip into
 * the caller's buffer takes one block's bytes beside it, not a copy of the
 * clip. Clips the format
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
#define PEV_VERSION_MINOR 1
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
    PEV_ERR_INTERNAL = 6,        /* a fault of the library itself (since 1.1) */

    /* Files */
    PEV_ERR_CANNOT_OPEN = 10,  /* the file cannot be opened for reading */
    PEV_ERR_CANNOT_WRITE = 11, /* creating, writing or renaming the output failed */
    PEV_ERR_FILE_EXISTS = 12,  /* the output exists and PEV_REPLACE was not given */
    PEV_ERR_NOT_A_FILE = 13,   /* a folder, pipe or device, not a regular file (since 1.1) */
    PEV_ERR_IO = 14,           /* a read failed or came up short after opening (since 1.1) */

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
    PEV_ERR_LIKE_MISMATCH = 42,     /* the clip count differs from the "like" archive's */
    PEV_ERR_WAV_REFUSED = 43        /* the WAV file cannot be packed; see pev_wav_refusal (1.1) */
} pev_status;

/* A short English phrase naming a status code (any value is accepted);
 * never NULL, never to be freed. */
PEV_API const char* pev_strerror(int status);

/* PEV_VERSION of the library in use. */
PEV_API long pev_version(void);

/* ---------------------------------------------------------------- Reading */

typedef struct pev_archive pev_archive;

/* Opens the archive at `path` (UTF-8). The file stays open until pev_close.
 * Fails with PEV_ERR_CANNOT_OPEN (errno then holds the system's reason),
 * PEV_ERR_NOT_A_FILE for a folder, pipe or device, PEV_ERR_IO when a read
 * fails (errno holds the reason), or one of the archive errors (20..23).
 * The file's size is taken here: should the file be cut afterwards, reads
 * of what is gone give PEV_ERR_IO. */
PEV_API pev_status pev_open_file(const char* path, pev_archive** archive);

/* Opens an archive held in memory. The bytes are not copied: they must stay
 * valid and unchanged until pev_close. `bytes` may be NULL when `size` is 0.
 * Fails with one of the archive errors (20..23). */
PEV_API pev_status pev_open_memory(const void* bytes, size_t size, pev_archive** archive);

/* Reads up to `size` bytes at `offset` (which the library keeps below the
 * archive's size) into `buffer`. Returns how many were read, or a negative
 * value on failure: minus the system's error number (reported by
 * pev_last_os_error), or -1 when there is none. Fewer bytes than asked are
 * asked for again, like read(2)'s; 0 means the source ended early, which is
 * a failure too. */
typedef int64_t (*pev_read_callback)(void* user, uint64_t offset, void* buffer, size_t size);

/* Opens an archive of `size` bytes read through `read`, called with `user`
 * (since 1.1). Fails as pev_open_memory does, or with PEV_ERR_IO when a read
 * fails while opening. The archive calls `read` until pev_close, from
 * whichever thread uses the archive, so several at once when several
 * threads do. */
PEV_API pev_status pev_open_callbacks(pev_read_callback read, uint64_t size, void* user,
                                      pev_archive** archive);

/* Closes an archive and everything it read; NULL is ignored. No other call
 * may use it meanwhile, readers opened on it must be closed first, and it
 * must not be closed twice (see Conventions). */
PEV_API void pev_close(pev_archive* archive);

/* The system's error number behind the archive's last PEV_ERR_IO, 0 when a
 * read came up short without one (a file cut after opening) or none failed
 * (since 1.1). With several threads, the last one to fail wins. */
PEV_API pev_status pev_last_os_error(const pev_archive* archive, int* os_error);

/* The number of clips (0 to 9999). */
PEV_API pev_status pev_clip_count(const pev_archive* archive, size_t* count);

/* The rate every clip is decoded at, in samples per second. */
PEV_API pev_status pev_sample_rate(const pev_archive* archive, uint32_t* rate);

typedef struct pev_clip_info {
    uint16_t entry_id;      /* the id stored in the entry table */
    uint16_t block_count;   /* blocks: 1024 samples each for silent and raw ones, one per
                               4-bit code for delta ones (up to twice their stored bytes) */
    uint32_t silent_blocks; /* blocks by kind (a malformed block counts in none) */
    uint32_t raw_blocks;
    uint32_t delta_blocks;
    uint64_t stored_bytes;  /* its block-size table and compressed bytes */
    uint64_t sample_count;  /* exact number of decoded samples; 0 when it cannot be decoded */
    pev_status problem;     /* PEV_OK when it can be decoded, else the reason (30..34) */
} pev_clip_info;

/* Describes clip `index` (0-based). Returns PEV_OK for a clip that cannot be
 * decoded too: the reason is in info->problem. The exact sample count takes
 * a scan of the clip's stored bytes (not a decode) the first time it is
 * asked for; the archive keeps it afterwards. PEV_ERR_IO when the scan's
 * reads fail. pev_get_clip_details is the same, extensible. */
PEV_API pev_status pev_get_clip_info(const pev_archive* archive, size_t index,
                                     pev_clip_info* info);

/* pev_clip_info that can grow (since 1.1): the caller sets struct_size to
 * sizeof(pev_clip_details), and the library fills the fields that fit in it
 * and no more, so a program built against this header keeps working with
 * later versions that add fields at the end. */
typedef struct pev_clip_details {
    size_t struct_size;
    uint32_t entry_id;
    uint32_t block_count; /* as in pev_clip_info */
    uint32_t silent_blocks;
    uint32_t raw_blocks;
    uint32_t delta_blocks;
    pev_status problem;
    uint64_t stored_bytes;
    uint64_t sample_count;
} pev_clip_details;

/* PEV_ERR_INVALID_ARGUMENT when details->struct_size is smaller than the
 * 1.1 struct. */
PEV_API pev_status pev_get_clip_details(const pev_archive* archive, size_t index,
                                        pev_clip_details* details);

/* Decodes clip `index` into `samples` (host byte order), which holds
 * `capacity` samples. Stores the clip's sample count in *sample_count, and
 * returns PEV_ERR_BUFFER_TOO_SMALL when it exceeds `capacity`. A clip that
 * cannot be decoded gives its problem code. Needs no memory beyond
 * `samples` but the clip's block sizes and, for an archive not in memory,
 * one block's stored bytes. */
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
 * holds PEV_REPLACE; a name that cannot become that file (a folder, say)
 * gives PEV_ERR_CANNOT_WRITE. */
PEV_API pev_status pev_decode_clip_to_file(const pev_archive* archive, size_t index,
                                           const char* path, unsigned flags);

/* -------------------------------------------------------------- Streaming */

/* A clip read a few samples at a time, with seeking (since 1.1). */
typedef struct pev_reader pev_reader;

/* Opens a reader of clip `index`. It scans the clip once for where each of
 * its blocks begins (about 16 bytes a block) and takes every buffer it will
 * need, one block's worth (under 200 KiB): pev_reader_read and
 * pev_reader_seek allocate nothing and take no lock but the archive's file
 * (none for an archive in memory or read through callbacks), so they suit an
 * audio thread. A clip that cannot be decoded gives its problem code. The
 * archive must outlive the reader. One reader is used by one thread at a
 * time; several readers of one archive may run at once. */
PEV_API pev_status pev_reader_open(const pev_archive* archive, size_t index,
                                   pev_reader** reader);

/* Copies up to `max` samples from the reader's position into `frames` and
 * moves past them; *got is how many, fewer than `max` only at the clip's end
 * (0 there). Any sequence of reads and seeks gives exactly the samples
 * pev_decode_clip gives at those positions. On PEV_ERR_IO *got holds the
 * samples copied before the failure and the position is after them. */
PEV_API pev_status pev_reader_read(pev_reader* reader, int16_t* frames, size_t max, size_t* got);

/* Moves to sample `frame` (0 to the clip's length; the length is the end).
 * The block it lands in is decoded by the next read: at most one block's
 * work. PEV_ERR_INVALID_ARGUMENT past the end, the position unchanged. */
PEV_API pev_status pev_reader_seek(pev_reader* reader, uint64_t frame);

/* The reader's position and the clip's length, in samples. */
PEV_API pev_status pev_reader_tell(const pev_reader* reader, uint64_t* frame);
PEV_API pev_status pev_reader_length(const pev_reader* reader, uint64_t* frames);

/* Releases a reader; NULL is ignored. */
PEV_API void pev_reader_close(pev_reader* reader);

/* -------------------------------------------------------------- WAV input */

/* A WAV file read as the packer reads its inputs (since 1.1). */
typedef struct pev_wav pev_wav;

/* Reads a whole WAV file held in memory: 16-bit mono PCM, its chunks in any
 * order, the extensible header with the PCM sub-format. PEV_OK when it can
 * be packed; PEV_ERR_WAV_REFUSED when it cannot, with *wav set all the same
 * so that pev_wav_refusal says why. Either way release *wav with
 * pev_wav_free. `bytes` may be NULL when `size` is 0. */
PEV_API pev_status pev_wav_read(const void* bytes, size_t size, pev_wav** wav);

/* Why the file cannot be packed ("it is 8-bit mono PCM; ..."), or "" when it
 * can. Valid until pev_wav_free. */
PEV_API const char* pev_wav_refusal(const pev_wav* wav);

/* Its rate in samples per second (0 when refused). */
PEV_API uint32_t pev_wav_rate(const pev_wav* wav);

/* Its samples (host byte order), valid until pev_wav_free; the count in
 * *count (may be NULL). NULL with a count of 0 when refused or empty. */
PEV_API const int16_t* pev_wav_samples(const pev_wav* wav, size_t* count);

/* What was taken on trust, such as a data chunk longer than the file: the
 * number of warnings and each one's text (NULL past the last). */
PEV_API size_t pev_wav_warning_count(const pev_wav* wav);
PEV_API const char* pev_wav_warning(const pev_wav* wav, size_t index);

/* Releases a read WAV file; NULL is ignored. */
PEV_API void pev_wav_free(pev_wav* wav);

/* ---------------------------------------------------------------- Packing */

typedef struct pev_writer pev_writer;

/* Starts a new archive whose clips are all at `sample_rate` (not 0). Entry
 * ids are the positions 0, 1, ... and the header's unused bytes are 0. */
PEV_API pev_status pev_writer_new(uint32_t sample_rate, pev_writer** writer);

/* Starts a new archive like `like`: it keeps that archive's entry ids and
 * the header bytes readers never use, and must end with as many clips: a
 * clip beyond that count is refused when it is added
 * (PEV_ERR_LIKE_MISMATCH). */
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

/* Adds clip `index` of `archive` as the next clip, copied as the archive
 * stores it: its block sizes and bytes, not decoded and encoded again, so it
 * decodes exactly as it does in `archive`, whoever encoded it, and costs
 * about as much as copying its bytes. It counts as one clip like any added
 * one, also in a writer made like an archive. Fails with
 * PEV_ERR_CLIP_INDEX, with the clip's problem (30..34) when the archive
 * refuses it, with PEV_ERR_IO when a read of the archive comes up short
 * (pev_last_os_error on `archive` tells why), and with
 * PEV_ERR_INVALID_ARGUMENT when the archive's sample rate is not the
 * writer's; the writer is then as it was. `archive` may be closed once the
 * call returns (since 1.1). */
PEV_API pev_status pev_writer_copy_clip(pev_writer* writer, const pev_archive* archive,
                                        size_t index);

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
