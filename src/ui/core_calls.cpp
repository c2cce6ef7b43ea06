#include "ui/core_calls.h"

#include <filesystem>

#include "engine/datafile/data_file_reader.h"
#include "engine/project.h"
#include "platform/exception.h"

namespace ts::ui {

std::optional<std::string> dataFileNameProblem(const std::string& projectName) {
    // The same rule the backup run applies before it writes the data file.
    if (projectName == "." || projectName == ".." || projectName.find_first_of("/\\") != std::string::npos)
        return "Project Name cannot name a data file: it must not be \".\" or \"..\" or hold \"/\" or \"\\\"!";
    return std::nullopt;
}

bool dataFileEncrypted(const std::string& file) {
    DataFileReader reader(file);
    if (!reader.header()) throw TsException("\"" + file + "\" is not a Tessaly data file");
    return reader.header()->Encrypt;
}

RowMark readProjectEntry(const std::string& path, TtsBackupProject& project) {
    std::error_code error;
    if (!std::filesystem::exists(path, error)) return RowMark::Invalid;
    try {
        project.LoadFromFile(path);
    } catch (const EFileEncrypted&) {
        return RowMark::Encrypted;
    }
    return RowMark::Valid;
}

}  // namespace ts::ui
