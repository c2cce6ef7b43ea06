#pragma once
// What ls and check do before they read a data file: make sure it is one, and when its
// header says encrypted, get the archive password before anything is decoded.
#include <string>
#include <vector>

#include "app/cli/cli_options.h"

namespace ts {
class TtsBackupProject;
}

namespace ts::cli {

// Sets the project's password from TESSALY_PASSWORD or a prompt when the file is encrypted,
// and returns whether it is. A file that is not a data file fails (exit code 1).
bool preparePassword(TtsBackupProject& project, const std::string& dataFile);

// The captions of the stored items a restore or an extract takes: those --items names, each
// of which the file must hold (exit code 1 otherwise), or every stored item.
std::vector<std::string> chosenItems(const std::string& command, const ParsedOptions& options, const TtsBackupProject& project,
                                     const std::string& file);

}  // namespace ts::cli
