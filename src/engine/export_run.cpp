#include "engine/export_run.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <map>
#include <set>

#include "engine/datafile/data_file_reader.h"
#include "engine/failure.h"
#include "engine/flows.h"
#include "engine/project.h"
#include "formats/bookmarks_file.h"
#include "formats/mail_store.h"
#include "formats/mbox_writer.h"
#include "formats/vcard_writer.h"
#include "items/capture/backup_file_item_record.h"
#include "items/capture/profile_restore_sink.h"
#include "items/find_files.h"
#include "items/kinds/address_book.h"
#include "items/kinds/favorites.h"
#include "items/kinds/item_profile.h"
#include "items/kinds/oe_data.h"
#include "platform/ansi_text.h"
#include "platform/atomic_file.h"
#include "platform/debug_log.h"
#include "platform/exception.h"
#include "platform/profile/profile.h"
#include "platform/registry/registry_hive.h"
#include "platform/stream/threaded_write_stream.h"

namespace ts {

namespace {

constexpr const char* kStoreExtension = ".dbx";
constexpr const char* kFolderListName = "folders.dbx";

std::string lowerCase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool endsWithIgnoringCase(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && lowerCase(text.substr(text.size() - end.size())) == lowerCase(end);
}

// One part of an output path from a name the source gave: never a folder separator, a
// control character, "." or "..", so the path stays below the export folder.
std::string safeName(std::string_view name) {
    std::string safe;
    for (char c : name) safe.push_back(c == '/' || c == '\\' || static_cast<unsigned char>(c) < ' ' ? '_' : c);
    if (safe.find_first_not_of(". ") == std::string::npos) safe = "_" + safe;
    return safe;
}

// The part of a Windows path after its last backslash, and the part before it.
std::string lastPart(const std::string& windowsPath) {
    const size_t slash = windowsPath.rfind('\\');
    return slash == std::string::npos ? windowsPath : windowsPath.substr(slash + 1);
}
std::string folderPart(const std::string& windowsPath) {
    const size_t slash = windowsPath.rfind('\\');
    return slash == std::string::npos ? std::string() : windowsPath.substr(0, slash);
}

// The parts of `path` below `folder` ("a\b\c.url" below "a" gives {"b", "c.url"}); empty when
// it does not lie below it.
std::vector<std::string> partsBelow(const std::string& folder, const std::string& path) {
    std::vector<std::string> parts;
    if (path.size() <= folder.size() + 1 || lowerCase(path.substr(0, folder.size())) != lowerCase(folder) ||
        path[folder.size()] != '\\')
        return parts;
    std::string rest = path.substr(folder.size() + 1);
    for (size_t slash = rest.find('\\'); slash != std::string::npos; slash = rest.find('\\')) {
        parts.push_back(rest.substr(0, slash));
        rest = rest.substr(slash + 1);
    }
    parts.push_back(rest);
    return parts;
}

std::string hexOffset(int64_t offset) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(offset));
    return text;
}

// A special folder's subfolder (below may be empty) and the files in it and below matching
// mask; no folder when the profile has not that special folder.
struct FoundFiles {
    std::string folder;
    std::vector<std::string> files;
};
std::optional<FoundFiles> filesInSpecialFolder(const Profile& profile, int specialFolder, const std::string& below,
                                     const std::string& mask) {
    const auto root = profile.specialFolders().path(specialFolder);
    if (!root) return std::nullopt;
    FoundFiles found{below.empty() ? *root : *root + "\\" + below, {}};
    FindFiles(profile, found.folder, found.files, mask);
    return found;
}

// The host file's status; no value when it cannot be had.
std::optional<struct stat> hostStatus(const Profile& profile, const std::string& windowsPath) {
    const auto host = profile.files().hostPath(windowsPath);
    struct stat st {};
    if (!host || ::stat(host->c_str(), &st) != 0) return std::nullopt;
    return st;
}

// A scratch folder of ours inside the export folder, removed with everything in it.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& parent) : parent_(parent) {
        std::string pattern = parent + "/" + std::string(kTemporaryPrefix) + "export-XXXXXX";
        if (!::mkdtemp(pattern.data())) throw EFCreateError(pattern, systemErrorText(errno));
        path_ = pattern;
    }
    ~ScratchFolder() {
        const int fd = ::open(parent_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) return;
        if (!removeFolderTree(fd, path_.substr(parent_.size() + 1)))
            debugLog("Export: the scratch folder " + path_ + " could not be removed whole");
        ::close(fd);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string parent_;
    std::string path_;
};

}  // namespace

