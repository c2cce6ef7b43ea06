#include "ui/core_calls.h"

#include <filesystem>

#include "engine/flows.h"
#include "engine/project.h"
#include "platform/exception.h"

namespace ts::ui {

std::optional<std::string> dataFileNameProblem(const std::string& projectName) {
    try {
        dataFileNameOf(projectName);
    } catch (const FlowFailure& failure) {
        return failure.failure().text;
    }
    return std::nullopt;
}

bool dataFileEncrypted(const std::string& file) { return probeDataFile(file).encrypted; }

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
