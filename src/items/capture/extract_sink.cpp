#include "items/capture/extract_sink.h"

#include <unistd.h>

#include <array>
#include <exception>
#include <string_view>

#include "items/capture/backup_file_item_name_check.h"
#include "items/capture/backup_file_item_record.h"
#include "items/file_name.h"
#include "items/reg_file_writer.h"
#include "platform/atomic_file.h"
#include "platform/exception.h"

namespace ts {

namespace {

struct ReadableFolder {
    std::string_view placeholder;  // as kPlaceholderTable names it
    std::string_view folder;
};

// One folder per special folder, named as a user knows it. Folders nested on Windows (the
// start menu's programs) get folders of their own, so every name has exactly one place.
constexpr std::array<ReadableFolder, 23> kReadableFolders = {{
    {"CSIDL_CONTROLS", "Control Panel"},
    {"CSIDL_COOKIES", "Cookies"},
    {"CSIDL_DESKTOP", "Desktop"},
    {"CSIDL_DESKTOPDIRECTORY", "Desktop Folder"},
    {"CSIDL_DRIVES", "My Computer"},
    {"CSIDL_FAVORITES", "Favorites"},
    {"CSIDL_FONTS", "Fonts"},
    {"CSIDL_HISTORY", "History"},
    {"CSIDL_INTERNET", "Internet"},
    {"CSIDL_INTERNET_CACHE", "Temporary Internet Files"},
    {"CSIDL_NETHOOD", "Network Shortcuts"},
    {"CSIDL_NETWORK", "Network"},
    {"CSIDL_PERSONAL", "Documents"},
    {"CSIDL_PRINTERS", "Printers"},
    {"CSIDL_PRINTHOOD", "Printer Shortcuts"},
    {"CSIDL_PROGRAMS", "Start Menu Programs"},
    {"CSIDL_RECENT", "Recent"},
    {"CSIDL_SENDTO", "SendTo"},
    {"CSIDL_STARTMENU", "Start Menu"},
    {"CSIDL_STARTUP", "Startup"},
    {"CSIDL_TEMPLATES", "Templates"},
    {"CSIDL_APPDATA", "AppData"},
    {"CSIDL_LOCAL_APPDATA", "Local AppData"},
}};

}  // namespace

std::optional<std::string> extractPathOf(const std::string& storedName) {
    // The placeholder table's order decides, as it does when the name is expanded.
    for (const auto& row : kPlaceholderTable) {
        const std::string& placeholder = placeholderOf(row);
        if (storedName.compare(0, placeholder.size(), placeholder) != 0) continue;
        for (const auto& readable : kReadableFolders) {
            if (readable.placeholder != row.name) continue;
            std::string path(readable.folder);
            for (char c : std::string_view(storedName).substr(placeholder.size())) path.push_back(c == '\\' ? '/' : c);
            return path;
        }
    }
    return std::nullopt;
}

ExtractSink::ExtractSink(std::string folder, const Profile& profile, bool replace)
    : folder_(std::move(folder)), profile_(profile), replace_(replace) {}

ExtractSink::~ExtractSink() {
    regWriter_.reset();
    regFile_.reset();
    if (committed_) return;
    // Removes every temporary file, then the folders made for them, newest first; a folder
    // something else was put into meanwhile stays.
    staged_.clear();
    for (auto folder = createdFolders_.rbegin(); folder != createdFolders_.rend(); ++folder) ::rmdir(folder->c_str());
}

std::string ExtractSink::freeRegFileName(const std::string& wanted) const {
    if (!regFileNames_.count(wanted)) return wanted;
    const std::string stem = wanted.substr(0, wanted.size() - 4);  // without ".reg"
    for (int number = 2;; ++number) {
        std::string name = stem + " (" + std::to_string(number) + ").reg";
        if (!regFileNames_.count(name)) return name;
    }
}

void ExtractSink::beginItem(const std::string& regFileName, KeyRoots roots) {
    endItem();
    regFileName_ = freeRegFileName(regFileName);
    keyRoots_ = std::move(roots);
}

void ExtractSink::endItem() {
    if (regWriter_) {
        regWriter_->finish();
        regWriter_.reset();
        regFile_->finishWriting(false);
        staged_.push_back(std::move(regFile_));
        regFileNames_.insert(regFileName_);
        ++tally_.regFiles;
    }
    currentKey_.reset();
    currentKeyRefused_ = false;
    regFileName_.clear();
}

void ExtractSink::commit() {
    std::exception_ptr first;
    for (const auto& file : staged_) {
        try {
            file->commit();
        } catch (...) {
            if (!first) first = std::current_exception();
        }
    }
    committed_ = true;
    staged_.clear();
    if (first) std::rethrow_exception(first);
}

// A key line of a .reg file ends at its line break, and regedit makes no key of an empty
// name: a saved key path holding either would import as other keys than the data file held.
std::optional<std::string> ExtractSink::keyRefusal(const std::string& keyPath) const {
    if (!keyRoots_.allows(keyPath)) return KeyRoots::kRefusalReason;
    const std::string path = trimmedKeyPath(keyPath);
    for (unsigned char c : path)
        if (c < ' ') return "its path holds a control character, which a .reg file cannot hold";
    if (path.empty() || path.find("\\\\") != std::string::npos) return "its path holds an empty key name";
    return std::nullopt;
}

bool ExtractSink::enterKey(const std::string& keyPath) {
    if (currentKey_ == keyPath) return !currentKeyRefused_;
    currentKey_ = keyPath;
    currentKeyRefused_ = false;
    if (const std::optional<std::string> reason = keyRefusal(keyPath)) {
        currentKeyRefused_ = true;
        if (refusedKeys_.insert(keyPath).second) refusedFile(keyPath, *reason);
        return false;
    }
    if (!regWriter_) {
        if (regFileName_.empty()) throw TsException("Registry data came before its item");
        const auto existing = replace_ ? AtomicFile::Existing::Replace : AtomicFile::Existing::Keep;
        regFile_ = std::make_unique<AtomicFile>(folder_ + "/" + regFileName_, newFilePermissions(),
                                                AtomicFile::Durability::SyncWhenReplacing, existing);
        regWriter_ = std::make_unique<RegFileWriter>(regFile_->stream());
    }
    const bool rooted = keyPath.front() == '\\';
    regWriter_->key("HKEY_CURRENT_USER" + std::string(rooted ? "" : "\\") + keyPath);
    ++tally_.keys;
    return true;
}

void ExtractSink::createKey(const std::string& keyPath) {
    enterKey(keyPath);
}

void ExtractSink::setValue(const std::string& keyPath, const RegValue& value) {
    if (!enterKey(keyPath)) return;
    regWriter_->value(value);
    ++tally_.values;
}

void ExtractSink::keptValue(const std::string&, const std::string&, uint8_t, int32_t) {
    // Held by name, type and size only: there are no data to export.
    ++tally_.keptValues;
}

// Creates the folders of relativePath below the extract folder, one by one, and returns the
// file's full path. An existing folder is taken, but nothing else: a link in the way could
// lead out of the extract folder.
void ExtractSink::writeFile(const std::string& storedName, const std::string& realPath, Stream& data,
                            int64_t size) {
    if (size < 0) throw EReadError();
    // The file record reader has checked the name already; a sink that writes outside the
    // profile checks again rather than trust every caller.
    std::optional<std::string> reason = unrestorableNameReason(profile_, storedName, realPath);
    const std::optional<std::string> relative = extractPathOf(storedName);
    if (!reason && !relative) reason = "it does not begin with a special folder's placeholder";
    if (!reason) {
        switch (claims_.claim(realPath, storedName)) {
        case SameFileClaims::Verdict::First:
            break;
        case SameFileClaims::Verdict::SameName:
            discardBytes(data, size);  // saved twice at one moment: the first copy is the file
            return;
        case SameFileClaims::Verdict::OtherName:
            reason = claims_.refusalReason();
            break;
        }
    }
    if (reason) {
        discardBytes(data, size);
        refusedFile(storedName, *reason);
        return;
    }
    const std::string target = makeFoldersBelow(folder_, *relative, &createdFolders_);
    const auto existing = replace_ ? AtomicFile::Existing::Replace : AtomicFile::Existing::Keep;
    auto file = std::make_unique<AtomicFile>(target, newFilePermissions(), AtomicFile::Durability::SyncWhenReplacing,
                                             existing);
    file->stream().copyFrom(data, size);
    file->finishWriting(false);
    staged_.push_back(std::move(file));
    ++tally_.files;
    tally_.fileBytes += size;
}

void ExtractSink::skippedFile(const std::string&) {
    ++tally_.unreadable;
}

void ExtractSink::refusedFile(const std::string& storedName, const std::string& reason) {
    refused_.emplace_back(storedName, reason);
}

}  // namespace ts
