#include "app/cli/data_file_access.h"

#include <algorithm>

#include "app/cli/cli_errors.h"
#include "app/cli/item_names.h"
#include "app/cli/passwords.h"
#include "engine/flows.h"
#include "engine/project.h"
#include "engine/restore_run.h"

namespace ts::cli {

void openInspected(const std::string& dataFile, Profile& profile, DataFileContents& contents,
                   std::optional<OpenedDataFile>& opened) {
    CliPasswordQuestion question;
    opened = openDataFile(dataFile, profile, question, 1);
    if (!opened) throw PasswordError("no password was entered");
    inspectStoredItems(*opened->project, *opened->reader, contents);
}

std::vector<std::string> chosenItems(const std::string& command, const ParsedOptions& options, const TtsBackupProject& project,
                                     const std::string& file) {
    std::vector<std::string> stored;
    for (TtsBPSourceItem* item : project.Source().ItemList())
        if (item->Selected()) stored.push_back(item->Caption());
    auto list = options.value("items");
    if (!list) return stored;
    std::vector<std::string> wanted = parseItemList(command, *list);
    for (const std::string& caption : wanted) {
        if (std::find(stored.begin(), stored.end(), caption) == stored.end())
            throw CommandFailure(file + ": holds no " + caption, kExitFailure);
    }
    return wanted;
}

}  // namespace ts::cli
