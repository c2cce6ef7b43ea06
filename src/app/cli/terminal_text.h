#pragma once
// Text that came from outside the program (data files, project files, servers, the file
// system) on its way to a terminal: a name holding an escape sequence could retitle the
// window, clear the screen or hide what follows it. Every line the command line prints passes
// through visibleText.
#include <string>
#include <string_view>

namespace ts::cli {

// text with each control character (C0, DEL, the C1 range and the bidirectional overrides)
// and each byte that is not part of well-formed UTF-8 written as "\xNN" per byte; everything
// else as it stands.
std::string visibleText(std::string_view text);

// Whether a terminal may act on the character: C0, DEL, C1 and the bidirectional overrides.
bool isTerminalControl(char32_t c);

}  // namespace ts::cli
