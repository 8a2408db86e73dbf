/* A program built against libpev 1.0 (its header, kept beside this file, and
 * a library exporting the 1.0 calls without versions) run on today's
 * library: every 1.0 call and pev_clip_info's layout must still hold. It
 * lists the demo archive, decodes a clip every way and packs it back. */
#include <pev/pev.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int failed(const char* what, pev_status status) {
    fprintf(stderr, "%s: %s (%d)\n", what, pev_strerror(status), (int)status);
    return 1;
}

int main(int argc, char** argv) {
    static const uint64_t samples[3] = {120828, 103248, 122202};
    pev_archive* archive = NULL;
    pev_writer* writer = NULL;
    pev_clip_info info;
    size_t count = 0, size = 0, i;
    uint32_t rate = 0;
    int16_t* clip;
    void* packed = NULL;
    pev_status status;

    if (argc != 2) {
        return 2;
    }
    if ((status = pev_open_file(argv[1], &archive)) != PEV_OK) {
        return failed("open", status);
    }
    if (pev_clip_count(archive, &count) != PEV_OK || count != 3 ||
        pev_sample_rate(archive, &rate) != PEV_OK || rate != 22050 || pev_version() < PEV_VERSION) {
        return failed("count, rate or version", PEV_ERR_INVALID_ARGUMENT);
    }
    if ((status = pev_writer_new_like(rate, archive, &writer)) != PEV_OK) {
        return failed("writer", status);
    }
    for (i = 0; i < count; ++i) {
        memset(&info, 0xA5, sizeof info);
        if ((status = pev_get_clip_info(archive, i, &info)) != PEV_OK) {
            return failed("info", status);
        }
        if (info.entry_id != i || info.sample_count != samples[i] || info.problem != PEV_OK ||
            info.silent_blocks + info.raw_blocks + info.delta_blocks != info.block_count) {
            return failed("pev_clip_info's fields", PEV_ERR_INVALID_ARGUMENT);
        }
        if (pev_decode_clip(archive, i, NULL, 0, &size) != PEV_ERR_BUFFER_TOO_SMALL ||
            size != samples[i]) {
            return failed("size asked", PEV_ERR_INVALID_ARGUMENT);
        }
        clip = malloc(size * sizeof *clip);
        if ((status = pev_decode_clip(archive, i, clip, size, &size)) != PEV_OK ||
            (status = pev_writer_add_clip(writer, clip, size)) != PEV_OK) {
            return failed("decode and add", status);
        }
        free(clip);
    }
    if ((status = pev_writer_finish_memory(writer, &packed, &size)) != PEV_OK) {
        return failed("finish", status);
    }
    printf("1.0 consumer: 3 clips listed, decoded and packed back into %lu bytes\n",
           (unsigned long)size);
    pev_free(packed);
    pev_writer_free(writer);
    pev_close(archive);
    return 0;
}
