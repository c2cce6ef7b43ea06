#pragma once
// How ls and check read a data file, and which stored items a command takes.
#include <optional>
#include <string>
#include <vector>

#include "app/cli/cli_options.h"
#include "engine/flows.h"

namespace ts {
struct DataFileContents;
class Profile;
class TtsBackupProject;
}

namespace ts::cli {

// Opens the data file once, with the archive password from TESSALY_PASSWORD or a prompt when
// its header says encrypted, and reads all of it into contents, writing nothing. `opened`
// is set as soon as the project is read, so that what was read before a failure can still
// be shown. Throws what went wrong (see describeFailure).
void openInspected(const std::string& dataFile, Profile& profile, DataFileContents& contents,
                   std::optional<OpenedDataFile>& opened);

// The captions of the stored items a restore or an extract takes: those --items names, each
// of which the file must hold (exit code 1 otherwise), or every stored item.
std::vector<std::string> chosenItems(const std::string& command, const ParsedOptions& options, const TtsBackupProject& project,
                                     const std::string& file);

}  // namespace ts::cli