// Where the export's files go: below the folder, whole or not at all, never over a file that
// was there unless replacing was asked for. A name the run has used already gets a number,
// so two source folders of one name both arrive.
class ExportRun::Output {
public:
    Output(const std::string& folder, bool replace, ExportTally& tally, std::vector<std::string>& written)
        : folder_(folder), replace_(replace), tally_(tally), written_(written) {}

    // Given up while holding: the files held lose their temporary names, then the folders
    // made for them go, newest first (one something else was put into meanwhile stays).
    ~Output() {
        if (!holding_) return;
        held_.clear();
        for (auto folder = made_.rbegin(); folder != made_.rend(); ++folder) ::rmdir(folder->c_str());
    }
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    // A free name for relativePath ("Mail/Main Identity/Inbox.mbox"); with a number before
    // the extension when the run wrote that name already.
    std::string claim(const std::string& relativePath) {
        const size_t slash = relativePath.rfind('/');
        const size_t dot = relativePath.rfind('.');
        const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
        const std::string stem = hasExtension ? relativePath.substr(0, dot) : relativePath;
        const std::string extension = hasExtension ? relativePath.substr(dot) : "";
        std::string name = relativePath;
        for (int n = 2; !claimed_.insert(lowerCase(name)).second; ++n)
            name = stem + " (" + std::to_string(n) + ")" + extension;
        return name;
    }

    std::unique_ptr<AtomicFile> create(const std::string& claimedPath) {
        const std::string target = makeFoldersBelow(folder_, claimedPath, &made_);
        return std::make_unique<AtomicFile>(target, newFilePermissions(), AtomicFile::Durability::SyncWhenReplacing,
                                            replace_ ? AtomicFile::Existing::Replace : AtomicFile::Existing::Keep);
    }

    void commit(AtomicFile& file, const std::string& claimedPath) {
        const int64_t size = file.stream().size();
        file.commit();
        ++tally_.files;
        tally_.bytes += size;
        written_.push_back(claimedPath);
    }

    // From now on finish() keeps whole files under their temporary names: nothing of a data
    // file is put in place before all of it was read and found whole.
    void hold() { holding_ = true; }
    // Commits a whole file, or keeps it until placeHeld() while holding.
    void finish(std::unique_ptr<AtomicFile> file, const std::string& claimedPath) {
        if (!holding_) {
            commit(*file, claimedPath);
            return;
        }
        const int64_t size = file->stream().size();
        // Without its descriptors: an .eml export holds thousands.
        file->finishWriting(false);
        held_.push_back(Held{std::move(file), claimedPath, size});
    }
    // Puts the files held in place, in the order they were finished; files come in place at
    // once from then on.
    void placeHeld() {
        holding_ = false;
        for (Held& held : held_) {
            held.file->commit();
            ++tally_.files;
            tally_.bytes += held.size;
            written_.push_back(held.path);
        }
        held_.clear();
    }

    void writeWhole(const std::string& relativePath, const std::string& text) {
        const std::string path = claim(relativePath);
        auto file = create(path);
        file->stream().write(text.data(), static_cast<int64_t>(text.size()));
        commit(*file, path);
    }

private:
    struct Held {
        std::unique_ptr<AtomicFile> file;
        std::string path;
        int64_t size;
    };

    std::string folder_;
    bool replace_;
    ExportTally& tally_;
    std::vector<std::string>& written_;
    std::set<std::string> claimed_;
    bool holding_ = false;
    std::vector<Held> held_;
    std::vector<std::string> made_;  // folders made, oldest first
};

// The names of the mail below the export folder: each identity's folder after the identity's
// name, each store after its folder in the folder list beside it (below the folders above
// it), or after its own file when the list does not name it.
class ExportRun::MailNames {
public:
    MailNames(const Profile& profile, std::vector<std::string>& warnings) : profile_(profile), warnings_(warnings) {
        if (const auto local = profile.specialFolders().path(csidl::LOCAL_APPDATA))
            identitiesFolder_ = *local + "\\Identities";
    }

    // Whether a file (a Windows path) is a store file of an identity, or the folder list of
    // one of its store folders.
    bool isStore(const std::string& file) const { return kindOf(file) == Kind::Store; }
    bool isFolderList(const std::string& file) const { return kindOf(file) == Kind::FolderList; }

