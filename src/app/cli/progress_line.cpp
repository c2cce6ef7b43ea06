#include "app/cli/progress_line.h"

#include <cstdio>
#include <unistd.h>

#include "app/cli/terminal_text.h"

namespace ts::cli {

ProgressLine::ProgressLine() : enabled_(::isatty(STDERR_FILENO) == 1) {}

ProgressLine::~ProgressLine() {
    if (drawn_) std::fputs("\n", stderr);
}

RunEvents ProgressLine::events() {
    return RunEvents{[this](const std::string& text) { status(text); }, [this](uint8_t percent) { progress(percent); }};
}

void ProgressLine::status(const std::string& text) {
    if (text == status_) return;
    status_ = text;
    percent_ = -1;
    draw();
}

void ProgressLine::progress(uint8_t percent) {
    // One event comes per 10 KiB block; the terminal only needs the changes.
    if (percent == percent_) return;
    percent_ = percent;
    draw();
}

void ProgressLine::draw() {
    if (!enabled_) return;
    std::string line = "\r\033[K" + visibleText(status_);
    if (percent_ >= 0) line += "  " + std::to_string(percent_) + " %";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    drawn_ = true;
}

}  // namespace ts::cli
