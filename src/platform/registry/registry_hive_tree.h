#pragma once
// The keys and values of a hive in memory. Names are UTF-16 as the registry holds them and
// are looked up by their case-folded form; subkeys are kept in folded order, which is the
// order Wine lists them in, values in the order they were stored.
#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/registry/registry_hive.h"

namespace ts::hive {

struct StoredValue {
    RegValue value;
    std::u16string folded;
    uint64_t origin = 0;     // the user.reg line it was read from; 0 for a value made here
    bool changed = false;    // no longer what its origin line says
};

struct Key {
    std::u16string name;     // as first created
    std::map<std::u16string, std::shared_ptr<Key>> subkeys;   // by folded name
    std::vector<StoredValue> values;    // changed only through KeyTree, which keeps the index
    // Where each folded name is in values: a key of many values is filled in linear time.
    std::unordered_map<std::u16string, size_t> valueIndex;

    StoredValue* findValue(std::u16string_view folded);
    const StoredValue* findValue(std::u16string_view folded) const;
};

using KeyPath = std::vector<std::u16string>;

// Splits a host key path on backslashes; empty components (leading, trailing or doubled
// backslashes) are dropped.
KeyPath splitKeyPath(std::string_view hostPath);

class KeyTree {
public:
    KeyTree();

    const std::shared_ptr<Key>& root() const { return root_; }
    std::shared_ptr<Key> find(std::span<const std::u16string> path) const;
    // Creates missing keys along the path; `created` tells whether any was new.
    std::shared_ptr<Key> create(std::span<const std::u16string> path, bool& created);
    bool erase(std::span<const std::u16string> path);

    // A value read from user.reg line `origin`: a later line for the same name overrides.
    static void loadValue(Key& key, RegValue value, uint64_t origin);
    // A value stored through the hive; false when the key already held exactly this.
    static bool storeValue(Key& key, const RegValue& value);
    static bool removeValue(Key& key, std::u16string_view name);

private:
    std::shared_ptr<Key> root_;
};

}  // namespace ts::hive
