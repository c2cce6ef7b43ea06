#pragma once
// The key trees an item's restore may write. A data file is outside input: a saved key tree
// outside the item's own keys (a shell folder moved out of the profile, a program started at
// every log-in) is refused, whether it would go into a profile or into a .reg file.
#include <optional>
#include <string>
#include <vector>

namespace ts {

class KeyRoots {
public:
    // No roots given: every key is allowed. An empty list allows none.
    explicit KeyRoots(std::optional<std::vector<std::string>> roots = std::nullopt) : roots_(std::move(roots)) {}

    // keyPath is one of the roots or a key below one (any letter case).
    bool allows(const std::string& keyPath) const;

    static constexpr const char* kRefusalReason = "it is a registry key outside the keys this item restores";

private:
    std::optional<std::vector<std::string>> roots_;
};

// keyPath without the backslashes around it: the form in which two spellings of one key
// compare.
std::string trimmedKeyPath(const std::string& keyPath);

}  // namespace ts
