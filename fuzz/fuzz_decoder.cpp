// Guards the entry decoder: any block sizes and bytes, never past its span or bound.
#include "harness/decoder_harness.hpp"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string broken = pev::fuzz::check_decoder({data, size});
    if (!broken.empty()) {
        std::fprintf(stderr, "fuzz_decoder: %s\n", broken.c_str());
        std::abort();
    }
    return 0;
}
