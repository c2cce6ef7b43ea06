#pragma once
// The one line a command prints on standard output when it has done its work, telling what
// it wrote; --quiet leaves it out for scripts that want nothing on success.
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace ts::cli {

// "512 bytes", "1.5 KiB", "3.2 MiB", "1.1 GiB".
std::string sizeText(int64_t bytes);
// "1 file", "2 files".
std::string countText(int64_t count, const std::string& one, const std::string& many);
// "2 items (Favorites, IE Settings)".
std::string itemsText(const std::vector<std::string>& captions);

// Measures a command from its construction.
class Stopwatch {
public:
    // "0.4 s", "12 s", "3 min 5 s".
    std::string elapsedText() const;

private:
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// Prints line (with its line end) unless quiet.
void printClosingLine(bool quiet, const std::string& line);

}  // namespace ts::cli
