/* A stand-in for libpev 1.0 to link against: the 1.0 calls, unversioned, as
 * a 1.0 library exported them. The consumer built against it then runs on
 * the real library of today. */
#include <pev/pev.h>

const char* pev_strerror(int status) {
    (void)status;
    return "";
}
long pev_version(void) {
    return 0;
}
pev_status pev_open_file(const char* path, pev_archive** archive) {
    (void)path;
    (void)archive;
    return PEV_OK;
}
pev_status pev_open_memory(const void* bytes, size_t size, pev_archive** archive) {
    (void)bytes;
    (void)size;
    (void)archive;
    return PEV_OK;
}
void pev_close(pev_archive* archive) {
    (void)archive;
}
pev_status pev_clip_count(const pev_archive* archive, size_t* count) {
    (void)archive;
    (void)count;
    return PEV_OK;
}
pev_status pev_sample_rate(const pev_archive* archive, uint32_t* rate) {
    (void)archive;
    (void)rate;
    return PEV_OK;
}
pev_status pev_get_clip_info(const pev_archive* archive, size_t index, pev_clip_info* info) {
    (void)archive;
    (void)index;
    (void)info;
    return PEV_OK;
}
pev_status pev_decode_clip(const pev_archive* archive, size_t index, int16_t* samples,
                           size_t capacity, size_t* sample_count) {
    (void)archive;
    (void)index;
    (void)samples;
    (void)capacity;
    (void)sample_count;
    return PEV_OK;
}
pev_status pev_decode_clip_wav(const pev_archive* archive, size_t index, void* wav, size_t capacity,
                               size_t* wav_size) {
    (void)archive;
    (void)index;
    (void)wav;
    (void)capacity;
    (void)wav_size;
    return PEV_OK;
}
pev_status pev_decode_clip_to_file(const pev_archive* archive, size_t index, const char* path,
                                   unsigned flags) {
    (void)archive;
    (void)index;
    (void)path;
    (void)flags;
    return PEV_OK;
}
pev_status pev_writer_new(uint32_t sample_rate, pev_writer** writer) {
    (void)sample_rate;
    (void)writer;
    return PEV_OK;
}
pev_status pev_writer_new_like(uint32_t sample_rate, const pev_archive* like, pev_writer** writer) {
    (void)sample_rate;
    (void)like;
    (void)writer;
    return PEV_OK;
}
pev_status pev_writer_new_like_file(uint32_t sample_rate, const char* path, pev_writer** writer) {
    (void)sample_rate;
    (void)path;
    (void)writer;
    return PEV_OK;
}
pev_status pev_writer_add_clip(pev_writer* writer, const int16_t* samples, size_t count) {
    (void)writer;
    (void)samples;
    (void)count;
    return PEV_OK;
}
pev_status pev_writer_finish_file(pev_writer* writer, const char* path, unsigned flags) {
    (void)writer;
    (void)path;
    (void)flags;
    return PEV_OK;
}
pev_status pev_writer_finish_memory(pev_writer* writer, void** bytes, size_t* size) {
    (void)writer;
    (void)bytes;
    (void)size;
    return PEV_OK;
}
void pev_writer_free(pev_writer* writer) {
    (void)writer;
}
void pev_free(void* bytes) {
    (void)bytes;
}
