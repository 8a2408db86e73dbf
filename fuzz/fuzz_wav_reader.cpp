// Guards the packer's WAV parser against any file bytes.
#include "harness/wav_reader_harness.hpp"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string broken = pev::fuzz::check_wav_reader({data, size});
    if (!broken.empty()) {
        std::fprintf(stderr, "fuzz_wav_reader: %s\n", broken.c_str());
        std::abort();
    }
    return 0;
}
