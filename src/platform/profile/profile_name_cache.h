#pragma once
// Finding the name a host folder holds for a Windows name, without regard to letter case.
//
// Outside a run every question reads the folder afresh (one lstat for the exact name, a
// whole listing when it is missing). During a run (between begin() and end()) each folder
// is listed once and its names kept by their case-folded key, so a name that is missing,
// as every file a restore makes is at first, costs no system call however many are asked
// for in one folder. What the run itself makes is added as it makes it; what others change
// in the folders meanwhile is not seen until the next run, which the profile lock makes
// safe for the folders a run writes.
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace ts {

// What a folder's listing says an entry is, before any link is followed.
enum class EntryKind : uint8_t { Unknown, File, Folder, Link, Other };

struct FoundName {
    std::string name;
    EntryKind kind;
};

class FolderNameCache {
public:
    // The entry of hostFolder that wanted names: the exact name first, else the first the
    // folder lists that equals it without regard to case. No value when there is none or
    // the folder cannot be read.
    std::optional<FoundName> find(const std::string& hostFolder, std::string_view wanted);

    // The run made name in hostFolder (a folder it made starts empty). Outside a run, and
    // for a folder not yet listed, there is nothing to update.
    void added(const std::string& hostFolder, std::string_view name, EntryKind kind);
    // The run removed name from hostFolder.
    void removed(const std::string& hostFolder, std::string_view name);
    // What the folder holds is no longer known (a change the run did not make was seen);
    // the next question reads it again.
    void forget(const std::string& hostFolder);
    // A fresh listing of hostFolder, kept during a run so the folder is not read again.
    void listed(const std::string& hostFolder, std::vector<FoundName> entries);

    // Results of other lookups a run makes once (a drive's root, a folder's real path),
    // under a key of the caller's choosing; never kept outside a run.
    std::optional<std::optional<std::string>> remembered(const std::string& key);
    void remember(const std::string& key, std::optional<std::string> value);

    // The host folder a run found for every folder of a Windows path (keyed by the caller's
    // text for that path), kept until the run removes, forgets or lists again a folder's
    // names. What the run adds leaves it true: the run makes a name only where the lookup
    // found no entry in any case.
    std::optional<std::string> resolvedFolder(const std::string& windowsKey);
    void rememberResolvedFolder(const std::string& windowsKey, std::string hostFolder);

    // Runs may nest (the same profile in two runs): the names are dropped when the last ends.
    void begin();
    void end();
    bool active();

private:
    // A folder's names in the order they were listed or made, kept compactly (a restore of
    // a large tree holds tens of thousands): one text of records "kind, name, NUL", and an
    // open-addressing table of (record offset, hash of the folded name). Linear probing
    // keeps the names of one key in their listing order, which "first listed" relies on.
    class Folder {
    public:
        std::optional<FoundName> find(std::string_view wanted) const;
        void insert(std::string_view name, EntryKind kind);
        void erase(std::string_view name);

    private:
        struct Slot {
            uint32_t record = 0;  // offset + 1; 0 = free
            uint32_t hash = 0;
        };
        std::string_view nameAt(uint32_t record) const;
        void place(uint32_t record, uint32_t hash);
        void grow();

        std::string records_;
        std::vector<Slot> slots_;
        size_t used_ = 0;
    };
    Folder& load(const std::string& hostFolder);

    std::mutex mutex_;
    int depth_ = 0;
    std::unordered_map<std::string, Folder> folders_;
    std::map<std::string, std::optional<std::string>> remembered_;
    std::unordered_map<std::string, std::string> resolvedFolders_;
};

// The listing's kind of an entry from its d_type.
EntryKind entryKindOf(unsigned char directoryEntryType);

}  // namespace ts
