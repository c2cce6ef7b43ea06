// tessaly-cli test-ftp: the backup dialog's test of FTP settings, for a project file.
#include <cstdio>

#include "app/cli/cli_errors.h"
#include "app/cli/terminal_text.h"
#include "app/cli/cli_options.h"
#include "app/cli/cli_session.h"
#include "app/cli/commands.h"
#include "app/cli/project_file.h"
#include "engine/project.h"
#include "transfer/ftp/ftp_client.h"
#include "transfer/ftp/ftp_settings_check.h"
#include "transfer/ftp/ftp_trust_store.h"

namespace ts::cli {

namespace {

constexpr const char* kUsage =
    "Usage: tessaly-cli test-ftp PROJECT.tsly [--trust-fingerprint SHA256] [--profile DIR]\n"
    "\n"
    "Tests the FTP settings of a project file as the backup dialog's \"Test FTP Settings\"\n"
    "does: connects and logs in (with the TLS handshake for an ftpes:// host) and changes\n"
    "to the remote folder. Prints \"FTP Test ok!\" or why it failed; exit code 4 when the\n"
    "server refused the user name or password.\n"
    "  --trust-fingerprint SHA256  trust the TLS server whose certificate has this SHA-256\n"
    "                              fingerprint (hex, colons optional, as `openssl x509\n"
    "                              -noout -fingerprint -sha256` prints it) and, once the test\n"
    "                              passes, remember it for the host\n"
    "  --profile DIR               the Wine prefix whose debug log is kept\n";

}  // namespace

int runTestFtp(const Arguments& args) {
    ParsedOptions options = parseOptions("test-ftp", args, {{"trust-fingerprint", true}}, 1);
    if (options.has("help")) {
        std::fputs(kUsage, stdout);
        return kExitSuccess;
    }
    const std::string file = options.positional()[0];
    const std::string pin = options.value("trust-fingerprint").value_or("");
    if (options.has("trust-fingerprint") && !normalizeFingerprint(pin))
        throw UsageError("test-ftp", "\"" + pin + "\" is not a SHA-256 fingerprint (64 hex digits)");
    CliSession session(options, false);
    std::unique_ptr<TtsBackupProject> project;
    try {
        project = loadProject(session.profile(), file);
    } catch (...) {
        throw describeFailure(file, false);
    }
    const TtsBPDestination& destination = project->Destination();
    if (destination.Kind() != TtsBPDestination::kKindFtp)
        throw CommandFailure(file + ": the project saves into a folder, not to an FTP server", kExitFailure);
    FtpClient client;
    const FtpSettingsCheck check = checkFtpSettings(
        client, {destination.Host(), destination.UserName(), destination.FtpPassword(), destination.RemoteFolder(), pin});
    if (check.ok) {
        if (!pin.empty()) {
            FtpTrustStore store;
            store.trust(client.endpoint().hostAndPort(), pin);
            std::printf("Trusting the certificate %s for %s from now on\n", check.serverFingerprint.c_str(),
                        visibleText(client.endpoint().hostAndPort()).c_str());
        }
        std::printf("%s\n", check.message.c_str());
        return kExitSuccess;
    }
    if (check.certificateChanged)
        std::fprintf(stderr,
                     "tessaly-cli: the certificate is not the one pinned for this server. Pin the new one only once\n"
                     "the server's administrator has confirmed the renewal and its fingerprint:\n"
                     "  tessaly-cli test-ftp %s --trust-fingerprint %s\n",
                     visibleText(file).c_str(), check.serverFingerprint.c_str());
    else if (check.untrustedCertificate)
        std::fprintf(stderr,
                     "tessaly-cli: compare the fingerprint with the server's own certificate; if they match, run\n"
                     "  tessaly-cli test-ftp %s --trust-fingerprint %s\n",
                     visibleText(file).c_str(), check.serverFingerprint.c_str());
    throw CommandFailure(file + ": " + check.errorText, check.loginRefused ? kExitFtpLogin : kExitFailure);
}

}  // namespace ts::cli
