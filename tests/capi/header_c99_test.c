/* The public header as strict C99 sees it: it must compile without a single
 * warning, and its version must be the linked library's. */
#include <pev/pev.h>
#include <stdio.h>
#include <string.h>

int main(void) {
    pev_archive* archive = NULL;
    pev_clip_info info;
    const pev_status status = pev_open_memory(NULL, 0, &archive);

    memset(&info, 0, sizeof info);
    if (status != PEV_ERR_NOT_AN_ARCHIVE || archive != NULL || pev_version() != PEV_VERSION ||
        info.problem != PEV_OK) {
        fprintf(stderr, "unexpected: %s\n", pev_strerror(status));
        return 1;
    }
    pev_close(archive);
    return 0;
}
