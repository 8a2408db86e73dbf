/* A player-style user of libpev: streams one clip from a given second to
 * standard output as raw 16-bit little-endian samples, 512 at a time, as an
 * audio callback would take them. Nothing is allocated after the reader is
 * opened.
 *
 *   pev_stream ARCHIVE CLIP [START_SECONDS] > clip.raw
 *
 * CLIP counts from 1, as Pev2wav numbers its files. */
#include <errno.h>
#include <pev/pev.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* The system's reason for a failed read comes from the archive once it is
 * open, and from errno when opening failed. */
static int fail(const char* archive_name, const pev_archive* archive, pev_status status) {
    int os_error = 0;
    if (status == PEV_ERR_IO && archive != NULL) {
        pev_last_os_error(archive, &os_error);
    } else if (status == PEV_ERR_IO || status == PEV_ERR_CANNOT_OPEN) {
        os_error = errno;
    }
    fprintf(stderr, "%s: %s%s%s%s\n", archive_name, pev_strerror(status), os_error ? " (" : "",
            os_error ? strerror(os_error) : "", os_error ? ")" : "");
    return 1;
}

int main(int argc, char** argv) {
    pev_archive* archive = NULL;
    pev_reader* reader = NULL;
    int16_t frames[512];
    unsigned char bytes[2 * 512];
    size_t got = 0, i, count = 0;
    uint64_t length = 0, start = 0;
    uint32_t rate = 0;
    unsigned long clip;
    pev_status status;

    if (argc < 3 || argc > 4 || (clip = strtoul(argv[2], NULL, 10)) == 0) {
        fprintf(stderr, "usage: pev_stream ARCHIVE CLIP [START_SECONDS] > clip.raw\n");
        return 2;
    }
    if ((status = pev_open_file(argv[1], &archive)) != PEV_OK) {
        return fail(argv[1], NULL, status);
    }
    pev_sample_rate(archive, &rate);
    pev_clip_count(archive, &count);
    if (clip > count) {
        return fail(argv[1], archive, PEV_ERR_CLIP_INDEX);
    }
    if ((status = pev_reader_open(archive, clip - 1, &reader)) != PEV_OK) {
        return fail(argv[1], archive, status);
    }
    pev_reader_length(reader, &length);
    if (argc == 4) {
        start = (uint64_t)(atof(argv[3]) * rate);
    }
    if ((status = pev_reader_seek(reader, start < length ? start : length)) != PEV_OK) {
        return fail(argv[1], archive, status);
    }
    /* The loop an audio callback would run. */
    while ((status = pev_reader_read(reader, frames, 512, &got)) == PEV_OK && got > 0) {
        for (i = 0; i < got; ++i) {
            bytes[2 * i] = (unsigned char)(frames[i] & 0xFF);
            bytes[2 * i + 1] = (unsigned char)((uint16_t)frames[i] >> 8);
        }
        if (fwrite(bytes, 2, got, stdout) != got) {
            return 1;
        }
    }
    if (status != PEV_OK) {
        return fail(argv[1], archive, status);
    }
    fprintf(stderr, "clip %lu: %lu samples at %lu Hz from sample %lu\n", clip,
            (unsigned long)length, (unsigned long)rate, (unsigned long)start);
    pev_reader_close(reader);
    pev_close(archive);
    return 0;
}
