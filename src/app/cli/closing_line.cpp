#include "app/cli/closing_line.h"

#include <cstdio>

#include "app/cli/terminal_text.h"

namespace ts::cli {

double Stopwatch::seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

std::string Stopwatch::elapsedText() const { return durationText(seconds()); }

void printClosingLine(bool quiet, const std::string& line) {
    if (quiet) return;
    std::printf("%s\n", visibleText(line).c_str());
    std::fflush(stdout);
}

}  // namespace ts::cli
