#include "engine/run_report.h"

#include <cstdio>

#include "engine/backup_run.h"
#include "engine/project.h"

namespace ts {

std::string sizeText(int64_t bytes) {
    if (bytes < 1024) return countText(bytes, "byte", "bytes");
    const char* units[] = {"KiB", "MiB", "GiB", "TiB"};
    double value = static_cast<double>(bytes) / 1024.0;
    size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < sizeof units / sizeof units[0]) {
        value /= 1024.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

std::string countText(int64_t count, const std::string& one, const std::string& many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string itemsText(const std::vector<std::string>& captions) {
    std::string list;
    for (const std::string& caption : captions) list += (list.empty() ? "" : ", ") + caption;
    return countText(static_cast<int64_t>(captions.size()), "item", "items") + " (" + list + ")";
}

std::string durationText(double seconds) {
    char text[32];
    if (seconds < 10)
        std::snprintf(text, sizeof text, "%.1f s", seconds);
    else if (seconds < 60)
        std::snprintf(text, sizeof text, "%.0f s", seconds);
    else
        std::snprintf(text, sizeof text, "%d min %d s", static_cast<int>(seconds) / 60, static_cast<int>(seconds) % 60);
    return text;
}

std::string backupReport(const BackupRun& run, double seconds, const std::string& whereNamed) {
    std::vector<std::string> items;
    for (const TtsBPSourceItem* item : run.project().Source().ItemList())
        if (item->Selected()) items.push_back(item->Caption());
    const RunTally& tally = run.tally();
    const bool uploaded = run.project().Destination().Kind() == TtsBPDestination::kKindFtp;
    std::string line = (uploaded ? "Uploaded " : "Wrote ") + run.dataFileLocation() + ": " + itemsText(items) + ", " +
                       countText(tally.filesSaved, "file", "files");
    const size_t notSaved = run.filesNotSaved();
    const auto others = static_cast<int64_t>(run.warnings().size() - notSaved);
    if (notSaved > 0 && others > 0)
        line += " (" + std::to_string(notSaved) + " not saved and " + countText(others, "other warning", "other warnings") +
                ", " + whereNamed + ")";
    else if (notSaved > 0)
        line += " (" + std::to_string(notSaved) + " not saved, " + whereNamed + ")";
    else if (others > 0)
        line += " (" + countText(others, "warning", "warnings") + ", " + whereNamed + ")";
    return line + ", " + sizeText(run.plainBytes()) + " in, " + sizeText(run.dataFileBytes()) + " out, " +
           durationText(seconds);
}

std::string restoreReport(const std::vector<std::string>& items, const std::string& file, const RunTally& tally,
                          size_t heldBack, double seconds) {
    std::string line = "Restored " + itemsText(items) + " from " + file + ": " +
                       countText(tally.filesRestored, "file", "files") + " (" + sizeText(tally.bytesRestored) + "), " +
                       countText(tally.valuesRestored, "registry value", "registry values");
    if (heldBack > 0) line += ", " + countText(static_cast<int64_t>(heldBack), "name", "names") + " held back";
    return line + ", " + durationText(seconds);
}

}  // namespace ts
