#include "platform/registry/registry_hive_tree.h"

#include <functional>

#include "platform/registry/registry_hive_text.h"
#include "platform/registry/wine_user_reg_lines.h"

namespace ts::hive {

namespace {

// Up to this many values a key is searched in order; past it, by its index.
constexpr size_t kValuesWithoutIndex = 8;

uint64_t nameHash(std::u16string_view folded) { return std::hash<std::u16string_view>{}(folded); }

}  // namespace

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

RegValue KeyTree::valueOf(const StoredValue& stored) const {
    if (stored.own) return *stored.own;
    return wine_reg::parseValueAt(*source_, stored.origin - 1).value;
}

std::string KeyTree::nameOf(const StoredValue& stored) const {
    if (stored.own) return stored.own->name;
    return hive_text::toUtf8(wine_reg::parseValueNameAt(*source_, stored.origin - 1));
}

std::u16string KeyTree::foldedNameOf(const StoredValue& stored) const {
    if (stored.own) return hive_text::foldCase(hive_text::toUtf16(stored.own->name));
    return hive_text::foldCase(wine_reg::parseValueNameAt(*source_, stored.origin - 1));
}

StoredValue* KeyTree::findValue(Key& key, std::u16string_view folded) const {
    if (key.byName) {
        auto [first, last] = key.byName->equal_range(nameHash(folded));
        for (auto it = first; it != last; ++it)
            if (foldedNameOf(key.values[it->second]) == folded) return &key.values[it->second];
        return nullptr;
    }
    for (StoredValue& stored : key.values)
        if (foldedNameOf(stored) == folded) return &stored;
    return nullptr;
}

const StoredValue* KeyTree::findValue(const Key& key, std::u16string_view folded) const {
    return findValue(const_cast<Key&>(key), folded);
}

void KeyTree::index(Key& key, uint32_t position) const {
    key.byName->emplace(nameHash(foldedNameOf(key.values[position])), position);
}

void KeyTree::append(Key& key, StoredValue stored, const std::u16string& folded) {
    key.values.push_back(std::move(stored));
    const auto position = static_cast<uint32_t>(key.values.size() - 1);
    if (key.byName) {
        key.byName->emplace(nameHash(folded), position);
    } else if (key.values.size() > kValuesWithoutIndex) {
        key.byName = std::make_unique<std::unordered_multimap<uint64_t, uint32_t>>();
        for (uint32_t i = 0; i < key.values.size(); ++i) index(key, i);
    }
}

void KeyTree::loadValue(Key& key, const RegValue& read, uint64_t origin) {
    const std::u16string folded = hive_text::foldCase(hive_text::toUtf16(read.name));
    if (StoredValue* existing = findValue(key, folded)) {
        // The name as first read stays; only when the later line spells it otherwise must
        // the value be held apart from the line it now comes from.
        std::string firstName = nameOf(*existing);
        existing->own = firstName == read.name
                            ? nullptr
                            : std::make_unique<RegValue>(RegValue{std::move(firstName), read.type, read.data});
        existing->origin = origin;
        existing->changed = false;
        return;
    }
    append(key, StoredValue{origin, false, nullptr}, folded);
}

bool KeyTree::storeValue(Key& key, const RegValue& value) {
    const std::u16string folded = hive_text::foldCase(hive_text::toUtf16(value.name));
    if (StoredValue* existing = findValue(key, folded)) {
        RegValue current = valueOf(*existing);
        if (current.type == value.type && current.data == value.data) return false;
        current.type = value.type;
        current.data = value.data;
        existing->own = std::make_unique<RegValue>(std::move(current));
        existing->changed = true;
        return true;
    }
    append(key, StoredValue{0, true, std::make_unique<RegValue>(value)}, folded);
    return true;
}

bool KeyTree::removeValue(Key& key, std::u16string_view name) {
    const std::u16string folded = hive_text::foldCase(name);
    StoredValue* stored = findValue(key, folded);
    if (!stored) return false;
    key.values.erase(key.values.begin() + (stored - key.values.data()));
    if (key.byName) {
        key.byName->clear();
        for (uint32_t i = 0; i < key.values.size(); ++i) index(key, i);
    }
    return true;
}

}  // namespace ts::hive
