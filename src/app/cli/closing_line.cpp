#include "app/cli/closing_line.h"

#include <cstdio>

#include "app/cli/terminal_text.h"

namespace ts::cli {

std::string sizeText(int64_t bytes) {
    if (bytes < 1024) return countText(bytes, "byte", "bytes");
    const char* units[] = {"KiB", "MiB", "GiB", "TiB"};
    double value = static_cast<double>(bytes) / 1024.0;
    size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < sizeof units / sizeof units[0]) {
        value /= 1024.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

std::string countText(int64_t count, const std::string& one, const std::string& many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string itemsText(const std::vector<std::string>& captions) {
    std::string list;
    for (const std::string& caption : captions) list += (list.empty() ? "" : ", ") + caption;
    return countText(static_cast<int64_t>(captions.size()), "item", "items") + " (" + list + ")";
}

std::string Stopwatch::elapsedText() const {
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    char text[32];
    if (seconds < 10)
        std::snprintf(text, sizeof text, "%.1f s", seconds);
    else if (seconds < 60)
        std::snprintf(text, sizeof text, "%.0f s", seconds);
    else
        std::snprintf(text, sizeof text, "%d min %d s", static_cast<int>(seconds) / 60, static_cast<int>(seconds) % 60);
    return text;
}

void printClosingLine(bool quiet, const std::string& line) {
    if (quiet) return;
    std::printf("%s\n", visibleText(line).c_str());
    std::fflush(stdout);
}

}  // namespace ts::cli
