#pragma once
// The few calls the dialogs make into the core, kept in one place.
#include <optional>
#include <string>

namespace ts {
class Profile;
class TtsBackupProject;
}

namespace ts::ui {

// Whether the data file is encrypted, from its header. Throws when it cannot be opened or
// is not a data file.
bool dataFileEncrypted(const std::string& file);

// Damaged: a file is there but its records do not hold, or it cannot be read.
// Whether password opens the encrypted data file, asked of the core's own open path. Throws
// what that path throws for a file that cannot be read or is damaged.
bool dataFilePasswordOpens(const std::string& file, const std::string& password, Profile& profile);

enum class RowMark { Invalid = 0, Valid = 1, Encrypted = 2, Damaged = 3 };

// The history's rule for one entry, reading the project file into project: no file at the
// path is Invalid, a file that needs a password is Encrypted, one that cannot be read is
// Damaged, with the reason (naming the file) in *why.
RowMark readProjectEntry(const std::string& path, TtsBackupProject& project, std::string* why = nullptr);

}  // namespace ts::ui
