#include "ui/password_question.h"

#include "ui/prompts.h"

namespace ts::ui {

std::optional<std::string> DialogPasswordQuestion::askPassword(const std::string&, bool retry) {
    ++asked_;
    if (retry) prompts_.error(parent_, kInvalidPasswordText);
    std::optional<QString> password = prompts_.askPassword(parent_);
    if (!password) return std::nullopt;
    return password->toStdString();
}

}  // namespace ts::ui
