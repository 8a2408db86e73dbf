#include "capi/callback_source.hpp"

#include <algorithm>

namespace pev::capi {

std::size_t CallbackSource::read_at(std::uint64_t offset, std::span<std::uint8_t> into) const {
    return read_some(offset, into).got;
}

archive::ReadOutcome CallbackSource::read_some(std::uint64_t offset,
                                               std::span<std::uint8_t> into) const {
    if (offset >= size_ || into.empty()) {
        return {};
    }
    const std::size_t wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(into.size(), size_ - offset));
    // Several reads may be needed: a callback may bring fewer bytes than
    // asked, like read(2), before the source's end.
    std::size_t got = 0;
    while (got < wanted) {
        const std::int64_t result = read_(user_, offset + got, into.data() + got, wanted - got);
        if (result < 0 || static_cast<std::uint64_t>(result) > wanted - got) {
            const int os_error =
                result < -1 && result >= -0x7FFFFFFF ? static_cast<int>(-result) : 0;
            return {got, os_error};
        }
        if (result == 0) {
            break; // the source ended before the size it was opened with
        }
        got += static_cast<std::size_t>(result);
    }
    return {got, 0};
}

archive::ReadOutcome CheckedSource::read_some(std::uint64_t offset,
                                              std::span<std::uint8_t> into) const {
    const archive::ReadOutcome outcome = source_->read_some(offset, into);
    const std::uint64_t inside = offset < size() ? size() - offset : 0;
    if (outcome.got < std::min<std::uint64_t>(into.size(), inside) || outcome.os_error != 0) {
        int expected = 0;
        failure_.compare_exchange_strong(expected, outcome.os_error != 0 ? outcome.os_error : -1,
                                         std::memory_order_relaxed);
    }
    return outcome;
}

} // namespace pev::capi
