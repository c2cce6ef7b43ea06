#include "ui/password_question.h"

#include <utility>

#include "ui/prompts.h"

namespace ts::ui {

std::optional<std::string> DialogPasswordQuestion::askPassword(const std::string&, bool retry) {
    if (retry) prompts_.error(parent_, wrongText_);
    if (typed_) return std::exchange(typed_, std::nullopt);
    std::optional<QString> password = prompts_.askPassword(parent_);
    if (!password) return std::nullopt;
    return password->toStdString();
}

}  // namespace ts::ui