    // "Mail/IDENTITY/FOLDER" of a store file. The folder list beside it is read the first
    // time a store of its folder is named.
    std::string nameOf(const std::string& store) {
        const std::vector<std::string> parts = partsBelow(*identitiesFolder_, store);
        const auto& listed = folderListOf(folderPart(store));
        const auto found = listed.find(lowerCase(lastPart(store)));
        std::string name;
        if (found != listed.end()) {
            name = found->second;
        } else {
            // Not in the folder list: named after the file, below the folders it lies in.
            for (size_t i = 1; i + 1 < parts.size(); ++i)
                if (lowerCase(parts[i]) != "microsoft" && lowerCase(parts[i]) != "outlook express")
                    name += safeName(parts[i]) + "/";
            name += safeName(parts.back().substr(0, parts.back().size() - 4));
        }
        return "Mail/" + identityName(parts[0]) + "/" + name;
    }

private:
    enum class Kind { Other, Store, FolderList };

    Kind kindOf(const std::string& file) const {
        if (!identitiesFolder_ || !endsWithIgnoringCase(file, kStoreExtension)) return Kind::Other;
        const std::vector<std::string> parts = partsBelow(*identitiesFolder_, file);
        if (parts.size() < 2) return Kind::Other;
        return lowerCase(parts.back()) == kFolderListName ? Kind::FolderList : Kind::Store;
    }

    const std::string& identityName(const std::string& id) {
        auto found = identityNames_.find(lowerCase(id));
        if (found != identityNames_.end()) return found->second;
        const auto user = profile_.hive().value(std::string(TtsBPOEData::kIdentitiesKeyPath) + "\\" + id, "Username");
        std::string name = safeName(user && !user->asText().empty() ? user->asText() : id);
        if (!namesTaken_.insert(lowerCase(name)).second) name = safeName(name + " " + id);
        return identityNames_[lowerCase(id)] = name;
    }

    // Lower-case file name -> folder path, of the folder list in a store folder.
    const std::map<std::string, std::string>& folderListOf(const std::string& storeFolder) {
        auto found = listedNames_.find(lowerCase(storeFolder));
        if (found != listedNames_.end()) return found->second;
        std::map<std::string, std::string>& names = listedNames_[lowerCase(storeFolder)];
        const std::string list = storeFolder + "\\" + "Folders.dbx";
        if (!profile_.files().fileExists(list)) return names;
        try {
            auto stream = profile_.files().openRead(list);
            MailStoreFile store(*stream, list);
            if (store.kind() != MailStoreFile::Kind::Folders) return names;
            const std::vector<StoreFolder> folders = readStoreFolders(store);
            const auto paths = storeFolderPaths(folders);
            for (size_t i = 0; i < folders.size(); ++i) {
                if (folders[i].fileName.empty()) continue;
                std::string path;
                for (const std::string& part : paths[i]) {
                    if (!path.empty()) path += '/';
                    path += safeName(fromAnsi(part));
                }
                names.emplace(lowerCase(fromAnsi(folders[i].fileName)), path);
            }
            for (const StoreDamage& damage : store.damages())
                warnings_.push_back(list + ": damaged at offset " + hexOffset(damage.offset) + ": " + damage.what);
        } catch (const TsException& failure) {
            warnings_.push_back(std::string(failure.what()) + "; the folder names come from the file names");
        }
        return names;
    }

    const Profile& profile_;
    std::vector<std::string>& warnings_;
    std::optional<std::string> identitiesFolder_;
    std::map<std::string, std::string> identityNames_;  // lower-case id -> output folder name
    std::set<std::string> namesTaken_;
    std::map<std::string, std::map<std::string, std::string>> listedNames_;  // by lower-case store folder
};

// What a data file's items are read into. A mail store is spooled into the scratch folder
// (its index tree must be walked where it lies), converted as soon as the folder list beside
// it has come by (or the data file ended without one) and its spool dropped; everything else
// goes into the scratch profile, from which the accounts, favorites and address book are
// exported once the whole file was read.
class ExportRun::DataFileSink : public RestoreSink {
public:
    // names: none when the mail is not exported.
    DataFileSink(ExportRun& run, RestoreSink& scratch, MailNames* names, std::string spoolFolder, Output& output)
        : run_(run), scratch_(scratch), names_(names), spoolFolder_(std::move(spoolFolder)), output_(output) {}

