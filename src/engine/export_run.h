#pragma once
// One export: what a data file (or a live profile) holds, turned into the files current
// programs import. Mail becomes one mbox file per store folder (or one .eml file per
// message), favorites one bookmarks.html, the accounts one accounts.txt, each address book a
// contacts.vcf of vCards (and a copy of the file as it is when part of it is not understood).
// Nothing is written but below the export folder; each file is written under a temporary
// name and takes its place only when whole; without `replace` nothing that is there is
// replaced.
//
// A data file is read in one pass. Each mail store in it is spooled into a scratch folder of
// ours inside the export folder (its index must be walked where its pieces lie), converted
// and dropped at once; the rest lands in a scratch profile there, from which the other items
// are exported as from a profile once the whole file was read. Nothing of a data file is put
// in place before all of it was read and found whole. The scratch folder goes at the end. A
// profile is only read.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/progress_percent.h"
#include "engine/restore_run.h"
#include "formats/accounts_summary.h"

namespace ts {

struct ExportTally {
    int64_t files = 0;          // files written
    int64_t bytes = 0;          // their bytes
    int64_t mailFolders = 0;    // store folders exported
    int64_t messages = 0;
    int64_t leftoverBlocks = 0; // blocks of deleted messages passed over
    int64_t favorites = 0;
    int64_t accounts = 0;
    int64_t contacts = 0;       // vCards of people
    int64_t contactGroups = 0;  // vCards of groups
    int64_t addressBooks = 0;   // address book files copied as they are (not all understood)
};

class ExportRun : public Run {
public:

    struct Options {
        std::string folder;
        bool replace = false;
        bool eml = false;  // one .eml file per message instead of one mbox file per folder
    };

    // From a data file openDataFile opened; opened.project must outlive the run. profile is
    // the one the file was opened with.
    ExportRun(OpenedDataFile& opened, Profile& profile, Options options, RunEvents events, ItemFilter filter = {});
    // From a live profile, read only; project is one made over it.
    ExportRun(TtsBackupProject& project, Profile& profile, Options options, RunEvents events, ItemFilter filter = {});
    ~ExportRun() override;

    // On the worker thread; creates the folder when missing. Returns normally when
    // cancelled; throws on failure. What was written before stays, every file of it whole.
    void run();

    const ExportTally& exported() const { return tally_; }
    // Files written, relative to the folder, in the order written.
    const std::vector<std::string>& written() const { return written_; }
    // What could not be exported as it should: damaged stores with the offset, files that
    // could not be read, address book records not understood (the file then copied as it is).
    const std::vector<std::string>& warnings() const { return warnings_; }
    const std::vector<MailAccount>& accounts() const { return accounts_; }
    // The captions of the items exported.
    const std::vector<std::string>& items() const { return items_; }

private:
    class Output;
    class MailNames;
    class DataFileSink;

    void exportDataFile(Output& output);
    // mailExported: the mail went already, as the data file was read.
    void exportProfile(const Profile& profile, bool fileTimesKnown, Output& output, bool mailExported);
    void exportMail(const Profile& profile, Output& output);
    // leftoverBlocks: counted already, or to be counted by reading the store once more.
    void exportStore(Stream& stream, const std::string& windowsPath, const std::string& relativeName, Output& output,
                     std::optional<int64_t> leftoverBlocks);
    void exportFavorites(const Profile& profile, bool fileTimesKnown, Output& output);
    void exportAccounts(const Profile& profile, Output& output);
    void exportAddressBook(const Profile& profile, Output& output);
    void readProgress(int64_t bytes);
    bool chosen(const std::string& caption) const;

    std::string file_;  // the data file; empty for a profile
    std::shared_ptr<DataFileReader> reader_;
    Options options_;
    ItemFilter filter_;
    ReadProgress progress_;
    int64_t totalInput_ = 0;
    int64_t doneInput_ = 0;
    ExportTally tally_;
    std::vector<std::string> written_;
    std::vector<std::string> warnings_;
    std::vector<MailAccount> accounts_;
    std::vector<std::string> items_;
};

}  // namespace ts
