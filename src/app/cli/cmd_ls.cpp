// tessaly-cli ls: shows what a data file holds.
#include <cstdio>
#include <string>

#include "app/cli/cli_errors.h"
#include "app/cli/terminal_text.h"
#include "app/cli/cli_options.h"
#include "app/cli/cli_session.h"
#include "app/cli/commands.h"
#include "app/cli/data_file_access.h"
#include "app/cli/json_text.h"
#include "app/cli/refused_names.h"
#include "engine/datafile/data_file_contents.h"
#include "engine/project.h"
#include "platform/date_time.h"

namespace ts::cli {

namespace {

constexpr const char* kUsage =
    "Usage: tessaly-cli ls DATAFILE [--json] [--profile DIR]\n"
    "\n"
    "Shows what a data file holds: the project, when it was backed up, whether it is\n"
    "encrypted, its destination, and for every stored item its registry keys and files.\n"
    "A saved file whose stored name would land outside the profile's special folders is\n"
    "shown as refused, and named in a warning on standard error.\n"
    "An encrypted file takes its password from TESSALY_PASSWORD or a prompt.\n"
    "  --json          the same as one JSON object, for scripts\n";

const char* levelName(uint8_t level) {
    switch (level) {
        case 0: return "none";
        case 1: return "fastest";
        case 2: return "default";
        case 3: return "max";
        default: return "unknown";
    }
}

std::string formatDateTime(double value) {
    try {
        CivilDateTime t = decodeDateTime(value);
        char text[40];
        std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                      t.second);
        return text;
    } catch (const std::exception&) {
        return "unknown";
    }
}

std::string typeName(const InventoryValue& value) {
    switch (value.type) {
        case REG_SZ: return "string";
        case REG_EXPAND_SZ: return "expandable string";
        case REG_DWORD: return "integer";
        case REG_BINARY: return "binary";
        default: return "other";
    }
}

void printProject(const TtsBackupProject& project, const DataFileContents& contents) {
    std::printf("Project:      %s\n", visibleText(project.Name()).c_str());
    std::printf("Backup time:  %s\n", formatDateTime(contents.header.BackupTime).c_str());
    std::printf("Encrypted:    %s\n", contents.header.Encrypt ? "yes" : "no");
    std::printf("Compression:  %s\n", levelName(project.CompressionLevel()));
    const TtsBPDestination& destination = project.Destination();
    if (destination.Kind() == TtsBPDestination::kKindLocalFolder) {
        std::printf("Destination:  folder %s\n", visibleText(destination.LocalFolder()).c_str());
    } else if (destination.Kind() == TtsBPDestination::kKindFtp) {
        // Never the FTP password.
        std::printf("Destination:  FTP %s, folder %s, user %s\n", visibleText(destination.Host()).c_str(),
                    visibleText(destination.RemoteFolder()).c_str(), visibleText(destination.UserName()).c_str());
    } else {
        std::printf("Destination:  unknown kind %d\n", destination.Kind());
    }
}

void printItem(const DataFileItemContents& item) {
    std::printf("\n%s: %s\n", visibleText(item.caption).c_str(), item.stored ? "stored" : "not stored");
    for (const InventoryKey& key : item.inventory.keys()) {
        std::printf("  key  %s\n", visibleText(key.path).c_str());
        for (const InventoryValue& value : key.values) {
            std::printf("         %s (%s, %lld bytes%s)\n", value.name.empty() ? "(default)" : visibleText(value.name).c_str(),
                        typeName(value).c_str(), static_cast<long long>(value.size),
                        value.kept ? ", not restored" : "");
        }
    }
    for (const InventoryFile& file : item.inventory.files()) {
        if (!file.refusedReason.empty())
            std::printf("  file %s (refused, not restorable: %s)\n", visibleText(file.storedName).c_str(),
                        visibleText(file.refusedReason).c_str());
        else if (file.skipped)
            std::printf("  file %s (unreadable when saved: nothing to restore)\n", visibleText(file.storedName).c_str());
        else
            std::printf("  file %s  %lld bytes\n", visibleText(file.storedName).c_str(), static_cast<long long>(file.size));
    }
}

// The listing above as one JSON object; "complete" is false when a failure stopped the
// reading, and the items then hold what was read before it.
void printJson(const std::string& file, const TtsBackupProject& project, const DataFileContents& contents,
               bool complete) {
    std::string out = "{\n  \"file\": " + jsonString(file) + ",\n  \"project\": " + jsonString(project.Name()) +
                      ",\n  \"backup_time\": " + jsonString(formatDateTime(contents.header.BackupTime)) +
                      ",\n  \"encrypted\": " + (contents.header.Encrypt ? "true" : "false") +
                      ",\n  \"compression\": " + jsonString(levelName(project.CompressionLevel())) +
                      ",\n  \"destination\": ";
    const TtsBPDestination& destination = project.Destination();
    if (destination.Kind() == TtsBPDestination::kKindLocalFolder) {
        out += "{\"kind\": \"folder\", \"folder\": " + jsonString(destination.LocalFolder()) + "}";
    } else if (destination.Kind() == TtsBPDestination::kKindFtp) {
        out += "{\"kind\": \"ftp\", \"host\": " + jsonString(destination.Host()) +
               ", \"folder\": " + jsonString(destination.RemoteFolder()) + ", \"user\": " + jsonString(destination.UserName()) +
               "}";
    } else {
        out += "{\"kind\": \"unknown\", \"code\": " + std::to_string(destination.Kind()) + "}";
    }
    out += ",\n  \"items\": [";
    const char* itemSeparator = "\n";
    for (const DataFileItemContents& item : contents.items) {
        out += itemSeparator;
        itemSeparator = ",\n";
        out += "    {\"caption\": " + jsonString(item.caption) + ", \"stored\": " + (item.stored ? "true" : "false") +
               ",\n     \"keys\": [";
        const char* keySeparator = "";
        for (const InventoryKey& key : item.inventory.keys()) {
            out += keySeparator;
            keySeparator = ",";
            out += "\n       {\"path\": " + jsonString(key.path) + ", \"values\": [";
            const char* valueSeparator = "";
            for (const InventoryValue& value : key.values) {
                out += valueSeparator;
                valueSeparator = ", ";
                out += "{\"name\": " + jsonString(value.name) + ", \"type\": " + jsonString(typeName(value)) +
                       ", \"size\": " + std::to_string(value.size) + ", \"restored\": " + (value.kept ? "false" : "true") +
                       "}";
            }
            out += "]}";
        }
        out += "],\n     \"files\": [";
        const char* fileSeparator = "";
        for (const InventoryFile& saved : item.inventory.files()) {
            out += fileSeparator;
            fileSeparator = ",";
            out += "\n       {\"name\": " + jsonString(saved.storedName);
            if (!saved.refusedReason.empty())
                out += ", \"state\": \"refused\", \"reason\": " + jsonString(saved.refusedReason);
            else if (saved.skipped)
                out += ", \"state\": \"unreadable\"";
            else
                out += ", \"state\": \"stored\", \"size\": " + std::to_string(saved.size);
            out += "}";
        }
        out += "]}";
    }
    out += std::string("\n  ],\n  \"complete\": ") + (complete ? "true" : "false") + "\n}\n";
    std::fputs(out.c_str(), stdout);
}

}  // namespace

int runLs(const Arguments& args) {
    ParsedOptions options = parseOptions("ls", args, {{"json", false}}, 1);
    if (options.has("help")) {
        std::fputs(kUsage, stdout);
        return kExitSuccess;
    }
    const std::string file = options.positional()[0];
    CliSession session(options, false);
    DataFileContents contents;
    std::optional<OpenedDataFile> opened;
    std::optional<CommandFailure> failure;
    try {
        openInspected(file, session.profile(), contents, opened);
    } catch (...) {
        failure = describeFailure(file, opened && opened->summary.encrypted);
    }
    // Whatever was read before a failure is still worth showing.
    if (contents.projectRead && options.has("json")) {
        printJson(file, *opened->project, contents, !failure && contents.complete);
    } else if (contents.projectRead) {
        printProject(*opened->project, contents);
        for (const DataFileItemContents& item : contents.items) printItem(item);
    }
    std::fflush(stdout);
    warnOfRefusedNames(file, refusedNamesIn(contents), false);
    if (failure) throw *failure;
    return kExitSuccess;
}

}  // namespace ts::cli
