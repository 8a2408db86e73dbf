/* Opens an archive and writes a clip under names beyond ASCII, given as
 * UTF-8 whatever the host (on Windows, beyond the ANSI code page): the
 * archive "声の_ü.pev" in the working folder, its second clip written to
 * "声の_ü_0002.wav". scripts/test-install runs it under Wine. */
#include <pev/pev.h>

#include <stdio.h>

#define BASE "\xE5\xA3\xB0\xE3\x81\xAE_\xC3\xBC"

int main(void) {
    pev_archive* archive = NULL;
    pev_status status = pev_open_file(BASE ".pev", &archive);
    if (status == PEV_OK) {
        status = pev_decode_clip_to_file(archive, 1, BASE "_0002.wav", PEV_REPLACE);
        pev_close(archive);
    }
    if (status != PEV_OK) {
        fprintf(stderr, "utf8_names: %s\n", pev_strerror(status));
        return 1;
    }
    return 0;
}
