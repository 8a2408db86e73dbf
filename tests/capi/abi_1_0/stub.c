/* A stand-in for libpev 1.0 to link against: the 1.0 calls, unversioned, as
 * a 1.0 library exported them. The consumer built against it then runs on
 * the real library of today. Never run itself. */
#include <pev/pev.h>

/* clang-format off */
const char* pev_strerror(int s) { (void)s; return ""; }
long pev_version(void) { return 0; }
pev_status pev_open_file(const char* p, pev_archive** a) { (void)p; (void)a; return PEV_OK; }
pev_status pev_open_memory(const void* b, size_t n, pev_archive** a) { (void)b; (void)n; (void)a; return PEV_OK; }
void pev_close(pev_archive* a) { (void)a; }
pev_status pev_clip_count(const pev_archive* a, size_t* n) { (void)a; (void)n; return PEV_OK; }
pev_status pev_sample_rate(const pev_archive* a, uint32_t* r) { (void)a; (void)r; return PEV_OK; }
pev_status pev_get_clip_info(const pev_archive* a, size_t i, pev_clip_info* c) { (void)a; (void)i; (void)c; return PEV_OK; }
pev_status pev_decode_clip(const pev_archive* a, size_t i, int16_t* s, size_t c, size_t* n) { (void)a; (void)i; (void)s; (void)c; (void)n; return PEV_OK; }
pev_status pev_decode_clip_wav(const pev_archive* a, size_t i, void* w, size_t c, size_t* n) { (void)a; (void)i; (void)w; (void)c; (void)n; return PEV_OK; }
pev_status pev_decode_clip_to_file(const pev_archive* a, size_t i, const char* p, unsigned f) { (void)a; (void)i; (void)p; (void)f; return PEV_OK; }
pev_status pev_writer_new(uint32_t r, pev_writer** w) { (void)r; (void)w; return PEV_OK; }
pev_status pev_writer_new_like(uint32_t r, const pev_archive* l, pev_writer** w) { (void)r; (void)l; (void)w; return PEV_OK; }
pev_status pev_writer_new_like_file(uint32_t r, const char* p, pev_writer** w) { (void)r; (void)p; (void)w; return PEV_OK; }
pev_status pev_writer_add_clip(pev_writer* w, const int16_t* s, size_t n) { (void)w; (void)s; (void)n; return PEV_OK; }
pev_status pev_writer_finish_file(pev_writer* w, const char* p, unsigned f) { (void)w; (void)p; (void)f; return PEV_OK; }
pev_status pev_writer_finish_memory(pev_writer* w, void** b, size_t* n) { (void)w; (void)b; (void)n; return PEV_OK; }
void pev_writer_free(pev_writer* w) { (void)w; }
void pev_free(void* b) { (void)b; }
/* clang-format on */
