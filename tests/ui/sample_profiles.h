#pragma once
// Shared by the window tests: a sample profile with real mail data to back up ("alice") and
// an empty one to restore into ("bob"), all in one temporary folder.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSemaphore>
#include <QTest>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

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

    TempDir dir;
    std::unique_ptr<Profile> alice;
    std::unique_ptr<Profile> bob;
};

// A worker stops at one step until the test lets it go on, so the test can act on the
// interface thread at a known point of the run.
struct WorkerGate {
    QSemaphore reached;
    QSemaphore resume;
    // On the worker thread.
    void stopHere() {
        reached.release();
        resume.acquire();
    }
    // On the interface thread: keeps handling events until the worker stands at the gate.
    bool waitReached(int timeoutMs = 60000) {
        QElapsedTimer timer;
        timer.start();
        while (!reached.tryAcquire()) {
            if (timer.elapsed() > timeoutMs) return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        return true;
    }
    void letGo() { resume.release(); }
};

}  // namespace ts::test
