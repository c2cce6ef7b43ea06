#include "platform/debug_log.h"

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <fstream>
#include <langinfo.h>
#include <locale.h>
#include <unistd.h>

#include "platform/ansi_text.h"

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

void DebugLog::start(const std::string& logFile, std::time_t now) {
    std::vector<std::string> loaded;
    bool unreadable = false;
    if (::access(logFile.c_str(), F_OK) == 0) {
        std::ifstream in(logFile, std::ios::binary);
        if (!in) {
            unreadable = true;
        } else {
            std::string line;
            while (std::getline(in, line)) {
                if (!line.empty() && line.back() == '\r') line.pop_back();
                loaded.push_back(fromAnsi(line));
            }
            if (in.bad()) unreadable = true;
        }
    }
    std::lock_guard lock(mutex_);
    logFile_ = logFile;
    if (unreadable) {
        lines_.push_back("Debug log file " + logFile + " could not be read and was ignored");
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
    std::string temp = file + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        for (size_t i = first; i < snapshot.size(); ++i) out << toAnsi(snapshot[i]) << "\r\n";
        out.flush();
        if (!out) {
            std::remove(temp.c_str());
            return false;
        }
    }
    if (std::rename(temp.c_str(), file.c_str()) != 0) {
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace ts
