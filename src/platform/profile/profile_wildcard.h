#pragma once
// File-name masks with the Windows rules for "*" and "?", as a folder listing applies them:
//  - "*" matches any run of characters, dots included; "*.*" therefore matches every name,
//    also one without a dot, and "*." matches exactly the names without a dot;
//  - "?" matches one character, or nothing at the end of the name or before a dot
//    ("abc?" matches "abc", "a?.txt" matches "a.txt");
//  - a "." before "*", "?" or the end of the mask also matches the end of the name
//    ("a.*" matches "a");
//  - letters match without regard to case.
// Names on Linux are compared as they are: no 8.3 short-name aliases.
#include <string>
#include <string_view>
#include <vector>

namespace ts {

class WildcardMask {
public:
    explicit WildcardMask(std::string_view mask);
    bool matches(std::string_view name) const;

private:
    enum class Kind { Literal, AnyRun, RunBeforeLastDot, OneOrNone, DotOrEnd };
    struct Token {
        Kind kind;
        char32_t folded = 0;  // Literal only
    };
    std::vector<Token> tokens_;
};

}  // namespace ts
