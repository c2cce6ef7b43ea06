#pragma once
// The status text and percentage of a run, kept on one line of a terminal. When standard
// error is not a terminal nothing is shown, so scripts and schedulers see only errors.
#include <cstdint>
#include <string>

#include "engine/run_events.h"

namespace ts::cli {

class ProgressLine {
public:
    ProgressLine();
    // Ends the line, so what is printed next starts on a line of its own.
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // The events of a run, routed here.
    RunEvents events();
    void status(const std::string& text);
    void progress(uint8_t percent);

private:
    void draw();

    bool enabled_;
    bool drawn_ = false;
    std::string status_;
    int percent_ = -1;
};

}  // namespace ts::cli
