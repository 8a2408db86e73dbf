// Guards the whole extraction, header to WAV bytes, against any archive bytes.
#include "harness/extract_harness.hpp"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string broken = pev::fuzz::check_extraction({data, size});
    if (!broken.empty()) {
        std::fprintf(stderr, "fuzz_extract: %s\n", broken.c_str());
        std::abort();
    }
    return 0;
}
