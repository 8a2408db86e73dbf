#include "pack/archive_output.hpp"

#include "platform/output_error.hpp"
#include "platform/output_file.hpp"

namespace pev::pack {

Error save_archive(const std::string& path, bool replace,
                   const std::function<Error(archive::ByteSink&)>& write) {
    OutputFile file(path, OutputFileOptions{.replace = replace, .sync = true});
    if (file.create()) {
        return output_error(file);
    }
    archive::OutputFileSink sink(file);
    if (Error error = write(sink); !error.ok()) {
        if (error.subject.empty() || error.code == ErrorCode::cannot_write) {
            error.subject = path;
        }
        return error;
    }
    if (file.commit()) {
        return output_error(file);
    }
    return {};
}

} // namespace pev::pack
