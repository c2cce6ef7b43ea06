#pragma once
// The steps every front end takes around a run: opening a project or a data file (asking
// for its password through the front end), and the checks made before anything is written.
// Failures leave as FlowFailure, or as the engine's own exceptions (classify those with
// classifyCurrentException).
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/failure.h"
#include "engine/project.h"

namespace ts {

class DataFileReader;

// Asked by a flow when a file is encrypted. Returns nullopt when the user gives up.
// `retry` is true when the previous answer was wrong.
class PasswordQuestion {
public:
    virtual ~PasswordQuestion() = default;
    virtual std::optional<std::string> askPassword(const std::string& file, bool retry) = 0;
};

// Opens a project file (.tsly). When its records are encrypted the question is asked, and
// each answer is tried on a fresh project, so a wrong answer never leaves a half-filled one.
// nullptr when the question returned nullopt. Throws FlowFailure: NotADataFile for a file that
// is not a project file, DamagedDataFile for one whose records do not hold (a compression
// level outside 0 to 3, a record cut short), WrongPassword after maxTries wrong answers.
std::unique_ptr<TtsBackupProject> openProjectFile(const std::string& file, Profile& profile,
                                                  PasswordQuestion& question, int maxTries = 3);

// Call inside a catch block of code reading the project file `file`: what the failure means,
// a damaged file said as one and named.
Failure damagedProjectFile(const std::string& file);

// What a data file (.tsly_dat) says about itself before any password: its header.
struct DataFileSummary {
    bool encrypted = false;
    double backupTime = 0;  // days since 30 December 1899, local time
};

// A data file opened as far as its project: the header and the project stream are read and
// the file stays open just after them, so a restore goes on reading it without opening it
// again (RestoreRun's constructor that takes an OpenedDataFile).
struct OpenedDataFile {
    std::unique_ptr<TtsBackupProject> project;  // Encrypt and Password set; Source() lists the stored items
    DataFileSummary summary;
    std::string file;
    std::shared_ptr<DataFileReader> reader;     // positioned after the project stream; taken by a restore
};

// Reads the file's header, asks the password when it is encrypted (again after a wrong
// answer, up to maxTries), loads the project it holds. nullopt when the question returned
// nullopt. Throws FlowFailure: NotADataFile, WrongPassword after maxTries wrong answers,
// DamagedDataFile; the engine's exceptions when the file cannot be read.
std::optional<OpenedDataFile> openDataFile(const std::string& file, Profile& profile, PasswordQuestion& question,
                                           int maxTries = 3);

// The check before a restore writes anything: the problems found (empty: go ahead), worded
// for the user. The profile can be written, inside itself, and Wine is not running on it
// (its registry is about to be written). A backup project's check is checkProject.
std::vector<Failure> checkBeforeRestore(const Profile& profile);

// The first problem of a check as a FlowFailure; nothing when there is none.
void throwFirst(const std::vector<Failure>& problems);

// The name a project's data file gets ("NAME.tsly_dat"). Throws FlowFailure(Usage) for a
// name that cannot name a file in the destination folder (empty, ".", "..", or holding "/",
// "\" or a control character).
std::string dataFileNameOf(const std::string& projectName);

}  // namespace ts
