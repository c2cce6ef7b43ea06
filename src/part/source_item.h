#pragma once
// The common part of the four items a project can save: a caption and a selected flag,
// written as the fixed 257-byte head of every item's record in the project stream.
#include <cstdint>
#include <string>
#include <vector>

#include "part/bp_object.h"

namespace ts {

class RestoreSink;

class TtsBPSourceItem : public TtsBPObject {
public:
    static constexpr int32_t kHeadSize = 257;

    TtsBPSourceItem(TtsProjectLink* project, std::string caption)
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

    // The item's saved data in the data stream, and putting it back in place.
    virtual int32_t BackupToStream(Stream& stream) = 0;
    virtual int32_t RestoreFromStream(Stream& stream) = 0;
    // Reads exactly what BackupToStream wrote into any sink (passing an item over, listing
    // or checking a data file), so the data stream stays aligned; returns the bytes read.
    // RestoreFromStream is this with the sink that writes into the project's user profile.
    virtual int32_t RestoreToSink(Stream& stream, RestoreSink& sink) = 0;
    // The key trees a restore of this item writes: those its capture reads. A stored tree
    // outside them is refused, in a restore and in an extract alike.
    virtual std::vector<std::string> RestoredKeyRoots() const { return {}; }

private:
    std::string caption_;
    bool selected_ = false;
};

}  // namespace ts
