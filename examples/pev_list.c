/* Lists the clips of a voice archive and, when asked, writes one of them as
 * a WAV file: a small user of libpev.
 *
 *   pev_list ARCHIVE.pev [POSITION OUT.wav]
 *
 * POSITION counts from 1, like the numbers of the files Pev2wav writes. */
#include <pev/pev.h>
#include <stdio.h>
#include <stdlib.h>

static int fail(const char* what, pev_status status) {
    fprintf(stderr, "pev_list: %s: %s\n", what, pev_strerror(status));
    return 1;
}

int main(int argc, char** argv) {
    pev_archive* archive;
    size_t count, i;
    uint32_t rate;
    pev_status status;

    if (argc != 2 && argc != 4) {
        fprintf(stderr, "usage: pev_list ARCHIVE.pev [POSITION OUT.wav]\n");
        return 2;
    }
    status = pev_open_file(argv[1], &archive);
    if (status != PEV_OK) {
        return fail(argv[1], status);
    }
    pev_clip_count(archive, &count);
    pev_sample_rate(archive, &rate);
    printf("%s: %lu clips at %lu Hz\n", argv[1], (unsigned long)count, (unsigned long)rate);

    for (i = 0; i < count; ++i) {
        pev_clip_info info;
        status = pev_get_clip_info(archive, i, &info);
        if (status != PEV_OK) {
            pev_close(archive);
            return fail("clip info", status);
        }
        if (info.problem != PEV_OK) {
            printf("%4lu  id %5u  cannot be decoded: %s\n", (unsigned long)(i + 1),
                   (unsigned)info.entry_id, pev_strerror(info.problem));
            continue;
        }
        printf("%4lu  id %5u  %9lu samples  %5u blocks (%lu silent, %lu raw, %lu delta)"
               "  %lu bytes\n",
               (unsigned long)(i + 1), (unsigned)info.entry_id, (unsigned long)info.sample_count,
               (unsigned)info.block_count, (unsigned long)info.silent_blocks,
               (unsigned long)info.raw_blocks, (unsigned long)info.delta_blocks,
               (unsigned long)info.stored_bytes);
    }

    if (argc == 4) {
        const unsigned long position = strtoul(argv[2], NULL, 10);
        status = position == 0
                     ? PEV_ERR_CLIP_INDEX
                     : pev_decode_clip_to_file(archive, position - 1, argv[3], PEV_REPLACE);
        if (status != PEV_OK) {
            pev_close(archive);
            return fail(argv[3], status);
        }
        printf("Wrote clip %lu to %s\n", position, argv[3]);
    }
    pev_close(archive);
    return 0;
}
