#pragma once
// What a backup tells the run it belongs to while it captures: what it could not save as it
// was, what it saved, and how much a list of files is about to read. The run hands its
// report down to the items with each call; nothing climbs back up through the project. The
// base class hears nothing, which is what a capture outside a run wants.
#include <cstdint>
#include <string>

namespace ts {

class CaptureReport {
public:
    enum class Problem {
        NotSaved,          // the error record stands in the file's place
        ChangedWhileRead,  // saved, but it shrank or grew while it was read
        FolderNotListed,   // a folder whose files could not be looked for
    };
    enum class Saved { File, UnreadableFile, RegistryValue };

    virtual ~CaptureReport() = default;

    // problem at realPath (a profile path, or a registry key or value left out); reason says why.
    virtual void notSaved(const std::string& realPath, const std::string& reason, Problem problem) {
        (void)realPath, (void)reason, (void)problem;
    }
    // Told as each thing is written; bytes: a file's size, 0 for the others.
    virtual void saved(Saved what, int64_t bytes) { (void)what, (void)bytes; }
    // A list of count files holding bytes in all (their sizes before reading) is about to be
    // saved, each then told through saved(), so a run can show how far it got.
    virtual void filesAhead(int64_t count, int64_t bytes) { (void)count, (void)bytes; }
};

}  // namespace ts
