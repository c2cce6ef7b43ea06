#include "platform/profile/profile_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform/exception.h"
#include "platform/profile/profile_name_case.h"
#include "platform/profile/profile_wildcard.h"

namespace ts {

namespace {

struct ParsedPath {
    char driveLetter;
    std::vector<std::string_view> components;  // within the text parsed
};

// Splits "X:\a\b" into its drive and components, resolving "." and ".." without leaving
// the drive's root, as Windows normalises a full path. Relative and UNC paths have no value.
std::optional<ParsedPath> parseWindowsPath(std::string_view path) {
    if (path.size() < 2 || path[1] != ':' || !std::isalpha(static_cast<unsigned char>(path[0])))
        return std::nullopt;
    if (path.find('\0') != std::string_view::npos) return std::nullopt;
    ParsedPath parsed{static_cast<char>(std::tolower(static_cast<unsigned char>(path[0]))), {}};
    size_t start = 2;
    while (start <= path.size()) {
        size_t end = findPathSeparator(path, start);
        if (end == std::string_view::npos) end = path.size();
        std::string_view component = path.substr(start, end - start);
        if (component == "..") {
            if (!parsed.components.empty()) parsed.components.pop_back();
        } else if (!component.empty() && component != ".") {
            parsed.components.emplace_back(component);
        }
        start = end + 1;
    }
    return parsed;
}

std::string realPath(const std::string& hostPath) {
    char buffer[PATH_MAX];
    if (::realpath(hostPath.c_str(), buffer) == nullptr) return {};
    return buffer;
}

bool isWithin(const std::string& path, const std::string& root) {
    if (root.empty() || path.empty()) return false;
    if (root == "/") return true;
    return path == root || (path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
                            path[root.size()] == '/');
}

// Wine stores the DOS attributes as Samba does: "0x" and hex digits, optionally ended by a
// NUL (Samba 4 appends binary data after it). Only hidden (2) and system (4) are kept.
constexpr unsigned kHidden = 0x2, kSystem = 0x4;

unsigned parseDosAttrib(std::string_view value) {
    if (value.size() < 3 || value[0] != '0' || value[1] != 'x') return 0;
    unsigned attributes = 0;
    size_t i = 2;
    for (; i < value.size() && std::isxdigit(static_cast<unsigned char>(value[i])); ++i) {
        const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(value[i])));
        attributes = (attributes << 4) | static_cast<unsigned>(c <= '9' ? c - '0' : c - 'a' + 10);
        attributes &= 0xFFFF;  // only the low bits matter; keep the shift from overflowing
    }
    if (i == 2 || (i < value.size() && value[i] != '\0')) return 0;
    return attributes & (kHidden | kSystem);
}

std::string_view folderPart(std::string_view pattern, std::string_view& mask) {
    const size_t slash = pattern.find_last_of("\\/");
    if (slash == std::string_view::npos) {
        // "C:*.txt" lists the drive's root.
        mask = pattern.size() > 2 ? pattern.substr(2) : std::string_view{};
        return pattern.substr(0, std::min<size_t>(2, pattern.size()));
    }
    mask = pattern.substr(slash + 1);
    return pattern.substr(0, slash + 1);
}

}  // namespace

ProfileFiles::ProfileFiles(std::string prefixDir, bool showDotFiles, Drives drives, DriveFolders otherDrives)
    : prefixDir_(std::move(prefixDir)), showDotFiles_(showDotFiles), drives_(drives), otherDrives_(std::move(otherDrives)) {}

