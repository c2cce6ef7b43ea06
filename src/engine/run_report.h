#pragma once
// The one line that tells what a finished run wrote, worded once for every front end: the
// command line prints it last, the windowed program shows it below "Finished!".
#include <cstdint>
#include <string>
#include <vector>

#include "engine/run.h"

namespace ts {

class BackupRun;

// "512 bytes", "1.5 KiB", "3.2 MiB", "1.1 GiB".
std::string sizeText(int64_t bytes);
// "1 file", "2 files".
std::string countText(int64_t count, const std::string& one, const std::string& many);
// "2 items (Favorites, IE Settings)".
std::string itemsText(const std::vector<std::string>& captions);
// "0.4 s", "12 s", "3 min 5 s".
std::string durationText(double seconds);

// "Wrote DEST: ITEMS, N files[ (K not saved, WHERE)], X in, Y out, TIME" ("Uploaded" for an
// FTP destination); whereNamed says where the files not saved are named for the reader.
std::string backupReport(const BackupRun& run, double seconds, const std::string& whereNamed);
// "Restored ITEMS from FILE: N files (SIZE), M registry values[, K names held back], TIME".
std::string restoreReport(const std::vector<std::string>& items, const std::string& file, const RunTally& tally,
                          size_t heldBack, double seconds);

}  // namespace ts
