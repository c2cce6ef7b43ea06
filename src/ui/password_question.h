#pragma once
// The shared flows' password question answered by the password dialog: a wrong answer is
// said so before the dialog asks again.
#include <optional>
#include <string>

#include "engine/flows.h"

class QWidget;

namespace ts::ui {

class Prompts;

inline constexpr char kInvalidPasswordText[] = "Please check your password, your password is invalid!";

class DialogPasswordQuestion : public PasswordQuestion {
public:
    // wrongText: what a wrong answer is told before the next question. typed: a password the
    // user typed already (the restore dialog's field), the first answer, given without asking.
    DialogPasswordQuestion(Prompts& prompts, QWidget* parent, const char* wrongText = kInvalidPasswordText,
                           std::optional<std::string> typed = std::nullopt)
        : prompts_(prompts), parent_(parent), wrongText_(wrongText), typed_(std::move(typed)) {}
    std::optional<std::string> askPassword(const std::string& file, bool retry) override;

private:
    Prompts& prompts_;
    QWidget* parent_;
    const char* wrongText_;
    std::optional<std::string> typed_;
};

}  // namespace ts::ui