std::optional<std::string> ProfileFiles::driveRoot(char letter) const {
    if (drives_ == Drives::WindowsDisk) {
        if (letter == 'c') return prefixDir_;
        const auto given = otherDrives_.find(letter);
        return given == otherDrives_.end() ? std::nullopt : std::optional(given->second);
    }
    const std::string key = std::string("drive ") + letter;
    if (auto known = names_.remembered(key)) return *known;
    std::optional<std::string> found;
    std::string root = prefixDir_ + "/dosdevices/" + letter + ":";
    struct stat st;
    if (::stat(root.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        found = root;
    } else if (letter == 'c') {
        root = prefixDir_ + "/drive_c";
        if (::stat(root.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) found = root;
    }
    // A drive missing now may be made soon: a restore into a new profile checks it first.
    if (found) names_.remember(key, found);
    return found;
}

std::optional<std::string> ProfileFiles::requireDriveRoot(char letter, std::string_view windowsPath) const {
    auto root = driveRoot(letter);
    // Taking the path as missing would leave the user's data out of a backup without a word:
    // on a Windows disk a store or a folder moved to another drive is common.
    if (!root && drives_ == Drives::WindowsDisk) {
        const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
        throw TsException("\"" + std::string(windowsPath) + "\" is on drive " + upper +
                          ":, which this Windows disk does not hold. Mount the disk that was drive " + upper +
                          ": and give its folder with --drive " + upper + "=DIR.");
    }
    return root;
}

std::optional<std::string> ProfileFiles::containingFolder(std::string_view windowsPath) const {
    auto resolved = resolve(windowsPath);
    if (!resolved) return std::nullopt;
    return std::move(resolved->containingFolder);
}

std::string ProfileFiles::realPathOnce(const std::string& hostPath) const {
    const std::string key = "real " + hostPath;
    if (auto known = names_.remembered(key)) return known->value_or(std::string());
    std::string real = realPath(hostPath);
    // A folder that is not there yet (a new profile's, before its restore makes it) is
    // looked for again next time.
    if (!real.empty()) names_.remember(key, real);
    return real;
}

std::optional<ProfileFiles::Resolved> ProfileFiles::resolve(std::string_view windowsPath) const {
    auto parsed = parseWindowsPath(windowsPath);
    if (!parsed) return std::nullopt;
    auto root = requireDriveRoot(parsed->driveLetter, windowsPath);
    if (!root) return std::nullopt;
    Resolved resolved{*root, drives_ == Drives::WindowsDisk ? *root : prefixDir_, EntryKind::Folder, {}, {}};
    const auto& components = parsed->components;
    // The folders of a path are resolved once per run: a restore asks for thousands of files
    // in the same few hundred folders.
    std::string folderKey;
    size_t first = 0;
    if (components.size() > 1 && names_.active()) {
        folderKey = parsed->driveLetter;
        for (size_t i = 0; i + 1 < components.size(); ++i) (folderKey += '\\') += components[i];
        if (auto host = names_.resolvedFolder(folderKey)) {
            resolved.host = std::move(*host);
            first = components.size() - 1;
        }
    }
    bool resolving = true;
    size_t parentLength = std::string::npos;
    for (size_t i = first; i < components.size(); ++i) {
        const std::string_view component = components[i];
        std::optional<FoundName> existing;
        if (resolving) existing = names_.find(resolved.host, component);
        parentLength = resolving ? resolved.host.size() : std::string::npos;
        resolving = existing.has_value();
        resolved.host += "/";
        resolved.host += existing ? std::string_view(existing->name) : component;
        resolved.kind = existing ? std::optional(existing->kind) : std::nullopt;
    }
    if (parentLength != std::string::npos) {
        resolved.parent = resolved.host.substr(0, parentLength);
        resolved.leaf = resolved.host.substr(parentLength + 1);
        if (!folderKey.empty() && first == 0) names_.rememberResolvedFolder(folderKey, resolved.parent);
    }
    return resolved;
}

std::optional<std::string> ProfileFiles::hostPath(std::string_view windowsPath) const {
    auto resolved = resolve(windowsPath);
    if (!resolved) return std::nullopt;
    return std::move(resolved->host);
}

std::optional<std::string> ProfileFiles::hostPathToCreate(std::string_view windowsPath, bool* existed) const {
    auto resolved = resolve(windowsPath);
    if (!resolved) return std::nullopt;
    if (existed) *existed = resolved->kind.has_value();
    if (!resolved->kind && !resolved->parent.empty()) names_.added(resolved->parent, resolved->leaf, EntryKind::File);
    return std::move(resolved->host);
}

std::optional<FoundName> ProfileFiles::existingName(const std::string& hostFolder, std::string_view wanted) const {
    return names_.find(hostFolder, wanted);
}

void ProfileFiles::noteCreated(const std::string& hostFolder, std::string_view name, bool isFolder) const {
    names_.added(hostFolder, name, isFolder ? EntryKind::Folder : EntryKind::File);
}

namespace {

// Whether the entry resolved is a folder (true), something else (false), or not there
// (no value); the listing answers for plain files and folders, a link is followed.
std::optional<bool> isFolderEntry(const std::string& host, std::optional<EntryKind> kind) {
    if (!kind) return std::nullopt;
    if (*kind == EntryKind::File) return false;
    if (*kind == EntryKind::Folder) return true;
    struct stat st;
    if (::stat(host.c_str(), &st) != 0) return std::nullopt;
    return S_ISDIR(st.st_mode);
}

}  // namespace

bool ProfileFiles::fileExists(std::string_view windowsPath) const {
    auto resolved = resolve(windowsPath);
    if (!resolved) return false;
    return isFolderEntry(resolved->host, resolved->kind) == false;
}

bool ProfileFiles::folderExists(std::string_view windowsPath) const {
    auto resolved = resolve(windowsPath);
    if (!resolved) return false;
    return isFolderEntry(resolved->host, resolved->kind) == true;
}

void ProfileFiles::readDosAttributes(const std::string& hostPath, std::string_view name, bool showDotFiles,
                                     bool& hidden, bool& system) {
    char buffer[256];
    const ssize_t length = ::getxattr(hostPath.c_str(), "user.DOSATTRIB", buffer, sizeof buffer);
    if (length >= 0) {
        const unsigned attributes = parseDosAttrib(std::string_view(buffer, static_cast<size_t>(length)));
        hidden = (attributes & kHidden) != 0;
        system = (attributes & kSystem) != 0;
        return;
    }
    hidden = !showDotFiles && name.size() > 1 && name[0] == '.' && name != "..";
    system = false;
}

std::vector<ProfileEntry> ProfileFiles::list(std::string_view windowsPattern, Detail detail,
                                             std::string* listError) const {
    std::string_view maskText;
    const std::string_view folder = folderPart(windowsPattern, maskText);
    std::vector<ProfileEntry> entries;
    auto hostFolder = hostPath(folder);
    if (!hostFolder) return entries;
    const WildcardMask mask(maskText);
    DIR* dir = ::opendir(hostFolder->c_str());
    if (dir == nullptr) {
        if (listError && errno != ENOENT) *listError = systemErrorText(errno);
        return entries;
    }
    // Every name goes to the run's cache, so resolving the files found costs nothing more.
    const bool caching = names_.active();
    std::vector<FoundName> seen;
    while (dirent* item = ::readdir(dir)) {
        std::string name = item->d_name;
        if (name == "." || name == "..") continue;
        const EntryKind kind = entryKindOf(item->d_type);
        if (caching) seen.push_back({name, kind});
        if (!mask.matches(name)) continue;
        ProfileEntry entry;
        entry.name = std::move(name);
        entry.isLink = kind == EntryKind::Link;
        if (detail == Detail::All || kind != EntryKind::File) {
            struct stat st;
            // A dangling link is listed as an empty file, which then cannot be opened.
            if (::fstatat(::dirfd(dir), entry.name.c_str(), &st, 0) == 0) {
                entry.isFolder = S_ISDIR(st.st_mode);
                entry.size = entry.isFolder ? 0 : static_cast<uint64_t>(st.st_size);
                if (entry.isFolder) entry.identity = FolderIdentity{st.st_dev, st.st_ino};
            }
        }
        if (detail == Detail::All || entry.isFolder)
            readDosAttributes(*hostFolder + "/" + entry.name, entry.name, showDotFiles_, entry.hidden, entry.system);
        entries.push_back(std::move(entry));
    }
    ::closedir(dir);
    if (caching) names_.listed(*hostFolder, std::move(seen));
    return entries;
}

std::unique_ptr<FileStream> ProfileFiles::openRead(std::string_view windowsPath) const {
    auto resolved = resolve(windowsPath);
    if (!resolved) throw EFOpenError(std::string(windowsPath), "The path names no drive of this profile.");
    const std::string& host = resolved->host;
    // The listing already says what a plain file or folder is; anything else is looked at.
    if (resolved->kind == EntryKind::Folder) throw EFOpenError(std::string(windowsPath), "It is a folder.");
    struct stat st;
    if (resolved->kind != EntryKind::File && ::stat(host.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) throw EFOpenError(std::string(windowsPath), "It is a folder.");
        // Opening a named pipe would wait for a writer for ever; Windows has no such files.
        if (!S_ISREG(st.st_mode)) throw EFOpenError(std::string(windowsPath), "It is not a regular file.");
    }
    std::unique_ptr<FileStream> file;
    try {
        file = std::make_unique<FileStream>(host, FileStream::Mode::Read);
    } catch (const EFOpenError&) {
        throw EFOpenError(std::string(windowsPath), systemErrorText(errno));
    }
    // Where the opened file really is, whatever links led there: a link to a file outside
    // the profile would save that file's content as if it were the user's.
    const std::string opened = realPath("/proc/self/fd/" + std::to_string(file->descriptor()));
    if (opened.empty() || !isWithin(opened, realPathOnce(resolved->containingFolder)))
        throw EFOpenError(std::string(windowsPath), "It is a link to a file outside the profile (" + opened + ").");
    return file;
}

std::unique_ptr<FileStream> ProfileFiles::create(std::string_view windowsPath) const {
    auto host = hostPathToCreate(windowsPath);
    if (!host) throw EFCreateError(std::string(windowsPath), "The path names no drive of this profile.");
    try {
        return std::make_unique<FileStream>(*host, FileStream::Mode::Create);
    } catch (const EFCreateError&) {
        throw EFCreateError(std::string(windowsPath), systemErrorText(errno));
    }
}

void ProfileFiles::createFolders(std::string_view windowsFolder) const {
    const auto fail = [&](const std::string& reason) {
        throw TsException("Cannot create folder \"" + std::string(windowsFolder) + "\". " + reason);
    };
    auto parsed = parseWindowsPath(windowsFolder);
    if (!parsed) fail("The path names no drive of this profile.");
    auto root = requireDriveRoot(parsed->driveLetter, windowsFolder);
    if (!root) fail("The path names no drive of this profile.");
    std::string host = *root;
    for (const auto& component : parsed->components) {
        auto existing = names_.find(host, component);
        const std::string parent = host;
        (host += "/") += existing ? std::string_view(existing->name) : component;
        if (existing) {
            if (existing->kind == EntryKind::Folder) continue;
            if (existing->kind == EntryKind::File) fail("\"" + std::string(component) + "\" is a file.");
            struct stat st;
            if (::stat(host.c_str(), &st) == 0) {
                if (!S_ISDIR(st.st_mode)) fail("\"" + std::string(component) + "\" is a file.");
                continue;
            }
        }
        if (::mkdir(host.c_str(), 0777) == 0) {
            names_.added(parent, existing ? std::string_view(existing->name) : component, EntryKind::Folder);
        } else if (errno == EEXIST) {
            // Made by someone else since the folder was listed: read it again when asked.
            names_.forget(parent);
        } else {
            fail(systemErrorText(errno));
        }
    }
}

bool ProfileFiles::remove(std::string_view windowsPath) const {
    // A drive's root is the prefix's own link or folder, never the user's to delete.
    auto parsed = parseWindowsPath(windowsPath);
    if (!parsed || parsed->components.empty()) return false;
    auto resolved = resolve(windowsPath);
    if (!resolved) return false;
    const std::string& host = resolved->host;
    struct stat st;
    if (::lstat(host.c_str(), &st) != 0) return false;
    const bool folder = S_ISDIR(st.st_mode);
    if ((folder ? ::rmdir(host.c_str()) : ::unlink(host.c_str())) != 0) return false;
    if (!resolved->parent.empty()) names_.removed(resolved->parent, resolved->leaf);
    if (folder) names_.forget(host);
    return true;
}

std::optional<FolderIdentity> ProfileFiles::folderInsideProfile(std::string_view windowsFolder) const {
    auto resolved = resolve(windowsFolder);
    if (!resolved) return std::nullopt;
    const std::string& host = resolved->host;
    struct stat st;
    if (::stat(host.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
    // Wherever drive C points is not inside for that alone: a link there may lead anywhere.
    if (!isWithin(realPath(host), realPathOnce(resolved->containingFolder))) return std::nullopt;
    return FolderIdentity{st.st_dev, st.st_ino};
}

std::optional<std::string> ProfileFiles::driveCOutsidePrefix() const {
    const auto root = driveRoot('c');
    if (!root) return std::nullopt;
    const std::string real = realPath(*root);
    if (real.empty() || isWithin(real, realPath(prefixDir_))) return std::nullopt;
    return real;
}

}  // namespace ts
