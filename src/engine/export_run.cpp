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
#include "items/capture/inventory_sink.h"
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
        const std::string target = makeFoldersBelow(folder_, claimedPath);
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

    void writeWhole(const std::string& relativePath, const std::string& text) {
        const std::string path = claim(relativePath);
        auto file = create(path);
        file->stream().write(text.data(), static_cast<int64_t>(text.size()));
        commit(*file, path);
    }

private:
    std::string folder_;
    bool replace_;
    ExportTally& tally_;
    std::vector<std::string>& written_;
    std::set<std::string> claimed_;
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
    doneInput_ += bytes;
    // A data file's unpacking took the first half.
    const int64_t total = file_.empty() ? totalInput_ : 2 * totalInput_;
    const int64_t done = file_.empty() ? doneInput_ : totalInput_ + doneInput_;
    progress_.consumed(done, total, [this](uint8_t percent) { progress(percent); });
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

    if (file_.empty()) {
        exportProfile(*profile(), true);
    } else {
        if (!reader_) throw TsException("The data file \"" + file_ + "\" was read already; open it again to export it");
        ScratchFolder scratch(options_.folder);
        createProfileLayout(scratch.path());
        Profile unpacked(scratch.path(), RegistryHive::inMemory(), profile()->userName());
        Profile* own = profile();
        project().SetUserProfile(&unpacked);
        try {
            unpackDataFile(unpacked);
            // The data file keeps no file times: the favorites get none.
            if (!cancelled()) exportProfile(unpacked, false);
        } catch (...) {
            project().SetUserProfile(own);
            throw;
        }
        project().SetUserProfile(own);
    }
    // New files were not forced to disk one by one; one sync of the file system does it.
    if (!syncFileSystemOf(options_.folder)) debugLog("Export: the exported files could not be forced to disk");
    if (!cancelled()) progress(100);
    debugLog("-Export Finished-");
}

void ExportRun::unpackDataFile(Profile& scratch) {
    status("Read Data ...");
    std::shared_ptr<DataFileReader> reader = std::move(reader_);
    reader->setOnConsumed([this](int64_t done, int64_t total) {
        progress_.consumed(done, 2 * total, [this](uint8_t percent) { progress(percent); });
    });
    if (cancelled() || !reader->header()) return;
    InflateStream& stream = reader->stream();
    ProfileRestoreSink sink(scratch);
    InventorySink passedOver;
    try {
        for (TtsBPSourceItem* item : project().Source().ItemList()) {
            if (cancelled()) return;
            if (!item->Selected()) continue;
            if (!filter_ || filter_(*item)) {
                status("Read " + item->Caption() + " ...");
                item->RestoreToSink(stream, sink);
            } else {
                // Its data must still be read to reach the items after it.
                passedOver.clear();
                item->RestoreToSink(stream, passedOver);
            }
        }
        // The same end a check insists on: nothing is exported from a damaged file.
        stream.verifyNothingFollows();
    } catch (...) {
        rethrowDataFileFailure(*reader, true);
    }
}

