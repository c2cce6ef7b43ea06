#include "platform/debug_log.h"

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <langinfo.h>
#include <locale.h>
#include <unistd.h>

#include "platform/ansi_text.h"
#include "platform/atomic_file.h"
#include "platform/exception.h"
#include "platform/regular_file.h"

namespace ts {

DebugLog& DebugLog::instance() {
    static DebugLog log;
    return log;
}

void debugLog(std::string line) {
    DebugLog::instance().add(std::move(line));
}

void DebugLog::add(std::string line) {
    std::lock_guard lock(mutex_);
    lines_.push_back(std::move(line));
}

std::vector<std::string> DebugLog::lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

void DebugLog::clear() {
    std::lock_guard lock(mutex_);
    lines_.clear();
    logFile_.clear();
}

std::string DebugLog::logAtLine(std::time_t now) {
    std::tm local{};
    localtime_r(&now, &local);
    // The user's formats come from their LC_TIME, whatever the program set globally.
    locale_t userLocale = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(0));
    if (userLocale == static_cast<locale_t>(0)) userLocale = newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(0));
    auto format = [&](nl_item item) {
        char buffer[128];
        size_t n = strftime_l(buffer, sizeof buffer, nl_langinfo_l(item, userLocale), &local, userLocale);
        return std::string(buffer, n);
    };
    std::string text = "Log at " + format(D_FMT);
    if (local.tm_hour != 0 || local.tm_min != 0 || local.tm_sec != 0) text += " " + format(T_FMT);
    freelocale(userLocale);
    return text;
}

namespace {

bool folderLiesInside(const std::string& file, const std::string& folder) {
    std::error_code error;
    const std::filesystem::path parent = std::filesystem::path(file).parent_path();
    const auto real = std::filesystem::canonical(parent.empty() ? "." : parent, error);
    if (error) return true;  // nothing there yet, so nothing to read; writing makes no folder
    const auto root = std::filesystem::canonical(folder, error);
    if (error) return false;
    const auto [rootEnd, realAt] = std::mismatch(root.begin(), root.end(), real.begin(), real.end());
    return rootEnd == root.end();
}

}  // namespace

void DebugLog::start(const std::string& logFile, std::time_t now, const std::string& insideFolder) {
    std::vector<std::string> loaded;
    std::string problem;
    const bool inside = insideFolder.empty() || folderLiesInside(logFile, insideFolder);
    if (!inside) {
        problem = "Debug log file " + logFile + " lies outside the profile " + insideFolder +
                  " (a link leads there); it is neither read nor written";
    } else {
        try {
            if (auto content = readRegularFile(logFile, kMaxFileBytes, LastLink::Refuse)) {
                std::istringstream in(*content);
                std::string line;
                while (std::getline(in, line)) {
                    if (!line.empty() && line.back() == '\r') line.pop_back();
                    loaded.push_back(fromAnsi(line));
                }
            }
        } catch (const EFOpenError& error) {
            problem = "Debug log file " + logFile + " could not be read and was ignored: " + error.what();
        }
    }
    std::lock_guard lock(mutex_);
    logFile_ = inside ? logFile : std::string();
    if (!problem.empty()) {
        lines_.push_back(problem);
    } else {
        lines_.insert(lines_.begin(), loaded.begin(), loaded.end());
    }
    lines_.push_back(logAtLine(now));
}

bool DebugLog::finish() {
    std::vector<std::string> snapshot;
    std::string file;
    {
        std::lock_guard lock(mutex_);
        lines_.emplace_back();
        snapshot = lines_;
        file = logFile_;
    }
    if (file.empty()) return true;
    size_t first = snapshot.size() > kMaxSavedLines ? snapshot.size() - kMaxSavedLines : 0;
    try {
        AtomicFile out(file, newFilePermissions(), AtomicFile::Durability::SyncWhenReplacing);
        std::string text;
        for (size_t i = first; i < snapshot.size(); ++i) text += toAnsi(snapshot[i]) + "\r\n";
        out.stream().write(text.data(), static_cast<int64_t>(text.size()));
        out.commit();
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

}  // namespace ts
