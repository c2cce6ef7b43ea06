#pragma once
// The keys and values of a hive in memory. Key names are UTF-16 as the registry holds them
// and are looked up by their case-folded form; subkeys are kept in folded order, which is
// the order Wine lists them in, values in the order they were stored.
//
// A value read from user.reg is not copied out of the file: the tree keeps the file's bytes
// once and reads the value's name and data from its line when they are asked for, so a hive
// of tens of MiB is held in about its own size plus its keys.
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
    uint64_t origin = 0;            // offset + 1 of the user.reg line it was read from; 0 for a value made here
    bool changed = false;           // no longer what its origin line says
    std::unique_ptr<RegValue> own;  // the value, when it is not simply what its origin line says
};

struct Key {
    std::u16string name;     // as first created
    std::map<std::u16string, std::shared_ptr<Key>> subkeys;   // by folded name
    std::vector<StoredValue> values;    // changed only through KeyTree, which keeps the index
    // For a key of many values: the positions in values by a hash of the folded name, so
    // that such a key is filled in linear time. Keys of a few values are searched in order.
    std::unique_ptr<std::unordered_multimap<uint64_t, uint32_t>> byName;
    // The number (from 1) of the last key line in user.reg that names this key; 0 for a key
    // made here, which the file has no record of even where a deleted key of that name had.
    uint32_t lastRecord = 0;
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

    // The user.reg text that values read from the file are read from (see loadValue).
    void setSource(std::shared_ptr<const std::string> text) { source_ = std::move(text); }

    // The value read from the line at source offset `origin` - 1: a later line for the same
    // name overrides it, keeping the name as first read.
    void loadValue(Key& key, const RegValue& read, uint64_t origin);
    // A value stored through the hive; false when the key already held exactly this.
    bool storeValue(Key& key, const RegValue& value);
    bool removeValue(Key& key, std::u16string_view name);

    StoredValue* findValue(Key& key, std::u16string_view folded) const;
    const StoredValue* findValue(const Key& key, std::u16string_view folded) const;
    RegValue valueOf(const StoredValue& stored) const;
    std::string nameOf(const StoredValue& stored) const;

private:
    std::u16string foldedNameOf(const StoredValue& stored) const;
    void index(Key& key, uint32_t position) const;
    void append(Key& key, StoredValue stored, const std::u16string& folded);

    std::shared_ptr<Key> root_;
    std::shared_ptr<const std::string> source_;
};

}  // namespace ts::hive
