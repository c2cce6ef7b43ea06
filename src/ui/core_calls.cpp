#include "ui/core_calls.h"

#include <filesystem>

#include "engine/flows.h"
#include "engine/project.h"
#include "platform/exception.h"

namespace ts::ui {

RowMark readProjectEntry(const std::string& path, TtsBackupProject& project, std::string* why) {
    std::error_code error;
    if (!std::filesystem::exists(path, error)) return RowMark::Invalid;
    try {
        project.LoadFromFile(path);
    } catch (const EFileEncrypted&) {
        return RowMark::Encrypted;
    } catch (...) {
        if (why) *why = damagedProjectFile(path).text;
        return RowMark::Damaged;
    }
    return RowMark::Valid;
}

}  // namespace ts::ui
