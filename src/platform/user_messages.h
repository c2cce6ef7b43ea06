#pragma once
// The message boxes the engine itself shows (an upload that failed, a restore that
// failed). The GUI shows a real modal box on the interface thread and blocks the caller
// until it is closed; the command line prints the text.
#include <string>

namespace ts {

enum class MessageIcon { Error, Question, Information };

class UserMessages {
public:
    virtual ~UserMessages() = default;
    // Returns once the user has seen the message.
    virtual void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) = 0;
};

}  // namespace ts
