#pragma once
// The common part of the four items a project can save: a caption and a selected flag,
// written as the fixed 257-byte head of every item's record in the project stream.
#include <cstdint>
#include <string>
#include <vector>

#include "part/bp_object.h"

namespace ts {

class CaptureReport;
class RestoreSink;

class TtsBPSourceItem : public TtsBPObject {
public:
    static constexpr int32_t kHeadSize = 257;

    TtsBPSourceItem(ProjectLink* project, std::string caption)
        : TtsBPObject(project), caption_(std::move(caption)) {}

    bool Selected() const { return selected_; }
    void SetSelected(bool selected) { selected_ = selected; }
    const std::string& Caption() const { return caption_; }

    // The head: the caption field, then the selected byte. Item kinds write their own record
    // after it. Returns 257.
    int32_t WriteToStream(Stream& stream) override;
    // Reads the head. A stream that ends inside the caption field leaves Caption as it was,
    // one that ends before the selected byte leaves Selected; neither is an error, the count
    // returned shows the shortfall.
    int32_t ReadFromStream(Stream& stream) override;

    // The item's saved data in the data stream, captured now from the project's profile.
    // The run hands its report down (what was not saved as it was, what was saved);
    // BackupToStream alone is a capture that nobody hears.
    int32_t BackupToStream(Stream& stream);
    virtual int32_t backup(Stream& stream, CaptureReport& report) = 0;
    // Puts the saved data back through sink: the run's restore hands its sink (writing into
    // the profile through the run's transaction); whoever restores outside a run makes one.
    // The item takes what it restored as its own state (the favorites' list of files) and
    // keeps to its own registry keys: a stored key tree outside RestoredKeyRoots is refused.
    virtual int32_t RestoreFromStream(Stream& stream, RestoreSink& sink) = 0;
    // Reads exactly what BackupToStream wrote into any sink (passing an item over, listing
    // or checking a data file, extracting it), so the data stream stays aligned; the item
    // stays as it was. Returns the bytes read.
    virtual int32_t RestoreToSink(Stream& stream, RestoreSink& sink) = 0;
    // The key trees a restore of this item writes: those its capture reads. A stored tree
    // outside them is refused, in a restore and in an extract alike.
    virtual std::vector<std::string> RestoredKeyRoots() const { return {}; }

private:
    std::string caption_;
    bool selected_ = false;
};

}  // namespace ts
