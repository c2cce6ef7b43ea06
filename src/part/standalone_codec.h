#pragma once
// The section codec without a backup project: a project link holding nothing but the
// codec's switch and pass phrase (and, where file records expand names, a profile), and a
// part with no record of its own. Tools that read or write sections outside a project use
// them: benchmarks, fuzz targets, tests.
#include <string>
#include <utility>

#include "part/bp_object.h"
#include "platform/exception.h"

namespace ts {

class TtsCodecSettings : public TtsProjectLink {
public:
    TtsCodecSettings(bool encrypt, std::string password, Profile* profile = nullptr)
        : encrypt_(encrypt), password_(std::move(password)), profile_(profile) {}

    bool Encrypt() const override { return encrypt_; }
    std::string Password() const override { return password_; }
    bool Cancelled() const override { return false; }
    Profile& UserProfile() const override {
        if (!profile_) throw TsException("The section codec was given no user profile");
        return *profile_;
    }

private:
    bool encrypt_;
    std::string password_;
    Profile* profile_;
};

class TtsSectionCodec : public TtsBPObject {
public:
    using TtsBPObject::TtsBPObject;
    int32_t ReadFromStream(Stream&) override { return 0; }
    int32_t WriteToStream(Stream&) override { return 0; }
};

}  // namespace ts
