#pragma once
// Runs the real tessaly-cli binary as a child process: its own session (so it has no
// terminal), a chosen environment, standard input closed, output captured.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <stdexcept>
#include <vector>

#include "support/temp_dir.h"

extern char** environ;

namespace ts::test {

struct CliResult {
    int exitCode = -1;
    std::string out;
    std::string err;
    bool timedOut = false;  // killed at the runner's time limit
    long peakKiB = 0;       // the program's largest resident size, when measurePeak was set
};

class CliRunner {
public:
    // workDir holds the captured output files.
    explicit CliRunner(std::string workDir);

    // Variables to set (a value) or to remove (nullopt) on top of this process's environment.
    std::map<std::string, std::optional<std::string>> environment;
    // Programs the binary runs under, first the one started (an absolute path): a tracer.
    std::vector<std::string> launcher;
    // A child still running after this long is killed, and its result says so.
    std::optional<std::chrono::milliseconds> timeLimit;
    // Runs the program under /usr/bin/time for its peak. The rusage of a child of this
    // process would not do: a forked child starts as large as its parent, and that size
    // counts towards its peak, even after it has started the program.
    bool measurePeak = false;

    // The program keeps its cache and settings in workDir and takes no password or Wine
    // prefix from this process's environment.
    void keepToWorkDir();

    CliResult run(const std::vector<std::string>& args) const;
    // Starts the child and returns its pid; wait() collects it.
    int start(const std::vector<std::string>& args) const;
    CliResult wait(int pid) const;

    static std::string binary();

private:
    std::string workDir_;
};


// Runs scripts/make-sample-profile: the profile of `user` in folder; false when it failed.
inline bool makeSampleProfile(const std::string& folder, const std::string& user) {
    const std::string command = std::string(TESSALY_SOURCE_DIR) + "/scripts/make-sample-profile '" + folder +
                                "' --user " + user + " > /dev/null";
    return std::system(command.c_str()) == 0;
}

inline CliRunner::CliRunner(std::string workDir) : workDir_(std::move(workDir)) {}

inline void CliRunner::keepToWorkDir() {
    environment["XDG_CACHE_HOME"] = workDir_ + "/cache";
    environment["XDG_CONFIG_HOME"] = workDir_ + "/config";
    for (const char* name : {"TESSALY_PASSWORD", "TESSALY_FTP_PASSWORD", "WINEPREFIX"}) environment[name] = std::nullopt;
}

inline std::string CliRunner::binary() {
    return std::string(TESSALY_BINARY_DIR) + "/src/app/tessaly-cli";
}

inline int CliRunner::start(const std::vector<std::string>& args) const {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        std::string name = entry.substr(0, entry.find('='));
        if (!environment.count(name)) env.push_back(entry);
    }
    for (const auto& [name, value] : environment)
        if (value) env.push_back(name + "=" + *value);

    std::vector<std::string> argv = launcher;
    if (measurePeak) argv.insert(argv.begin(), {"/usr/bin/time", "-f", "%M", "-o", workDir_ + "/cli.peak"});
    argv.push_back(binary());
    argv.insert(argv.end(), args.begin(), args.end());
    std::string outPath = workDir_ + "/cli.out", errPath = workDir_ + "/cli.err";

    pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        ::setsid();  // no controlling terminal: prompts must fail, not wait
        int in = ::open("/dev/null", O_RDONLY);
        int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        std::vector<char*> cargv, cenv;
        for (auto& a : argv) cargv.push_back(a.data());
        cargv.push_back(nullptr);
        for (auto& e : env) cenv.push_back(e.data());
        cenv.push_back(nullptr);
        ::execve(cargv[0], cargv.data(), cenv.data());
        ::_exit(127);
    }
    return pid;
}

inline CliResult CliRunner::wait(int pid) const {
    int status = 0;
    CliResult result;
    struct rusage usage {};
    if (timeLimit) {
        const auto deadline = std::chrono::steady_clock::now() + *timeLimit;
        while (::wait4(pid, &status, WNOHANG, &usage) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(-pid, SIGKILL);  // its whole group (it called setsid): a launcher's child too
                ::wait4(pid, &status, 0, &usage);
                result.timedOut = true;
                break;
            }
            ::usleep(20000);
        }
    } else {
        ::wait4(pid, &status, 0, &usage);
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    auto text = [](const std::string& path) {
        std::vector<uint8_t> bytes = readHostFile(path);
        return std::string(bytes.begin(), bytes.end());
    };
    result.out = text(workDir_ + "/cli.out");
    result.err = text(workDir_ + "/cli.err");
    if (measurePeak) {
        // The last line: time puts a note about a killed program before it.
        const std::string peak = text(workDir_ + "/cli.peak");
        const size_t lineStart = peak.find_last_of('\n', peak.size() >= 2 ? peak.size() - 2 : 0);
        result.peakKiB = std::atol(peak.c_str() + (lineStart == std::string::npos ? 0 : lineStart + 1));
    }
    return result;
}

inline CliResult CliRunner::run(const std::vector<std::string>& args) const {
    return wait(start(args));
}

}  // namespace ts::test
