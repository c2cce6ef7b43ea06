#include "ui/core_calls.h"

#include <filesystem>

#include "engine/flows.h"
#include "engine/project.h"
#include "platform/exception.h"

namespace ts::ui {

bool dataFileEncrypted(const std::string& file) { return probeDataFile(file).encrypted; }

namespace {

// The one answer typed into the dialog, given once.
class TypedPassword : public PasswordQuestion {
public:
    explicit TypedPassword(std::string password) : password_(std::move(password)) {}
    std::optional<std::string> askPassword(const std::string&, bool retry) override {
        if (retry) return std::nullopt;
        return password_;
    }

private:
    std::string password_;
};

}  // namespace

bool dataFilePasswordOpens(const std::string& file, const std::string& password, Profile& profile) {
    TypedPassword typed(password);
    try {
        return openDataFile(file, profile, typed, 1).has_value();
    } catch (const FlowFailure& failure) {
        if (failure.failure().kind == FailureKind::WrongPassword) return false;
        throw;
    }
}

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
