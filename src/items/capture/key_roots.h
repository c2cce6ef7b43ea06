#pragma once
// The key trees an item's restore may write. A data file is outside input: a saved key tree
// outside the item's own keys (a shell folder moved out of the profile, a program started at
// every log-in) is refused, whether it would go into a profile or into a .reg file.
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "part/restore_sink.h"

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

// Hands on to another sink only the keys and values inside roots; the first key of each
// tree outside them is told to that sink's refusedFile (with a debug log line), once.
class KeyRootsSink : public RestoreSink {
public:
    KeyRootsSink(RestoreSink& inner, KeyRoots roots) : inner_(inner), roots_(std::move(roots)) {}

    void createKey(const std::string& keyPath) override;
    void setValue(const std::string& keyPath, const RegValue& value) override;
    void keptValue(const std::string& keyPath, const std::string& name, uint8_t typeCode, int32_t size) override;
    void writeFile(const std::string& storedName, const std::string& realPath, Stream& data, int64_t size) override {
        inner_.writeFile(storedName, realPath, data, size);
    }
    void skippedFile(const std::string& storedName) override { inner_.skippedFile(storedName); }
    void refusedFile(const std::string& storedName, const std::string& reason) override {
        inner_.refusedFile(storedName, reason);
    }

private:
    bool allowed(const std::string& keyPath);

    RestoreSink& inner_;
    KeyRoots roots_;
    std::set<std::string> refusedKeys_;
};

}  // namespace ts
