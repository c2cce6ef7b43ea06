#pragma once
// Text for JSON output: strings quoted with every character JSON forbids raw escaped.
#include <string>
#include <string_view>

namespace ts::cli {

// text as a JSON string literal, quotes included. Control characters become \n, \t, ... or
// \u00XX; bytes that are not UTF-8 become U+FFFD, so the output is always valid JSON.
std::string jsonString(std::string_view text);

}  // namespace ts::cli