    void createKey(const std::string& keyPath) override { scratch_.createKey(keyPath); }
    void setValue(const std::string& keyPath, const RegValue& value) override { scratch_.setValue(keyPath, value); }
    void keptValue(const std::string& keyPath, const std::string& name, uint8_t typeCode, int32_t size) override {
        scratch_.keptValue(keyPath, name, typeCode, size);
    }
    void skippedFile(const std::string& storedName) override { scratch_.skippedFile(storedName); }
    void refusedFile(const std::string& storedName, const std::string& reason) override {
        scratch_.refusedFile(storedName, reason);
    }

    void writeFile(const std::string& storedName, const std::string& realPath, Stream& data, int64_t size) override {
        if (!names_ || !names_->isStore(realPath)) {
            scratch_.writeFile(storedName, realPath, data, size);
            if (names_ && names_->isFolderList(realPath)) listArrived(folderPart(realPath));
            return;
        }
        if (size < 0) throw EReadError();
        // A file saved twice is the first copy, as a restore keeps it.
        if (run_.cancelled() || !stores_.insert(lowerCase(realPath)).second) {
            discardBytes(data, size);
            return;
        }
        Spooled store = spool(realPath, data, size);
        if (listed_.count(lowerCase(folderPart(realPath))))
            convert(store);
        else
            waiting_.push_back(std::move(store));
    }

    // The stores whose folder list the data file did not hold.
    void convertWaiting() {
        for (Spooled& store : waiting_) convert(store);
        waiting_.clear();
    }

private:
    struct Spooled {
        std::string file;  // the store's Windows path
        std::unique_ptr<FileStream> spool;
        int64_t leftoverBlocks = 0;
    };

    Spooled spool(const std::string& file, Stream& data, int64_t size) {
        const std::string path = spoolFolder_ + "/spool-" + std::to_string(++spools_);
        Spooled store{file, std::make_unique<FileStream>(path, FileStream::Mode::Create, 0600)};
        // Nameless from the start: however the run ends, its space goes with the descriptor.
        ::unlink(path.c_str());
        LeftoverBlockCounter leftover(size);
        // Written on this thread: a writer thread of its own, meant to overlap the inflating,
        // made the copies into the file system several times slower. The buffer is small
        // enough to stay in the processor's cache between inflating and writing.
        buffer_.resize(static_cast<size_t>(std::min<int64_t>(size, kSpoolBuffer)));
        for (int64_t left = size; left > 0;) {
            const int64_t piece = std::min<int64_t>(left, static_cast<int64_t>(buffer_.size()));
            data.readExact(buffer_.data(), piece);
            leftover.add(buffer_.data(), static_cast<size_t>(piece));
            store.spool->write(buffer_.data(), piece);
            left -= piece;
        }
        store.leftoverBlocks = leftover.found();
        return store;
    }

    void convert(Spooled& store) {
        if (!run_.cancelled())
            run_.exportStore(*store.spool, store.file, names_->nameOf(store.file), output_, store.leftoverBlocks);
        store.spool.reset();
    }

    void listArrived(const std::string& storeFolder) {
        listed_.insert(lowerCase(storeFolder));
        const auto ofFolder = [&](const Spooled& store) {
            return lowerCase(folderPart(store.file)) == lowerCase(storeFolder);
        };
        for (Spooled& store : waiting_)
            if (ofFolder(store)) convert(store);
        std::erase_if(waiting_, ofFolder);
    }

    static constexpr int64_t kSpoolBuffer = 256 << 10;

    ExportRun& run_;
    RestoreSink& scratch_;
    MailNames* names_;
    std::string spoolFolder_;
    Output& output_;
    int spools_ = 0;
    std::vector<uint8_t> buffer_;
    std::set<std::string> stores_;  // lower-case Windows paths met
    std::set<std::string> listed_;  // lower-case store folders whose folder list came by
    std::vector<Spooled> waiting_;  // for their folder list, in the order met
};

ExportRun::ExportRun(OpenedDataFile& opened, Profile& profile, Options options, RunEvents events, ItemFilter filter)
    : Run(*opened.project, &profile, std::move(events)),
      file_(opened.file),
      reader_(std::move(opened.reader)),
      options_(std::move(options)),
      filter_(std::move(filter)) {
    attach();
}

