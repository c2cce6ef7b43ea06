#pragma once
// What a run tells whoever watches it. Both are called on the run's own thread, in the order
// things happen; a handler must return at once (a window queues the value to its interface
// thread), since the run waits for it. Either may be empty.
#include <cstdint>
#include <functional>
#include <string>

namespace ts {

struct RunEvents {
    std::function<void(const std::string&)> onStatus;
    // 0..100. A restore's value never goes backwards. A backup's starts again from 0 when
    // its upload begins (a new status text), and never goes backwards within one status.
    std::function<void(uint8_t)> onProgress;
};

}  // namespace ts
