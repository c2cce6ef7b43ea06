#pragma once
// Passwords never come from the command line, where other users could read them in the
// process list: from an environment variable when it is set (the empty text is a valid
// password), else from a prompt on the terminal without echo.
#include <optional>
#include <string>

#include "engine/flows.h"

namespace ts::cli {

// The flows' password question on the command line: the same answer every time, so the
// flows are called with one try (a wrong password exits with 3).
class CliPasswordQuestion : public PasswordQuestion {
public:
    std::optional<std::string> askPassword(const std::string& file, bool retry) override;
};

// TESSALY_PASSWORD, else a prompt naming `what`. With confirm, the prompt asks twice and
// insists on the same answer. PasswordError when there is neither variable nor terminal.
std::string archivePassword(const std::string& what, bool confirm);

// TESSALY_FTP_PASSWORD, else a prompt; PasswordError when neither.
std::string ftpPassword(const std::string& user, const std::string& host);

}  // namespace ts::cli
