#include "app/cli/refused_names.h"

#include <cstdio>

#include "app/cli/terminal_text.h"
#include "engine/datafile/data_file_contents.h"

namespace ts::cli {

void warnOfRefusedNames(const std::string& file, const std::vector<RefusedFileName>& names, bool byRestore) {
    if (names.empty()) return;
    const char* verb = byRestore ? "refused" : "would refuse";
    for (const RefusedFileName& name : names) {
        std::fprintf(stderr, "tessaly-cli: warning: %s: the restore %s the saved file \"%s\": %s\n", visibleText(file).c_str(), verb,
                     visibleText(name.storedName).c_str(), visibleText(name.reason).c_str());
    }
    const bool one = names.size() == 1;
    std::fprintf(stderr, "tessaly-cli: warning: %s: %zu saved file%s %s refused and not written\n", visibleText(file).c_str(),
                 names.size(), one ? "" : "s", byRestore ? (one ? "was" : "were") : "would be");
}

std::vector<RefusedFileName> refusedNamesIn(const DataFileContents& contents) {
    std::vector<RefusedFileName> names;
    for (const DataFileItemContents& item : contents.items) {
        for (const InventoryFile& saved : item.inventory.files())
            if (!saved.refusedReason.empty()) names.push_back(RefusedFileName{saved.storedName, saved.refusedReason});
    }
    return names;
}

}  // namespace ts::cli
