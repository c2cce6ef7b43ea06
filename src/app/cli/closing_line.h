#pragma once
// The one line a command prints on standard output when it has done its work, telling what
// it wrote; --quiet leaves it out for scripts that want nothing on success.
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/run_report.h"

namespace ts::cli {

// The counting words are the engine's, shared with the windowed program's end report.
using ts::countText;
using ts::itemsText;
using ts::sizeText;

// Measures a command from its construction.
class Stopwatch {
public:
    double seconds() const;
    // "0.4 s", "12 s", "3 min 5 s".
    std::string elapsedText() const;

private:
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// Prints line (with its line end) unless quiet.
void printClosingLine(bool quiet, const std::string& line);

}  // namespace ts::cli
