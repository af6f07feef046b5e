#include "scan/instrrev.h"

#include "platform/thread.h"

namespace InstrRev {

int32_t InStrRev(const std::string &searched, const std::string &sought, int32_t start)
{
    const auto length = int64_t(searched.size());
    // No occurrence begins past the end of the text, so a larger start examines from its end.
    int64_t position = start < 1 || start > length ? length : start;
    for (; position >= 1; --position) {
        const auto at = std::size_t(position - 1);
        const bool found = at + sought.size() <= searched.size()
            && searched.compare(at, sought.size(), sought) == 0;
        platform::Yield();
        if (found)
            return int32_t(position);
    }
    return 0;
}

} // namespace InstrRev
