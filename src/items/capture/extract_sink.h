#pragma once
// The sink of an extract: a data file's saved files go into a plain folder, each special
// folder's files below a folder with a readable name ("[CSIDL_APPDATA]\Microsoft\x.wab"
// becomes "AppData/Microsoft/x.wab"), and each item's registry keys into a .reg file that
// regedit imports. Nothing goes into a Wine prefix.
//
// Files stream through: each is written to a temporary name beside its place and stays there
// until commit(), which the run calls only once the whole data file was read and found
// whole; a sink destroyed before that removes its temporary files and the folders it made,
// so a damaged or cancelled extract leaves nothing. Without `replace`, nothing that exists
// is replaced. A stored name is written only when a restore into the profile would write it
// too (backup_file_item_name_check.h), so no name leaves the folder; a key tree only when a
// restore would write it and a .reg file can hold its name, so an import makes exactly the
// keys and values the data file held. Of two spellings of one file the first is written and
// the second named, as in a restore.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "items/capture/key_roots.h"
#include "part/restore_sink.h"
#include "platform/profile/same_file_claims.h"

namespace ts {

class AtomicFile;
class Profile;
class RegFileWriter;

// The place below the extract folder of a stored name ("AppData/Microsoft/x.wab"), or no
// value for a name that does not begin with a known placeholder. Does not check the segments.
std::optional<std::string> extractPathOf(const std::string& storedName);

struct ExtractTally {
    int64_t files = 0;         // files written
    int64_t fileBytes = 0;     // their bytes
    int64_t regFiles = 0;      // .reg files written
    int64_t keys = 0;          // keys in them
    int64_t values = 0;        // values in them
    int64_t keptValues = 0;    // values the data holds by name and size only: not in any .reg
    int64_t unreadable = 0;    // files that could not be read when they were saved
};

class ExtractSink : public RestoreSink {
public:
    // folder exists. profile decides which stored names may be written (as for a restore).
    ExtractSink(std::string folder, const Profile& profile, bool replace);
    ~ExtractSink() override;

    // The registry values that follow go into regFileName (a name inside the folder; made
    // unique when an earlier item took it), made when the first key arrives; keys outside
    // roots are refused. endItem completes it.
    void beginItem(const std::string& regFileName, KeyRoots roots);
    void endItem();
    // Puts every file written in place. Raises the first failure after trying every file.
    void commit();

    void createKey(const std::string& keyPath) override;
    void setValue(const std::string& keyPath, const RegValue& value) override;
    void keptValue(const std::string& keyPath, const std::string& name, uint8_t typeCode, int32_t size) override;
    // Raises EFileExists when the place is taken and nothing may be replaced, EFCreateError
    // when the folders or the file cannot be made, EReadError when the data ends early.
    void writeFile(const std::string& storedName, const std::string& realPath, Stream& data, int64_t size) override;
    void skippedFile(const std::string& storedName) override;
    void refusedFile(const std::string& storedName, const std::string& reason) override;

    const ExtractTally& tally() const { return tally_; }
    // Stored names not written, with the reason, in the order met.
    const std::vector<std::pair<std::string, std::string>>& refused() const { return refused_; }

private:
    // False for a key that is not exported (named in refused() once).
    bool enterKey(const std::string& keyPath);
    std::optional<std::string> keyRefusal(const std::string& keyPath) const;
    std::string freeRegFileName(const std::string& wanted) const;

    std::string folder_;
    const Profile& profile_;
    bool replace_;
    std::string regFileName_;
    KeyRoots keyRoots_;
    std::unique_ptr<AtomicFile> regFile_;
    std::unique_ptr<RegFileWriter> regWriter_;
    std::optional<std::string> currentKey_;
    bool currentKeyRefused_ = false;
    std::unordered_set<std::string> refusedKeys_;
    ExtractTally tally_;
    std::vector<std::pair<std::string, std::string>> refused_;
    SameFileClaims claims_;
    std::unordered_set<std::string> regFileNames_;       // the .reg files of this extract
    std::vector<std::unique_ptr<AtomicFile>> staged_;   // written, waiting for commit
    std::vector<std::string> createdFolders_;           // oldest first
    bool committed_ = false;
};

}  // namespace ts
