#pragma once
// The few calls the dialogs make into the core, kept in one place.
#include <optional>
#include <string>

namespace ts {
class TtsBackupProject;
}

namespace ts::ui {

// Why a project name cannot become the data file's name ("<name>.tsly_dat" in the folder
// or on the server), worded for the user; nullopt when it can. The backup run refuses the
// same names, but only after capturing everything.
std::optional<std::string> dataFileNameProblem(const std::string& projectName);

enum class RowMark { Invalid = 0, Valid = 1, Encrypted = 2, Damaged = 3 };

// The history's rule for one entry, reading the project file into project: no file at the
// path is Invalid, a file that needs a password is Encrypted, one that cannot be read is
// Damaged, with the reason (naming the file) in *why.
RowMark readProjectEntry(const std::string& path, TtsBackupProject& project, std::string* why = nullptr);

}  // namespace ts::ui
