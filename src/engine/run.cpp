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

void Run::fileNameRefused(const std::string&, const std::string&) {}

void Run::fileNotSaved(const std::string&, const std::string&, TtsProjectLink::CaptureProblem) {}

void Run::tally(TtsProjectLink::Moved what, int64_t bytes) {
    using Moved = TtsProjectLink::Moved;
    switch (what) {
        case Moved::FileSaved:
            ++tally_.filesSaved;
            tally_.bytesSaved += bytes;
            break;
        case Moved::UnreadableFileSaved: ++tally_.unreadableFiles; break;
        case Moved::RegistryValueSaved: ++tally_.valuesSaved; break;
        case Moved::FileRestored:
            ++tally_.filesRestored;
            tally_.bytesRestored += bytes;
            break;
        case Moved::RegistryValueRestored: ++tally_.valuesRestored; break;
    }
}

}  // namespace ts
