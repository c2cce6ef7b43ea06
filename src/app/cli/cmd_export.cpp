// tessaly-cli export: turns what a data file or a profile holds into the files current mail
// programs, address books and browsers import.
#include <algorithm>
#include <cstdio>
#include <exception>
#include <optional>

#include "app/cli/cli_errors.h"
#include "app/cli/cli_options.h"
#include "app/cli/cli_session.h"
#include "app/cli/closing_line.h"
#include "app/cli/commands.h"
#include "app/cli/data_file_access.h"
#include "app/cli/item_names.h"
#include "app/cli/json_text.h"
#include "app/cli/passwords.h"
#include "app/cli/progress_line.h"
#include "app/cli/signals.h"
#include "app/cli/terminal_text.h"
#include "engine/export_run.h"
#include "engine/flows.h"
#include "engine/project.h"
#include "items/kinds/address_book.h"
#include "items/kinds/favorites.h"
#include "items/kinds/oe_data.h"
#include "platform/atomic_file.h"

namespace ts::cli {

namespace {

constexpr const char* kUsage =
    "Usage: tessaly-cli export DATAFILE DIR [--items LIST] [--eml] [--force] [--json] [--quiet]\n"
    "       tessaly-cli export DIR [--profile DIR] [--items LIST] [--eml] [--force] [--json] [--quiet]\n"
    "\n"
    "Writes what a data file holds (or, without DATAFILE, the profile: read only) into DIR\n"
    "in the formats current programs import. The data file itself never changes.\n"
    "  Mail/IDENTITY/FOLDER.mbox  each mail folder of each identity as an mbox file (mboxrd),\n"
    "                             subfolders below a folder of the parent's name\n"
    "  accounts.txt               the mail and news accounts; passwords are not exported\n"
    "  bookmarks.html             the favorites as a bookmarks file browsers import\n"
    "  contacts.vcf               the address book as vCard 4.0 (contacts and groups);\n"
    "                             several address books: contacts (NAME).vcf\n"
    "  Address Book/NAME.wab      the address book file as it is, when a record of it\n"
    "                             was not understood (named in a warning)\n"
    "DIR is created when missing.\n"
    "  --items LIST    export only these (comma list of addressbook, favorites, oe)\n"
    "  --eml           one .eml file per message (Mail/IDENTITY/FOLDER/N.eml) instead of\n"
    "                  one mbox file per folder\n"
    "  --force         replace files that are in DIR already; without it the export\n"
    "                  stops at the first one, leaving it as it was\n"
    "  --json          print what was written as one JSON object instead of the closing line\n"
    "  --quiet         print nothing on success\n"
    "  --profile DIR   the Wine prefix or Windows user folder to export (without DATAFILE),\n"
    "                  or the one a data file is read for\n"
    "  --drive D=DIR   the folder of drive D: of that Windows disk, for a path the user's\n"
    "                  registry names there (repeat for more letters); without it such a\n"
    "                  path is refused\n"
    "An encrypted file takes its password from TESSALY_PASSWORD or a prompt; a wrong one\n"
    "exits with 3 before anything is written. A damaged mail store exports the messages it\n"
    "can still reach; each damage is named with its file and offset in a warning on standard\n"
    "error, and the exit code stays 0.\n";

std::string closingLineOf(const ExportRun& run, const std::string& source, const std::string& folder,
                          const Stopwatch& stopwatch) {
    const ExportTally& tally = run.exported();
    std::string line = "Exported " + itemsText(run.items()) + " from " + source + " into " + folder + ": ";
    std::vector<std::string> parts;
    if (std::find(run.items().begin(), run.items().end(), TtsBPOEData::kCaption) != run.items().end()) {
        std::string mail = countText(tally.messages, "message", "messages") + " in " +
                           countText(tally.mailFolders, "mail folder", "mail folders");
        if (tally.leftoverBlocks > 0)
            mail += " (" + countText(tally.leftoverBlocks, "block", "blocks") + " of deleted messages passed over)";
        parts.push_back(mail);
        parts.push_back(countText(tally.accounts, "account", "accounts") + " (passwords are not exported)");
    }
    if (std::find(run.items().begin(), run.items().end(), TtsBPFavorites::kCaption) != run.items().end())
        parts.push_back(countText(tally.favorites, "favorite", "favorites"));
    if (std::find(run.items().begin(), run.items().end(), TtsBPAddressBook::kCaption) != run.items().end())
        parts.push_back(countText(tally.contacts, "contact", "contacts") + " and " +
                        countText(tally.contactGroups, "group", "groups"));
    if (tally.addressBooks > 0)
        parts.push_back(countText(tally.addressBooks, "address book", "address books") + " also copied as it is");
    for (const std::string& part : parts) line += part + ", ";
    line += countText(tally.files, "file", "files") + " (" + sizeText(tally.bytes) + ")";
    if (!run.warnings().empty()) line += ", " + countText(static_cast<int64_t>(run.warnings().size()), "warning", "warnings");
    return line + ", " + stopwatch.elapsedText();
}

std::string jsonList(const std::vector<std::string>& texts) {
    std::string out = "[";
    for (size_t i = 0; i < texts.size(); ++i) out += (i ? ", " : "") + jsonString(texts[i]);
    return out + "]";
}

std::string jsonOf(const ExportRun& run, const std::string& source, const std::string& folder) {
    const ExportTally& tally = run.exported();
    std::string out = "{\n  \"source\": " + jsonString(source) + ",\n  \"folder\": " + jsonString(folder) +
                      ",\n  \"items\": " + jsonList(run.items()) + ",\n  \"files\": " + jsonList(run.written()) +
                      ",\n  \"bytes\": " + std::to_string(tally.bytes) +
                      ",\n  \"mail_folders\": " + std::to_string(tally.mailFolders) +
                      ",\n  \"messages\": " + std::to_string(tally.messages) +
                      ",\n  \"deleted_blocks_passed_over\": " + std::to_string(tally.leftoverBlocks) +
                      ",\n  \"favorites\": " + std::to_string(tally.favorites) +
                      ",\n  \"contacts\": " + std::to_string(tally.contacts) +
                      ",\n  \"contact_groups\": " + std::to_string(tally.contactGroups) +
                      ",\n  \"address_books_copied\": " + std::to_string(tally.addressBooks) +
                      ",\n  \"passwords_exported\": false,\n  \"accounts\": [";
    const auto server = [](const std::string& kind, const std::string& host, uint32_t port, bool secure) {
        return "{\"kind\": " + jsonString(kind) + ", \"server\": " + jsonString(host) +
               ", \"port\": " + std::to_string(port) + ", \"secure\": " + (secure ? "true" : "false") + "}";
    };
    const auto& accounts = run.accounts();
    for (size_t i = 0; i < accounts.size(); ++i) {
        const MailAccount& a = accounts[i];
        out += std::string(i ? "," : "") + "\n    {\"owner\": " + jsonString(a.owner) + ", \"name\": " + jsonString(a.name) +
               ", \"display_name\": " + jsonString(a.displayName) + ", \"address\": " + jsonString(a.address) +
               ", \"user_name\": " + jsonString(a.userName) + ", \"incoming\": " +
               (a.incomingServer.empty() ? "null" : server(a.incomingKind, a.incomingServer, a.incomingPort, a.incomingSecure)) +
               ", \"outgoing\": " +
               (a.outgoingServer.empty() ? "null" : server("SMTP", a.outgoingServer, a.outgoingPort, a.outgoingSecure)) + "}";
    }
    out += std::string(accounts.empty() ? "" : "\n  ") + "],\n  \"warnings\": " + jsonList(run.warnings()) + "\n}\n";
    return out;
}

}  // namespace

int runExport(const Arguments& args) {
    ParsedOptions options = parseOptions(
        "export", args, {{"items", true}, {"force", false}, {"eml", false}, {"json", false}, {"quiet", false}}, 1, 2);
    if (options.has("help")) {
        std::fputs(kUsage, stdout);
        return kExitSuccess;
    }
    std::vector<std::string> listed;
    if (auto list = options.value("items")) listed = parseItemList("export", *list);  // usage errors first
    const bool fromDataFile = options.positional().size() == 2;
    const std::string folder = options.positional().back();
    if (folder.empty()) throw UsageError("export", "the folder name is empty");
    Stopwatch stopwatch;
    CliSession session(options, false);
    Profile& profile = session.profile();
    const std::string source = fromDataFile ? options.positional()[0] : profile.folder();
    ExportRun::Options exportOptions{folder, options.has("force"), options.has("eml")};
    std::optional<OpenedDataFile> opened;
    std::unique_ptr<TtsBackupProject> live;
    bool cancelled = false;
    std::string closingLine, json;
    std::vector<std::string> warnings;
    try {
        std::vector<std::string> chosen;
        if (fromDataFile) {
            CliPasswordQuestion question;
            // A wrong password shows here, before DIR is even made.
            opened = openDataFile(source, profile, question, 1);
            if (!opened) throw PasswordError("no password was entered");
            chosen = chosenItems("export", options, *opened->project, source);
        } else {
            live = std::make_unique<TtsBackupProject>(&profile);
            for (TtsBPSourceItem* item : live->Source().ItemList()) item->SetSelected(true);
            chosen = listed.empty() ? parseItemList("export", "all") : listed;
        }
        const auto filter = [chosen](const TtsBPSourceItem& item) {
            return std::find(chosen.begin(), chosen.end(), item.Caption()) != chosen.end();
        };
        std::exception_ptr failure;
        {
            ProgressLine progress;
            std::optional<ExportRun> run;
            if (opened)
                run.emplace(*opened, profile, exportOptions, progress.events(), filter);
            else
                run.emplace(*live, profile, exportOptions, progress.events(), filter);
            CancelOnSignal cancelOnSignal(*run);
            try {
                run->run();
            } catch (...) {
                failure = std::current_exception();
            }
            cancelled = run->cancelled();
            warnings = run->warnings();
            closingLine = closingLineOf(*run, source, folder, stopwatch);
            json = jsonOf(*run, source, folder);
        }
        for (const std::string& warning : warnings) std::fprintf(stderr, "warning: %s\n", visibleText(warning).c_str());
        if (failure) std::rethrow_exception(failure);
    } catch (const EFileExists& exists) {
        throw CommandFailure(std::string(exists.what()) + " Nothing was replaced; --force replaces it.", kExitFailure);
    } catch (const UsageError&) {
        throw;
    } catch (...) {
        throw describeFailure(source, opened && opened->summary.encrypted);
    }
    if (cancelled) throw CommandFailure(source + ": export cancelled", kExitCancelled);
    if (options.has("json")) {
        if (!options.has("quiet")) std::fputs(json.c_str(), stdout);
    } else {
        printClosingLine(options.has("quiet"), closingLine);
    }
    return kExitSuccess;
}

}  // namespace ts::cli
