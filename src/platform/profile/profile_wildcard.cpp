#include "platform/profile/profile_wildcard.h"

#include "platform/profile/profile_name_case.h"

namespace ts {

// Windows turns the mask into its own expression before matching: "?" always becomes a
// one-or-none, "*" before a dot a run that stops before the name's last dot, and "." before
// "*", "?" or the end a dot that also matches the end of the name.
WildcardMask::WildcardMask(std::string_view mask) {
    const auto chars = foldedChars(mask);
    for (size_t i = 0; i < chars.size(); ++i) {
        const char32_t c = chars[i].folded;
        const char32_t next = i + 1 < chars.size() ? chars[i + 1].folded : 0;
        if (c == '?') tokens_.push_back({Kind::OneOrNone});
        else if (c == '*') tokens_.push_back({next == '.' ? Kind::RunBeforeLastDot : Kind::AnyRun});
        else if (c == '.' && (next == 0 || next == '*' || next == '?')) tokens_.push_back({Kind::DotOrEnd});
        else tokens_.push_back({Kind::Literal, c});
    }
}

// A set of positions in the expression, advanced one name character at a time. Moves that
// consume nothing only go forward, so one forward sweep closes the set.
bool WildcardMask::matches(std::string_view name) const {
    if (tokens_.empty()) return false;  // an empty mask lists nothing, as on Windows
    const auto chars = foldedChars(name);
    const size_t n = chars.size(), m = tokens_.size();
    size_t lastDot = n;
    for (size_t i = 0; i < n; ++i)
        if (chars[i].folded == '.') lastDot = i;

    std::vector<char> active(m + 1, 0), next(m + 1, 0);
    active[0] = 1;
    for (size_t i = 0;; ++i) {
        const bool atEnd = i == n;
        const char32_t c = atEnd ? 0 : chars[i].folded;
        for (size_t p = 0; p < m; ++p) {
            if (!active[p]) continue;
            const Kind kind = tokens_[p].kind;
            const bool skips = kind == Kind::AnyRun || kind == Kind::RunBeforeLastDot ||
                               (kind == Kind::OneOrNone && (atEnd || c == '.')) ||
                               (kind == Kind::DotOrEnd && atEnd);
            if (skips) active[p + 1] = 1;
        }
        if (atEnd) return active[m] != 0;

        std::fill(next.begin(), next.end(), 0);
        bool any = false;
        for (size_t p = 0; p < m; ++p) {
            if (!active[p]) continue;
            const Token& token = tokens_[p];
            switch (token.kind) {
                case Kind::Literal:
                    if (token.folded == c) next[p + 1] = any = true;
                    break;
                case Kind::AnyRun:
                    next[p] = any = true;
                    break;
                case Kind::RunBeforeLastDot:
                    if (c != '.' || i < lastDot) next[p] = any = true;
                    break;
                case Kind::OneOrNone:
                    if (c != '.') next[p + 1] = any = true;
                    break;
                case Kind::DotOrEnd:
                    if (c == '.') next[p + 1] = any = true;
                    break;
            }
        }
        if (!any) return false;
        active.swap(next);
    }
}

}  // namespace ts
