#include "app/cli/data_file_access.h"

#include "app/cli/passwords.h"
#include "engine/flows.h"
#include "engine/project.h"

namespace ts::cli {

bool preparePassword(TtsBackupProject& project, const std::string& dataFile) {
    const bool encrypted = probeDataFile(dataFile).encrypted;
    if (encrypted) project.SetPassword(archivePassword(dataFile, false));
    return encrypted;
}

}  // namespace ts::cli