ExportRun::ExportRun(TtsBackupProject& project, Profile& profile, Options options, RunEvents events,
                     ItemFilter filter)
    : Run(project, &profile, std::move(events)), options_(std::move(options)), filter_(std::move(filter)) {
    attach();
}

ExportRun::~ExportRun() {
    detach();
}

bool ExportRun::chosen(const std::string& caption) const {
    for (TtsBPSourceItem* item : project().Source().ItemList())
        if (item->Caption() == caption) return item->Selected() && (!filter_ || filter_(*item));
    return false;
}

void ExportRun::readProgress(int64_t bytes) {
    // A data file's progress is how much of it was read.
    if (!file_.empty()) return;
    doneInput_ += bytes;
    progress_.consumed(doneInput_, totalInput_, [this](uint8_t percent) { progress(percent); });
}

void ExportRun::run() {
    debugLog("-Export-");
    progress_.reset();
    tally_ = {};
    written_.clear();
    warnings_.clear();
    accounts_.clear();
    items_.clear();
    makeFolderPath(options_.folder);

    Output output(options_.folder, options_.replace, tally_, written_);
    if (file_.empty()) {
        exportProfile(*profile(), true, output, false);
    } else {
        if (!reader_) throw TsException("The data file \"" + file_ + "\" was read already; open it again to export it");
        exportDataFile(output);
    }
    // New files were not forced to disk one by one; one sync of the file system does it.
    if (!syncFileSystemOf(options_.folder)) debugLog("Export: the exported files could not be forced to disk");
    // Everything is written: a cancel from here on comes after the end.
    if (enterFinalStep()) progress(100);
    debugLog("-Export Finished-");
}

void ExportRun::exportDataFile(Output& output) {
    ScratchFolder scratch(options_.folder);
    createProfileLayout(scratch.path());
    Profile unpacked(scratch.path(), RegistryHive::inMemory(), profile()->userName());
    // The items expand their stored names for the scratch profile.
    struct OwnProfileBack {
        TtsBackupProject& project;
        Profile* own;
        ~OwnProfileBack() { project.SetUserProfile(own); }
    } ownProfileBack{project(), profile()};
    project().SetUserProfile(&unpacked);

    status("Read Data ...");
    std::shared_ptr<DataFileReader> reader = std::move(reader_);
    reader->setOnConsumed([this](int64_t done, int64_t total) {
        progress_.consumed(done, total, [this](uint8_t percent) { progress(percent); });
    });
    if (cancelled() || !reader->header()) return;
    InflateStream& stream = reader->stream();
    const bool mail = chosen(TtsBPOEData::kCaption);
    std::optional<MailNames> names;
    if (mail) names.emplace(unpacked, warnings_);
    output.hold();
    // The scratch profile is the export's alone: each file may go in place as it is read.
    DirectProfileSink toScratch(unpacked);
    DataFileSink sink(*this, toScratch, names ? &*names : nullptr, scratch.path(), output);
    try {
        const bool whole = readStoredItems(stream, filter_, [&](TtsBPSourceItem& item) {
            status("Read " + item.Caption() + " ...");
            item.RestoreToSink(stream, sink);
        });
        if (!whole) return;
        // The same end a check insists on: nothing is exported from a damaged file.
        stream.verifyNothingFollows();
    } catch (...) {
        rethrowDataFileFailure(*reader, true);
    }
    sink.convertWaiting();
    if (cancelled()) return;
    output.placeHeld();
    // The data file keeps no file times: the favorites get none.
    exportProfile(unpacked, false, output, mail);
}

void ExportRun::exportProfile(const Profile& profile, bool fileTimesKnown, Output& output, bool mailExported) {
    const bool mail = chosen(TtsBPOEData::kCaption);
    const bool favorites = chosen(TtsBPFavorites::kCaption);
    const bool addressBook = chosen(TtsBPAddressBook::kCaption);
    if (mail) {
        items_.push_back(TtsBPOEData::kCaption);
        exportAccounts(profile, output);
        if (!mailExported) exportMail(profile, output);
    }
    if (favorites && !cancelled()) {
        items_.push_back(TtsBPFavorites::kCaption);
        exportFavorites(profile, fileTimesKnown, output);
    }
    if (addressBook && !cancelled()) {
        items_.push_back(TtsBPAddressBook::kCaption);
        exportAddressBook(profile, output);
    }
}

