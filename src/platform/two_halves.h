#pragma once
// Splitting a loop over independent items in two: the caller runs the first half while a
// helper thread, kept for the whole process, runs the second. For work that is long enough
// per call (deciphering a chunk of a data file) and that the caller would otherwise do alone.
#include <cstddef>
#include <functional>

namespace ts {

// Calls work(begin, end) over [0, count), in two halves side by side when count is at least
// minimumToSplit, the machine has more than one processor and the helper is free; otherwise
// in one call on the caller's thread. Returns once all of it is done. work must not throw.
void runInTwoHalves(size_t count, size_t minimumToSplit, const std::function<void(size_t, size_t)>& work);

}  // namespace ts
