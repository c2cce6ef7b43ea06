#pragma once
// The byte counts of the items' operations. The operations return 32-bit counts, but a mail
// store can pass 2 GiB: the count is kept wide, logged whole, and returned saturated rather
// than wrapped into a negative number that would read as a failure.
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "platform/debug_log.h"

namespace ts {

inline int32_t SaturatedCount(int64_t count) {
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(count > kMax ? kMax : count);
}

// "<operation>, Result=<count>", then the count to return.
inline int32_t LogItemResult(std::string_view operation, int64_t count) {
    debugLog(std::string(operation) + ", Result=" + std::to_string(count));
    return SaturatedCount(count);
}

}  // namespace ts
