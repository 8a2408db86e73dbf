// WAV input through the C API: the packer's own WAV reader, so that a tool
// (the web page among them) accepts and refuses the files Wav2pev does, for
// the same reasons.

#include "capi/status.hpp"
#include "pev/pev.h"
#include "wav/wav_reader.hpp"

struct pev_wav {
    pev::wav::WavReadResult read;
};

using pev::capi::guarded;

extern "C" {

pev_status pev_wav_read(const void* bytes, size_t size, pev_wav** wav) {
    if ((bytes == nullptr && size != 0) || wav == nullptr) {
        return PEV_ERR_INVALID_ARGUMENT;
    }
    return guarded([&] {
        auto made = std::make_unique<pev_wav>();
        made->read = pev::wav::parse_wav({static_cast<const std::uint8_t*>(bytes), size});
        const pev_status status = made->read.ok() ? PEV_OK : PEV_ERR_WAV_REFUSED;
        *wav = made.release();
        return status;
    });
}

const char* pev_wav_refusal(const pev_wav* wav) {
    return wav == nullptr ? "" : wav->read.error.c_str();
}

uint32_t pev_wav_rate(const pev_wav* wav) {
    return wav == nullptr || !wav->read.ok() ? 0 : wav->read.clip.sample_rate;
}

const int16_t* pev_wav_samples(const pev_wav* wav, size_t* count) {
    const bool has = wav != nullptr && wav->read.ok() && !wav->read.clip.samples.empty();
    if (count != nullptr) {
        *count = has ? wav->read.clip.samples.size() : 0;
    }
    return has ? wav->read.clip.samples.data() : nullptr;
}

size_t pev_wav_warning_count(const pev_wav* wav) {
    return wav == nullptr ? 0 : wav->read.clip.warnings.size();
}

const char* pev_wav_warning(const pev_wav* wav, size_t index) {
    if (wav == nullptr || index >= wav->read.clip.warnings.size()) {
        return nullptr;
    }
    return wav->read.clip.warnings[index].c_str();
}

void pev_wav_free(pev_wav* wav) {
    delete wav;
}

} // extern "C"
