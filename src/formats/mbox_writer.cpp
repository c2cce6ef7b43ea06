#include "formats/mbox_writer.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>

namespace ts {

namespace {

constexpr std::string_view kFrom = "From ";

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// Splits the next word off text: letters, digits, or one other character; blanks and
// comments in parentheses are passed over.
std::string_view nextToken(std::string_view& text) {
    size_t at = 0;
    int depth = 0;
    while (at < text.size()) {
        const char c = text[at];
        if (c == '(') ++depth;
        else if (c == ')' && depth > 0) --depth;
        else if (depth == 0 && !std::isspace(static_cast<unsigned char>(c)) && c != ',') break;
        ++at;
    }
    size_t end = at;
    while (end < text.size() && (std::isalnum(static_cast<unsigned char>(text[end])) ||
                                 ((text[end] == '+' || text[end] == '-') && end == at)))
        ++end;
    if (end == at && at < text.size()) ++end;
    const std::string_view token = text.substr(at, end - at);
    text.remove_prefix(end);
    return token;
}

std::optional<int> numberOf(std::string_view token) {
    if (token.empty() || token.size() > 9) return std::nullopt;
    int value = 0;
    for (char c : token) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

// Days from 1970-01-01 to a civil date (proleptic Gregorian).
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::array<const char*, 7> kDays = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

std::optional<int> zoneMinutes(std::string_view token) {
    if (token.size() == 5 && (token[0] == '+' || token[0] == '-')) {
        const auto digits = numberOf(token.substr(1));
        if (!digits) return std::nullopt;
        const int minutes = *digits / 100 * 60 + *digits % 100;
        return token[0] == '-' ? -minutes : minutes;
    }
    static const std::pair<const char*, int> named[] = {{"UT", 0},       {"UTC", 0},      {"GMT", 0},     {"Z", 0},
                                                        {"EST", -5 * 60}, {"EDT", -4 * 60}, {"CST", -6 * 60},
                                                        {"CDT", -5 * 60}, {"MST", -7 * 60}, {"MDT", -6 * 60},
                                                        {"PST", -8 * 60}, {"PDT", -7 * 60}};
    for (const auto& [name, minutes] : named)
        if (equalsIgnoringCase(token, name)) return minutes;
    return std::nullopt;
}

}  // namespace

std::optional<std::time_t> parseMessageDate(std::string_view text) {
    std::string_view token = nextToken(text);
    for (const char* day : kDays)
        if (token.size() >= 3 && equalsIgnoringCase(token.substr(0, 3), day)) token = nextToken(text);
    const auto day = numberOf(token);
    const std::string_view monthName = nextToken(text);
    int month = 0;
    for (size_t i = 0; i < kMonths.size(); ++i)
        if (monthName.size() >= 3 && equalsIgnoringCase(monthName.substr(0, 3), kMonths[i])) month = static_cast<int>(i) + 1;
    auto year = numberOf(nextToken(text));
    const auto hour = numberOf(nextToken(text));
    if (nextToken(text) != ":") return std::nullopt;
    const auto minute = numberOf(nextToken(text));
    int second = 0;
    std::string_view rest = text;
    if (nextToken(rest) == ":") {
        const auto seconds = numberOf(nextToken(rest));
        if (!seconds) return std::nullopt;
        second = *seconds;
        text = rest;
    }
    if (!day || !month || !year || !hour || !minute) return std::nullopt;
    // Two- and three-digit years as RFC 5322 reads them.
    if (*year < 50) *year += 2000;
    else if (*year < 1000) *year += 1900;
    if (*day < 1 || *day > 31 || *hour > 23 || *minute > 59 || second > 60) return std::nullopt;
    const int zone = zoneMinutes(nextToken(text)).value_or(0);
    const int64_t days = daysFromCivil(*year, static_cast<unsigned>(month), static_cast<unsigned>(*day));
    return static_cast<std::time_t>(days * 86400 + *hour * 3600 + *minute * 60 + second - zone * 60);
}

std::optional<std::string> headerValue(std::string_view headers, std::string_view name) {
    size_t at = 0;
    while (at < headers.size()) {
        size_t end = headers.find('\n', at);
        if (end == std::string_view::npos) end = headers.size();
        std::string_view line = headers.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) break;
        const size_t colon = line.find(':');
        if (colon != std::string_view::npos && equalsIgnoringCase(line.substr(0, colon), name)) {
            std::string value(line.substr(colon + 1));
            // Folded continuation lines begin with a blank.
            for (at = end + 1; at < headers.size() && (headers[at] == ' ' || headers[at] == '\t');) {
                size_t next = headers.find('\n', at);
                if (next == std::string_view::npos) next = headers.size();
                std::string_view more = headers.substr(at, next - at);
                if (!more.empty() && more.back() == '\r') more.remove_suffix(1);
                value += more;
                at = next + 1;
            }
            const size_t first = value.find_first_not_of(" \t");
            return first == std::string::npos ? std::string() : value.substr(first);
        }
        at = end + 1;
    }
    return std::nullopt;
}

std::optional<std::string> senderAddress(std::string_view fromValue) {
    const size_t open = fromValue.rfind('<');
    if (open != std::string_view::npos) {
        const size_t close = fromValue.find('>', open);
        if (close != std::string_view::npos && close > open + 1) fromValue = fromValue.substr(open + 1, close - open - 1);
    }
    // The first word holding an "@", or the whole value when it is one word.
    std::string_view rest = fromValue;
    while (!rest.empty()) {
        const size_t start = rest.find_first_not_of(" \t,;\"");
        if (start == std::string_view::npos) break;
        rest.remove_prefix(start);
        const size_t end = std::min(rest.find_first_of(" \t,;\"<>()"), rest.size());
        const std::string_view word = rest.substr(0, end);
        if (word.find('@') != std::string_view::npos) return std::string(word);
        rest.remove_prefix(end);
    }
    return std::nullopt;
}

std::string mboxFromLine(std::string_view headers) {
    std::string sender = "MAILER-DAEMON";
    if (const auto from = headerValue(headers, "From"))
        if (auto address = senderAddress(*from)) sender = std::move(*address);
    for (char& c : sender)
        if (static_cast<unsigned char>(c) <= ' ') c = '_';
    std::time_t moment = 0;
    if (const auto date = headerValue(headers, "Date"))
        if (const auto parsed = parseMessageDate(*date)) moment = *parsed;
    std::tm utc{};
    gmtime_r(&moment, &utc);
    char when[64];
    std::snprintf(when, sizeof when, "%s %s %2d %02d:%02d:%02d %d", kDays[static_cast<size_t>(utc.tm_wday) % 7],
                  kMonths[static_cast<size_t>(utc.tm_mon) % 12], utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  utc.tm_year + 1900);
    return "From " + sender + " " + when;
}

void MboxWriter::beginMessage() {
    headers_.clear();
    inHeaders_ = true;
    lineStart_ = true;
    quotes_ = 0;
    fromMatched_ = 0;
    lastWasNewline_ = true;
}

void MboxWriter::write(const uint8_t* data, size_t size) {
    if (!inHeaders_) {
        quoteAndWrite(data, size);
        return;
    }
    headers_.append(reinterpret_cast<const char*>(data), size);
    if (headers_.find("\n\r\n") != std::string::npos || headers_.find("\n\n") != std::string::npos ||
        headers_.size() >= kMaxHeaderPart)
        startBody();
}

void MboxWriter::startBody() {
    inHeaders_ = false;
    buffer_ = mboxFromLine(headers_) + "\n";
    const std::string held = std::move(headers_);
    headers_.clear();
    quoteAndWrite(reinterpret_cast<const uint8_t*>(held.data()), held.size());
}

void MboxWriter::quoteAndWrite(const uint8_t* data, size_t size) {
    size_t i = 0;
    while (i < size) {
        if (lineStart_) {
            const char c = static_cast<char>(data[i]);
            if (fromMatched_ == 0 && c == '>') {
                ++quotes_;
                ++i;
            } else if (c == kFrom[fromMatched_]) {
                ++i;
                if (++fromMatched_ == kFrom.size()) {
                    buffer_.append(quotes_ + 1, '>');
                    buffer_ += kFrom;
                    lineStart_ = false;
                }
            } else {
                // Not a separator after all: what was held goes out as it was.
                buffer_.append(quotes_, '>');
                buffer_ += kFrom.substr(0, fromMatched_);
                lineStart_ = false;
            }
            continue;
        }
        // The rest of the line goes out as it is, and with it each following line that cannot
        // be a separator (it begins with neither ">" nor "F"), in one piece.
        size_t end = i;
        bool atLineStart = false;
        while (const auto* newline = static_cast<const uint8_t*>(std::memchr(data + end, '\n', size - end))) {
            end = static_cast<size_t>(newline - data) + 1;
            if (end == size || data[end] == '>' || data[end] == kFrom[0]) {
                atLineStart = true;
                break;
            }
        }
        if (!atLineStart) end = size;
        buffer_.append(reinterpret_cast<const char*>(data + i), end - i);
        i = end;
        if (atLineStart) {
            lineStart_ = true;
            quotes_ = 0;
            fromMatched_ = 0;
        }
        if (buffer_.size() >= 64 * 1024) flush();
    }
    if (size > 0) lastWasNewline_ = data[size - 1] == '\n';
}

void MboxWriter::flush() {
    if (!buffer_.empty()) out_.write(buffer_.data(), static_cast<int64_t>(buffer_.size()));
    buffer_.clear();
}

void MboxWriter::endMessage() {
    if (inHeaders_) startBody();
    // A line begun with ">" or part of "From " at the very end is written as it was.
    if (lineStart_) {
        buffer_.append(quotes_, '>');
        buffer_ += kFrom.substr(0, fromMatched_);
        if (quotes_ + fromMatched_ > 0) lastWasNewline_ = false;
    }
    if (!lastWasNewline_) buffer_ += "\n";
    buffer_ += "\n";
    flush();
    ++messages_;
}

}  // namespace ts
