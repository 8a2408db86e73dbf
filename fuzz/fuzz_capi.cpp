// Guards the public C API against any archive bytes: open, query, decode and repack every clip.
#include "harness/capi_harness.hpp"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string broken = pev::fuzz::check_capi({data, size});
    if (!broken.empty()) {
        std::fprintf(stderr, "fuzz_capi: %s\n", broken.c_str());
        std::abort();
    }
    return 0;
}