void ExportRun::exportAccounts(const Profile& profile, Output& output) {
    const RegistryHive& hive = profile.hive();
    const std::string accounts = std::string(TtsBPOEData::kAccountsKeyPath) + "\\Accounts";
    accounts_ = readMailAccounts(hive, accounts, "all identities");
    const std::string identities = TtsBPOEData::kIdentitiesKeyPath;
    if (hive.keyExists(identities)) {
        for (const std::string& id : hive.subkeyNames(identities)) {
            const std::string key = identities + "\\" + id;
            const auto name = hive.value(key, "Username");
            std::vector<MailAccount> own = readMailAccounts(
                hive, key + "\\Software\\Microsoft\\Internet Account Manager\\Accounts",
                "the identity " + (name ? name->asText() : id));
            accounts_.insert(accounts_.end(), own.begin(), own.end());
        }
    }
    tally_.accounts = static_cast<int64_t>(accounts_.size());
    output.writeWhole("accounts.txt", accountsText(accounts_));
}

void ExportRun::exportMail(const Profile& profile, Output& output) {
    MailNames names(profile, warnings_);
    const auto found = filesInSpecialFolder(profile, csidl::LOCAL_APPDATA, "Identities", "*.*");
    if (!found) return;
    std::vector<std::string> stores;
    for (const std::string& file : found->files) {
        if (!names.isStore(file)) continue;
        stores.push_back(file);
        if (const auto status = hostStatus(profile, file)) totalInput_ += status->st_size;
    }
    for (const std::string& file : stores) {
        if (cancelled()) return;
        std::unique_ptr<FileStream> stream;
        try {
            stream = profile.files().openRead(file);
        } catch (const TsException& failure) {
            warnings_.push_back(failure.what());
            continue;
        }
        exportStore(*stream, file, names.nameOf(file), output, std::nullopt);
    }
}

void ExportRun::exportStore(Stream& stream, const std::string& windowsPath, const std::string& relativeName,
                            Output& output, std::optional<int64_t> leftoverBlocks) {
    const int64_t size = stream.size();
    if (size == 0) return;  // a store the mail program made and never used
    status("Export " + lastPart(windowsPath) + " ...");
    std::optional<MailStoreFile> store;
    try {
        store.emplace(stream, windowsPath);
    } catch (const EStoreFileDamaged& failure) {
        warnings_.push_back(std::string(failure.what()) + "; nothing of it was exported");
        readProgress(size);
        return;
    }
    if (store->kind() != MailStoreFile::Kind::Messages) return;
    int64_t reported = 0;
    const auto reportRead = [&](int64_t upTo) {
        readProgress(upTo - reported);
        reported = upTo;
    };
    int64_t read = 0;
    const auto each = [&](const std::function<void(int64_t firstBlock)>& message) {
        store->forEachRecord([&](const StoreRecord& record) {
            if (cancelled()) return;
            if (const auto first = record.number(store_layout::kMessageFirstBlock)) message(*first);
        });
    };
    if (options_.eml) {
        const std::string folder = output.claim(relativeName);
        int64_t number = 0;
        each([&](int64_t firstBlock) {
            const std::string path = output.claim(folder + "/" + std::to_string(++number) + ".eml");
            auto file = output.create(path);
            if (!store->readMessage(firstBlock, [&](const uint8_t* data, size_t length) {
                    file->stream().write(data, static_cast<int64_t>(length));
                    read += static_cast<int64_t>(length);
                })) {
                --number;
                return;
            }
            output.finish(std::move(file), path);
            ++tally_.messages;
            reportRead(std::min(read, size));
        });
    } else {
        const std::string path = output.claim(relativeName + ".mbox");
        auto file = output.create(path);
        file->writeBehind();
        // Converting and writing overlap; the writer's waits for the disk are its own.
        ThreadedWriteStream out(file->stream());
        MboxWriter writer(out);
        each([&](int64_t firstBlock) {
            writer.beginMessage();
            if (!store->readMessage(firstBlock, [&](const uint8_t* data, size_t length) {
                    writer.write(data, length);
                    read += static_cast<int64_t>(length);
                }))
                return;
            writer.endMessage();
            ++tally_.messages;
            reportRead(std::min(read, size));
        });
        if (cancelled()) return;
        out.finish();
        output.finish(std::move(file), path);
    }
    if (cancelled()) return;
    ++tally_.mailFolders;
    const int64_t leftover = leftoverBlocks ? *leftoverBlocks : store->countLeftoverBlocks();
    tally_.leftoverBlocks += leftover;
    if (leftover > 0)
        debugLog("Export: " + windowsPath + ": " + std::to_string(leftover) + " blocks of deleted messages passed over");
    for (const StoreDamage& damage : store->damages())
        warnings_.push_back(windowsPath + ": damaged at offset " + hexOffset(damage.offset) + ": " + damage.what +
                            "; the messages still reachable were exported");
    if (store->damageCount() > static_cast<int64_t>(store->damages().size()))
        warnings_.push_back(windowsPath + ": " + std::to_string(store->damageCount() - store->damages().size()) +
                            " more damaged places");
    reportRead(size);
}

