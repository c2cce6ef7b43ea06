#include "platform/registry/registry_hive_tree.h"

#include "platform/registry/registry_hive_text.h"

namespace ts::hive {

StoredValue* Key::findValue(std::u16string_view folded) {
    auto at = valueIndex.find(std::u16string(folded));
    return at == valueIndex.end() ? nullptr : &values[at->second];
}

const StoredValue* Key::findValue(std::u16string_view folded) const {
    return const_cast<Key*>(this)->findValue(folded);
}

KeyPath splitKeyPath(std::string_view hostPath) {
    KeyPath path;
    while (!hostPath.empty()) {
        size_t separator = hostPath.find('\\');
        std::string_view component = hostPath.substr(0, separator);
        if (!component.empty()) path.push_back(hive_text::toUtf16(component));
        if (separator == std::string_view::npos) break;
        hostPath.remove_prefix(separator + 1);
    }
    return path;
}

KeyTree::KeyTree() : root_(std::make_shared<Key>()) {}

std::shared_ptr<Key> KeyTree::find(std::span<const std::u16string> path) const {
    std::shared_ptr<Key> key = root_;
    for (const std::u16string& component : path) {
        auto it = key->subkeys.find(hive_text::foldCase(component));
        if (it == key->subkeys.end()) return nullptr;
        key = it->second;
    }
    return key;
}

std::shared_ptr<Key> KeyTree::create(std::span<const std::u16string> path, bool& created) {
    created = false;
    std::shared_ptr<Key> key = root_;
    for (const std::u16string& component : path) {
        auto [it, inserted] = key->subkeys.try_emplace(hive_text::foldCase(component));
        if (inserted) {
            it->second = std::make_shared<Key>();
            it->second->name = component;
            created = true;
        }
        key = it->second;
    }
    return key;
}

bool KeyTree::erase(std::span<const std::u16string> path) {
    if (path.empty()) return false;
    std::shared_ptr<Key> parent = find(path.first(path.size() - 1));
    return parent && parent->subkeys.erase(hive_text::foldCase(path.back())) > 0;
}

void KeyTree::loadValue(Key& key, RegValue value, uint64_t origin) {
    std::u16string folded = hive_text::foldCase(hive_text::toUtf16(value.name));
    if (StoredValue* existing = key.findValue(folded)) {
        existing->value.type = value.type;
        existing->value.data = std::move(value.data);
        existing->origin = origin;
        existing->changed = false;
        return;
    }
    key.valueIndex.emplace(folded, key.values.size());
    key.values.push_back(StoredValue{std::move(value), std::move(folded), origin, false});
}

bool KeyTree::storeValue(Key& key, const RegValue& value) {
    std::u16string folded = hive_text::foldCase(hive_text::toUtf16(value.name));
    if (StoredValue* existing = key.findValue(folded)) {
        if (existing->value.type == value.type && existing->value.data == value.data) return false;
        existing->value.type = value.type;
        existing->value.data = value.data;
        existing->changed = true;
        return true;
    }
    key.valueIndex.emplace(folded, key.values.size());
    key.values.push_back(StoredValue{value, std::move(folded), 0, true});
    return true;
}

bool KeyTree::removeValue(Key& key, std::u16string_view name) {
    std::u16string folded = hive_text::foldCase(name);
    auto at = key.valueIndex.find(folded);
    if (at == key.valueIndex.end()) return false;
    key.values.erase(key.values.begin() + static_cast<std::ptrdiff_t>(at->second));
    key.valueIndex.clear();
    for (size_t i = 0; i < key.values.size(); ++i) key.valueIndex.emplace(key.values[i].folded, i);
    return true;
}

}  // namespace ts::hive
