#pragma once
// The debug log lines that the parts' stream operations write when they start and end.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/stream/stream.h"
#include "platform/debug_log.h"

namespace ts {

// "<operation>, Current stream position is: <position>, Size is: <size>", read before the
// operation touches the stream.
inline void logOperationStart(std::string_view operation, const Stream& stream) {
    debugLog(std::string(operation) + ", Current stream position is: " +
             std::to_string(stream.position()) + ", Size is: " + std::to_string(stream.size()));
}

// "<operation>, Result=<count>".
inline void logOperationResult(std::string_view operation, int32_t count) {
    debugLog(std::string(operation) + ", Result=" + std::to_string(count));
}

}  // namespace ts