void ExportRun::exportFavorites(const Profile& profile, bool fileTimesKnown, Output& output) {
    std::vector<Favorite> favorites;
    if (const auto found = filesInSpecialFolder(profile, csidl::FAVORITES, "", TtsBPFavorites::kMask)) {
        for (const std::string& file : found->files) {
            std::vector<std::string> parts = partsBelow(found->folder, file);
            if (parts.empty()) continue;
            std::string text;
            try {
                auto stream = profile.files().openRead(file);
                // A shortcut is a few lines; more than this is no shortcut.
                text.resize(static_cast<size_t>(std::min<int64_t>(stream->size(), 64 * 1024)));
                stream->readExact(text.data(), static_cast<int64_t>(text.size()));
            } catch (const TsException& failure) {
                warnings_.push_back(failure.what());
                continue;
            }
            const auto url = shortcutUrl(text);
            if (!url) {
                warnings_.push_back(file + ": no URL= line; not a favorite");
                continue;
            }
            Favorite favorite;
            favorite.title = parts.back().substr(0, parts.back().size() - 4);
            parts.pop_back();
            favorite.folders = std::move(parts);
            favorite.url = *url;
            if (fileTimesKnown)
                if (const auto status = hostStatus(profile, file)) favorite.added = status->st_mtime;
            favorites.push_back(std::move(favorite));
        }
    }
    tally_.favorites = static_cast<int64_t>(favorites.size());
    const std::string path = output.claim("bookmarks.html");
    auto file = output.create(path);
    writeBookmarksFile(file->stream(), std::move(favorites));
    output.commit(*file, path);
}

void ExportRun::exportAddressBook(const Profile& profile, Output& output) {
    const auto found = filesInSpecialFolder(profile, csidl::APPDATA, "Microsoft\\Address Book", "*.wab");
    if (!found) return;
    // Failures to write stop the export as everywhere; failures to read are the book's.
    const auto guarded = [](const std::function<void()>& work) -> std::string {
        try {
            work();
        } catch (const EFileExists&) {
            throw;
        } catch (const EFCreateError&) {
            throw;
        } catch (const TsException& failure) {
            return failure.what();
        }
        return {};
    };
    for (const std::string& file : found->files) {
        if (cancelled()) return;
        const std::string stem = safeName(lastPart(file).substr(0, lastPart(file).size() - 4));
        // One address book keeps the plain name; several are told apart by their own.
        const std::string vcf = output.claim(found->files.size() == 1 ? "contacts.vcf" : "contacts (" + stem + ").vcf");
        std::string problem;
        const std::string failure = guarded([&] {
            auto source = profile.files().openRead(file);
            auto cards = output.create(vcf);
            const AddressBookConversion done = convertAddressBook(*source, file, cards->stream());
            output.commit(*cards, vcf);
            tally_.contacts += done.contacts;
            tally_.contactGroups += done.groups;
            problem = done.problems(file);
        });
        if (!failure.empty()) problem = failure;
        if (problem.empty()) continue;
        // What was not converted stays in the file itself, beside the cards.
        const std::string raw = output.claim("Address Book/" + safeName(lastPart(file)));
        const std::string copyFailure = guarded([&] {
            auto source = profile.files().openRead(file);
            auto copy = output.create(raw);
            copy->stream().copyFrom(*source, source->size());
            output.commit(*copy, raw);
        });
        if (!copyFailure.empty()) {
            warnings_.push_back(problem + "; " + copyFailure);
            continue;
        }
        ++tally_.addressBooks;
        warnings_.push_back(problem + "; the address book was copied as it is to " + raw);
    }
}

}  // namespace ts
