#pragma once
// The few calls the dialogs make into the core, kept in one place.
#include <string>

namespace ts {
class TtsBackupProject;
}

namespace ts::ui {

enum class RowMark { Invalid = 0, Valid = 1, Encrypted = 2, Damaged = 3 };

// The history's rule for one entry, reading the project file into project: no file at the
// path is Invalid, a file that needs a password is Encrypted, one that cannot be read is
// Damaged, with the reason (naming the file) in *why.
RowMark readProjectEntry(const std::string& path, TtsBackupProject& project, std::string* why = nullptr);

}  // namespace ts::ui
