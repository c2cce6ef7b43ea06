#include "engine/flows.h"

#include <algorithm>

#include "engine/datafile/data_file_reader.h"
#include "platform/profile/profile.h"
#include "platform/registry/wine_server_check.h"
#include "platform/stream/zlib_error.h"

namespace ts {

namespace {

constexpr const char* kDataFileExtension = ".tsly_dat";

// A project file holds at most the records, the favorites list and the browser settings' key
// tree, each within the bounds their readers hold them to; anything larger is not one of ours
// and is not read into memory.
constexpr int64_t kMaxProjectFileBytes = int64_t{40} << 20;

std::vector<uint8_t> readWholeFile(const std::string& file) {
    FileStream stream(file, FileStream::Mode::Read);
    if (stream.size() > kMaxProjectFileBytes)
        throw FlowFailure(FailureKind::NotADataFile, file + ": not a Tessaly project file (larger than " +
                                                         std::to_string(kMaxProjectFileBytes >> 20) + " MiB)");
    std::vector<uint8_t> bytes(static_cast<size_t>(stream.size()));
    stream.readExact(bytes.data(), static_cast<int64_t>(bytes.size()));
    return bytes;
}

// One load of the project file's bytes into a fresh project.
std::unique_ptr<TtsBackupProject> loadProject(const std::string& file, const std::vector<uint8_t>& bytes,
                                              Profile& profile, const std::optional<std::string>& password) {
    auto project = std::make_unique<TtsBackupProject>(&profile);
    if (password) {
        project->SetPassword(*password);
        project->SetEncrypt(true);
    }
    MemoryStream stream(bytes);
    int32_t loaded;
    try {
        loaded = project->LoadFromStream(stream);
    } catch (const EFileEncrypted&) {
        throw;
    } catch (...) {
        throw FlowFailure(damagedProjectFile(file));
    }
    // A file that does not begin with a project record would load as nothing at all.
    if (loaded <= TtsBackupProject::kRecordSize)
        throw FlowFailure(FailureKind::NotADataFile, file + ": not a Tessaly project file");
    return project;
}

std::shared_ptr<DataFileReader> openReader(const std::string& file) {
    std::shared_ptr<DataFileReader> reader;
    try {
        reader = std::make_shared<DataFileReader>(file);
    } catch (const ECompressedDataError& e) {
        throw FlowFailure(FailureKind::NotADataFile, e.what());
    }
    if (!reader->header()) throw FlowFailure(FailureKind::NotADataFile, file + ": not a Tessaly data file");
    return reader;
}

DataFileSummary summaryOf(const DataFileReader& reader) {
    return DataFileSummary{reader.header()->Encrypt, reader.header()->BackupTime};
}

}  // namespace

std::string dataFileNameOf(const std::string& name) {
    // A line break would also end the FTP command that names the file.
    const bool control = std::any_of(name.begin(), name.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
    });
    if (name.empty() || name == "." || name == ".." || name.find_first_of("/\\") != std::string::npos || control)
        throw FlowFailure(FailureKind::Usage,
                          "The project name \"" + name +
                              "\" cannot name a data file: it must not be empty or hold \"/\", \"\\\" or control characters");
    return name + kDataFileExtension;
}

Failure damagedProjectFile(const std::string& file) {
    try {
        throw;
    } catch (const EReadError&) {
        return {FailureKind::DamagedDataFile, file + ": the project file is damaged: it ends inside a record"};
    } catch (...) {
        return classifyCurrentException(file, false);
    }
}

std::unique_ptr<TtsBackupProject> openProjectFile(const std::string& file, Profile& profile,
                                                  PasswordQuestion& question, int maxTries) {
    // Read once; every try parses the same bytes into a project of its own.
    const std::vector<uint8_t> bytes = readWholeFile(file);
    try {
        return loadProject(file, bytes, profile, std::nullopt);
    } catch (const EFileEncrypted&) {
    }
    for (int tries = 0;; ++tries) {
        std::optional<std::string> password = question.askPassword(file, tries > 0);
        if (!password) return nullptr;
        try {
            return loadProject(file, bytes, profile, password);
        } catch (const EFileEncrypted& e) {
            if (tries + 1 >= maxTries) throw FlowFailure(FailureKind::WrongPassword, file + ": " + e.what());
        }
    }
}

std::optional<OpenedDataFile> openDataFile(const std::string& file, Profile& profile, PasswordQuestion& question,
                                           int maxTries) {
    std::shared_ptr<DataFileReader> reader = openReader(file);
    const DataFileSummary summary = summaryOf(*reader);
    for (int tries = 0;; ++tries) {
        std::optional<std::string> password;
        if (summary.encrypted) {
            password = question.askPassword(file, tries > 0);
            if (!password) return std::nullopt;
        }
        // The file read so far is the header only; after a wrong password it is read afresh.
        if (!reader) reader = openReader(file);
        auto project = std::make_unique<TtsBackupProject>(&profile);
        project->SetEncrypt(summary.encrypted);
        if (password) project->SetPassword(*password);
        try {
            try {
                project->LoadFromStream(reader->stream());
            } catch (...) {
                // Leaves only a password the file's encrypted sections refuse as EFileEncrypted.
                rethrowDataFileFailure(*reader, false);
            }
            return OpenedDataFile{std::move(project), summary, file, std::move(reader)};
        } catch (const EFileEncrypted& e) {
            if (tries + 1 >= maxTries) throw FlowFailure(FailureKind::WrongPassword, file + ": " + e.what());
            reader.reset();
        }
    }
}

std::vector<Failure> checkBeforeRestore(const Profile& profile) {
    std::vector<Failure> problems;
    if (auto outside = profile.files().driveCOutsidePrefix()) {
        problems.push_back({FailureKind::FileSystem,
                            "The drive C: of the profile \"" + profile.folder() + "\" leads to \"" + *outside +
                                "\", outside the profile, through a link (dosdevices/c: or drive_c); a restore writes "
                                "only inside the profile. Point \"dosdevices/c:\" at \"../drive_c\", a folder of "
                                "the profile, then restore"});
    }
    if (profile.readOnlyDisk()) {
        problems.push_back({FailureKind::FileSystem,
                            "The " + std::string(profile.kindName()) + " \"" + profile.folder() +
                                "\" lies on a disk mounted read-only, so nothing can be restored into it. Mount it "
                                "read-write (for an NTFS disk: ntfs-3g without -o ro, after Windows was shut down "
                                "completely), then restore"});
    }
    if (auto server = findRunningWineServer(profile.folder())) {
        problems.push_back({FailureKind::WineRunning,
                            "Wine is running for the profile \"" + profile.folder() + "\" (" + server->evidence +
                                "); end it with \"wineserver -k\" (WINEPREFIX set to that folder), then restore"});
    }
    return problems;
}

void throwFirst(const std::vector<Failure>& problems) {
    if (!problems.empty()) throw FlowFailure(problems.front());
}

}  // namespace ts
