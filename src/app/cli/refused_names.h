#pragma once
// The warnings of restore and check about saved files whose stored names a restore into the
// profile refuses (they would land outside the user's special folders): one line per name on
// standard error, then the count. They warn and do not fail the command: everything else in
// the file is restored (or sound).
#include <string>
#include <vector>

#include "engine/project.h"

namespace ts {
struct DataFileContents;
}

namespace ts::cli {

// What a restore refused (byRestore) or would refuse (a check or listing), about `file`.
void warnOfRefusedNames(const std::string& file, const std::vector<RefusedFileName>& names, bool byRestore);

// The names an inspection of a data file found refused, item by item in file order.
std::vector<RefusedFileName> refusedNamesIn(const DataFileContents& contents);

}  // namespace ts::cli
