#include "capi/file_output.hpp"

#include "capi/status.hpp"
#include "pack/archive_file.hpp"

namespace pev::capi {

pev_status save_file(const std::string& path, bool replace,
                     const std::function<Error(archive::ByteSink&)>& write) {
    return status_of(pack::save_archive(path, replace, write));
}

} // namespace pev::capi
