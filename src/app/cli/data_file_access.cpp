#include "app/cli/data_file_access.h"

#include "app/cli/cli_errors.h"
#include "app/cli/passwords.h"
#include "engine/datafile/data_file_reader.h"
#include "engine/project.h"

namespace ts::cli {

void preparePassword(TtsBackupProject& project, const std::string& dataFile) {
    bool encrypted;
    {
        DataFileReader reader(dataFile);
        if (!reader.header()) throw CommandFailure(dataFile + ": not a Tessaly data file", kExitFailure);
        encrypted = reader.header()->Encrypt;
    }
    if (encrypted) project.SetPassword(archivePassword(dataFile, false));
}

}  // namespace ts::cli
