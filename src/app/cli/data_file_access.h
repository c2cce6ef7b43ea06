#pragma once
// What ls and check do before they read a data file: make sure it is one, and when its
// header says encrypted, get the archive password before anything is decoded.
#include <string>

namespace ts {
class TtsBackupProject;
}

namespace ts::cli {

// Sets the project's password from TESSALY_PASSWORD or a prompt when the file is encrypted,
// and returns whether it is. A file that is not a data file fails (exit code 1).
bool preparePassword(TtsBackupProject& project, const std::string& dataFile);

}  // namespace ts::cli
