#include "engine/run.h"

#include "engine/project.h"
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

void Run::status(const std::string& text) const {
    if (events_.onStatus) events_.onStatus(text);
}

void Run::progress(uint8_t percent) const {
    if (events_.onProgress) events_.onProgress(percent);
}

}  // namespace ts
