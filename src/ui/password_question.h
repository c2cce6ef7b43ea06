#pragma once
// The shared flows' password question answered by the password dialog: a wrong answer is
// said so before the dialog asks again.
#include "engine/flows.h"

class QWidget;

namespace ts::ui {

class Prompts;

inline constexpr char kInvalidPasswordText[] = "Please check your password, your password is invalid!";

class DialogPasswordQuestion : public PasswordQuestion {
public:
    DialogPasswordQuestion(Prompts& prompts, QWidget* parent) : prompts_(prompts), parent_(parent) {}
    std::optional<std::string> askPassword(const std::string& file, bool retry) override;
    int Asked() const { return asked_; }

private:
    Prompts& prompts_;
    QWidget* parent_;
    int asked_ = 0;
};

}  // namespace ts::ui
