#include "cli/pev/commands.hpp"

namespace pev::cli::tool {

int pack_command(const PackOptions&, const Streams& io) {
    std::fputs("pev: pack is not ready yet\n", io.err);
    return kExitFailed;
}

} // namespace pev::cli::tool
