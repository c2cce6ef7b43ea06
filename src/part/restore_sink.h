#pragma once
// Where an item's saved data goes when it is read back from a data file. A restore writes it
// into the user profile; passing an item over, listing a data file or checking one reads
// the same bytes into a sink that keeps only what they describe. The item kinds read their
// data exactly as they would for a restore and hand every key, value and file to the sink,
// so the data stream stays aligned whichever sink takes it.
#include <cstdint>
#include <string>

#include "platform/registry/registry_hive.h"
#include "platform/stream/stream.h"

namespace ts {

class RestoreSink {
public:
    virtual ~RestoreSink() = default;

    // A registry key below HKEY_CURRENT_USER ("\Software\Microsoft\Internet Explorer"),
    // created with any missing keys above it.
    virtual void createKey(const std::string& keyPath) = 0;
    // A value to store under keyPath (created when missing).
    virtual void setValue(const std::string& keyPath, const RegValue& value) = 0;
    // A value the data holds by name, type code and size only, never written back.
    virtual void keptValue(const std::string& keyPath, const std::string& name, uint8_t typeCode, int32_t size) = 0;

    // A saved file: its stored name (placeholder form), the real profile path it expands
    // to, and exactly `size` bytes of contents read from `data`. A stream that ends first
    // raises EReadError.
    virtual void writeFile(const std::string& storedName, const std::string& realPath, Stream& data,
                           int64_t size) = 0;
    // The "<file error>" record: a file that could not be read when it was saved, so there
    // is nothing to put in place.
    virtual void skippedFile(const std::string& storedName) = 0;
    // A saved file whose stored name is not restored because it would not land inside one
    // of the user's special folders (a data file is outside input); reason says why. Its
    // contents have been read past.
    virtual void refusedFile(const std::string& storedName, const std::string& reason) = 0;
};

}  // namespace ts
