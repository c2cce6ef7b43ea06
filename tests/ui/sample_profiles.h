#pragma once
// Shared by the window tests: a sample profile with real mail data to back up ("alice") and
// an empty one to restore into ("bob"), all in one temporary folder.
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "engine/backup_run.h"
#include "engine/project.h"
#include "platform/profile/profile.h"
#include "support/temp_dir.h"

namespace ts::test {

struct SampleProfiles {
    SampleProfiles() {
        std::string command = std::string(TESSALY_SOURCE_DIR) + "/scripts/make-sample-profile '" + dir.file("alice") +
                              "' --user alice > /dev/null";
        if (std::system(command.c_str()) != 0) throw std::runtime_error("make-sample-profile failed");
        alice = Profile::open(dir.file("alice"), "alice");
        createProfileLayout(dir.file("bob"));
        bob = Profile::open(dir.file("bob"), "bob");
        std::filesystem::create_directory(dir.path() / "out");
        std::filesystem::create_directory(dir.path() / "work");
    }
    std::string out(const std::string& name = {}) const { return dir.file("out") + (name.empty() ? "" : "/" + name); }
    std::string work() const { return dir.file("work"); }

    // The project "Mail" over every item of from (none when allItems is false), backed up into
    // out() by way of work().
    std::unique_ptr<TtsBackupProject> mailProject(Profile& from, bool allItems = true) const {
        auto project = std::make_unique<TtsBackupProject>(&from);
        project->SetName("Mail");
        project->SetWorkFolder(work());
        project->Destination().SetLocalFolder(out());
        if (allItems)
            for (TtsBPSourceItem* item : project->Source().ItemList()) item->SetSelected(true);
        return project;
    }
    // alice's every item backed up without the windows, encrypted with "right" when asked;
    // the data file written.
    std::string backUpAlice(bool encrypted = false) const {
        std::unique_ptr<TtsBackupProject> project = mailProject(*alice);
        project->SetEncrypt(encrypted);
        project->SetPassword("right");
        BackupRun(*project, *alice, {}, nullptr).run();
        return out("Mail.tsly_dat");
    }

    TempDir dir;
    std::unique_ptr<Profile> alice;
    std::unique_ptr<Profile> bob;
};

}  // namespace ts::test
