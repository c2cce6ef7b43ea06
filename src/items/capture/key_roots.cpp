#include "items/capture/key_roots.h"

#include <string_view>

#include "platform/debug_log.h"
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

// A key tree outside the item's own keys is outside input steering the profile (a shell
// folder moved out of it, say): it is refused once, like a refused file name.
bool KeyRootsSink::allowed(const std::string& keyPath) {
    if (roots_.allows(keyPath)) return true;
    if (refusedKeys_.insert(trimmedKeyPath(keyPath)).second) {
        debugLog("Registry replay: skipped the saved key \"" + keyPath + "\": " + KeyRoots::kRefusalReason);
        inner_.refusedFile(keyPath, KeyRoots::kRefusalReason);
    }
    return false;
}

void KeyRootsSink::createKey(const std::string& keyPath) {
    if (allowed(keyPath)) inner_.createKey(keyPath);
}

void KeyRootsSink::setValue(const std::string& keyPath, const RegValue& value) {
    if (allowed(keyPath)) inner_.setValue(keyPath, value);
}

void KeyRootsSink::keptValue(const std::string& keyPath, const std::string& name, uint8_t typeCode, int32_t size) {
    if (allowed(keyPath)) inner_.keptValue(keyPath, name, typeCode, size);
}

}  // namespace ts