void ExportRun::exportProfile(const Profile& profile, bool fileTimesKnown) {
    Output output(options_.folder, options_.replace, tally_, written_);
    const bool mail = chosen(TtsBPOEData::kCaption);
    const bool favorites = chosen(TtsBPFavorites::kCaption);
    const bool addressBook = chosen(TtsBPAddressBook::kCaption);
    if (mail) {
        items_.push_back(TtsBPOEData::kCaption);
        exportAccounts(profile, output);
        exportMail(profile, output);
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
    const auto found = filesInSpecialFolder(profile, csidl::LOCAL_APPDATA, "Identities", "*.*");
    if (!found) return;
    const std::string& identitiesFolder = found->folder;
    std::vector<std::string> stores;
    for (const std::string& file : found->files) {
        if (!endsWithIgnoringCase(file, kStoreExtension)) continue;
        stores.push_back(file);
        if (const auto status = hostStatus(profile, file)) totalInput_ += status->st_size;
    }
    // Each identity's folder is named after the identity; a store's folders after the folder
    // list beside the store files, where there is one.
    std::map<std::string, std::string> identityNames;  // lower-case id -> output folder name
    std::set<std::string> namesTaken;
    const RegistryHive& hive = profile.hive();
    const auto identityName = [&](const std::string& id) {
        auto found = identityNames.find(lowerCase(id));
        if (found != identityNames.end()) return found->second;
        const auto user = hive.value(std::string(TtsBPOEData::kIdentitiesKeyPath) + "\\" + id, "Username");
        std::string name = safeName(user && !user->asText().empty() ? user->asText() : id);
        if (!namesTaken.insert(lowerCase(name)).second) name = safeName(name + " " + id);
        return identityNames[lowerCase(id)] = name;
    };
    std::map<std::string, std::map<std::string, std::string>> listedNames;  // folder -> lower file name -> path
    const auto folderListOf = [&](const std::string& storeFolder) -> const std::map<std::string, std::string>& {
        auto found = listedNames.find(lowerCase(storeFolder));
        if (found != listedNames.end()) return found->second;
        std::map<std::string, std::string>& names = listedNames[lowerCase(storeFolder)];
        const std::string list = storeFolder + "\\" + "Folders.dbx";
        if (!profile.files().fileExists(list)) return names;
        try {
            auto stream = profile.files().openRead(list);
            MailStoreFile store(*stream, list);
            if (store.kind() != MailStoreFile::Kind::Folders) return names;
            const std::vector<StoreFolder> folders = readStoreFolders(store);
            const auto paths = storeFolderPaths(folders);
            for (size_t i = 0; i < folders.size(); ++i) {
                if (folders[i].fileName.empty()) continue;
                std::string path;
                for (const std::string& part : paths[i]) path += (path.empty() ? "" : "/") + safeName(fromAnsi(part));
                names.emplace(lowerCase(fromAnsi(folders[i].fileName)), path);
            }
            for (const StoreDamage& damage : store.damages())
                warnings_.push_back(list + ": damaged at offset " + hexOffset(damage.offset) + ": " + damage.what);
        } catch (const TsException& failure) {
            warnings_.push_back(std::string(failure.what()) + "; the folder names come from the file names");
        }
        return names;
    };
    for (const std::string& file : stores) {
        if (cancelled()) return;
        const std::vector<std::string> parts = partsBelow(identitiesFolder, file);
        if (parts.size() < 2 || lowerCase(parts.back()) == kFolderListName) continue;
        const std::string storeFolder = folderPart(file);
        const auto& listed = folderListOf(storeFolder);
        const auto found = listed.find(lowerCase(lastPart(file)));
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
        exportStore(profile, file, "Mail/" + identityName(parts[0]) + "/" + name, output);
    }
}

void ExportRun::exportStore(const Profile& profile, const std::string& windowsPath, const std::string& relativeName,
                            Output& output) {
    std::unique_ptr<FileStream> stream;
    try {
        stream = profile.files().openRead(windowsPath);
    } catch (const TsException& failure) {
        warnings_.push_back(failure.what());
        return;
    }
    const int64_t size = stream->size();
    if (size == 0) return;  // a store the mail program made and never used
    status("Export " + lastPart(windowsPath) + " ...");
    std::optional<MailStoreFile> store;
    try {
        store.emplace(*stream, windowsPath);
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
            output.commit(*file, path);
            ++tally_.messages;
            reportRead(std::min(read, size));
        });
    } else {
        const std::string path = output.claim(relativeName + ".mbox");
        auto file = output.create(path);
        MboxWriter writer(file->stream());
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
        output.commit(*file, path);
    }
    if (cancelled()) return;
    ++tally_.mailFolders;
    const int64_t leftover = store->countLeftoverBlocks();
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
