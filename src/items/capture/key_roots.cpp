#include "items/capture/key_roots.h"

#include <string_view>

#include "platform/profile/profile_name_case.h"

namespace ts {

std::string trimmedKeyPath(const std::string& keyPath) {
    std::string_view path = keyPath;
    while (path.starts_with('\\')) path.remove_prefix(1);
    while (path.ends_with('\\')) path.remove_suffix(1);
    return std::string(path);
}

bool KeyRoots::allows(const std::string& keyPath) const {
    if (!roots_) return true;
    const std::string key = trimmedKeyPath(keyPath);
    for (const std::string& root : *roots_) {
        const std::string top = trimmedKeyPath(root);
        if (key.size() < top.size() || !equalsIgnoringCase(std::string_view(key).substr(0, top.size()), top)) continue;
        if (key.size() == top.size() || key[top.size()] == '\\') return true;
    }
    return false;
}

}  // namespace ts
