#include "engine/run.h"

#include "engine/project.h"
#include "items/capture/inventory_sink.h"
#include "platform/stream/inflate_stream.h"
#include "platform/exception.h"
#include "platform/profile/profile.h"

namespace ts {

Run::Run(TtsBackupProject& project, Profile* profile, RunEvents events)
    : project_(project), profile_(profile), events_(std::move(events)) {
    if (profile_)
        project_.SetUserProfile(profile_);
    else if (project_.HasUserProfile())
        profile_ = &project_.UserProfile();
    if (profile_) profileScope_ = std::make_unique<ProfileRunScope>(*profile_);
}

Run::~Run() {
    detach();
}

void Run::attach() {
    project_.attachRun(this);
}

void Run::detach() {
    project_.detachRun(this);
}

void Run::cancel() {
    std::lock_guard lock(finalStepMutex_);
    // An upload's stop_callback closes its connection inside this call, still ordered
    // before any entry into the final step.
    if (!finalStep_) stop_.request_stop();
}

bool Run::enterFinalStep() {
    std::lock_guard lock(finalStepMutex_);
    if (stop_.stop_requested()) return false;
    finalStep_ = true;
    return true;
}

void Run::throwIfStopped() const {
    if (stop_.stop_requested()) throw RunStopped{};
}

void Run::status(const std::string& text) const {
    if (events_.onStatus) events_.onStatus(text);
}

void Run::progress(uint8_t percent) const {
    if (events_.onProgress) events_.onProgress(percent);
}

bool Run::readStoredItems(InflateStream& stream, const ItemFilter& filter,
                          const std::function<void(TtsBPSourceItem&)>& readChosen) {
    InventorySink passedOver;
    for (TtsBPSourceItem* item : project().Source().ItemList()) {
        if (cancelled()) return false;
        if (!item->Selected()) continue;  // in a data file's project: not stored
        if (!filter || filter(*item)) {
            readChosen(*item);
        } else {
            status("Skip " + item->Caption() + " ...");
            passedOver.clear();
            item->RestoreToSink(stream, passedOver);
        }
    }
    return true;
}

}  // namespace ts
