#pragma once
// The process-wide debug log: an ordered list of lines the engine appends to while it reads
// and writes. It is loaded from the log file at program start and written back at the end.
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

namespace ts {

class DebugLog {
public:
    // The newest lines kept when the list is written back, so the file cannot grow for ever.
    static constexpr size_t kMaxSavedLines = 10000;
    // A log file larger than this is not one the program wrote.
    static constexpr int64_t kMaxFileBytes = int64_t{16} << 20;

    static DebugLog& instance();

    // Appends one line; safe against appends from other threads.
    void add(std::string line);
    std::vector<std::string> lines() const;
    void clear();

    // Program start: loads the lines of logFile (a host path) when it exists, then appends
    // the "Log at " line for `now`. Remembers logFile for finish(). Only a regular file of
    // bounded size is read, never through a link: anything else there is ignored with one
    // line saying so. A logFile whose folder does not lie inside insideFolder (when given:
    // the profile, which a link may lead out of) is neither read nor written.
    void start(const std::string& logFile, std::time_t now, const std::string& insideFolder = {});
    // Program end: appends the empty line and writes the newest kMaxSavedLines lines to a
    // new file that replaces the log file (or whatever was at its name). Returns false when
    // the file could not be written.
    bool finish();

    // "Log at " + the local date in the user's short date format and, unless it is exactly
    // midnight, a blank and the time in the user's long time format.
    static std::string logAtLine(std::time_t now);

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    std::string logFile_;
};

// Shorthand for DebugLog::instance().add(line).
void debugLog(std::string line);

}  // namespace ts
