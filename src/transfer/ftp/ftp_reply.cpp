#include "transfer/ftp/ftp_reply.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/ansi_text.h"

namespace ts {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// "123", "123 text", "123-text": the reply code, or -1 when the line does not open a reply.
int openingCode(const std::string& line) {
    if (line.size() < 3 || line[0] < '1' || line[0] > '5' || !isDigit(line[1]) || !isDigit(line[2])) return -1;
    if (line.size() > 3 && line[3] != ' ' && line[3] != '-') return -1;
    return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

bool closesMultiLine(const std::string& line, const std::string& code) {
    return line.compare(0, 3, code) == 0 && (line.size() == 3 || line[3] == ' ');
}

// Replies are shown to the user: keep control characters out of the message.
std::string printable(const std::string& line) {
    std::string shown = line.substr(0, 200);
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    return shown;
}

}  // namespace

std::string maskSecrets(std::string text, const std::vector<std::string>& secrets) {
    static const std::string kStars = "********";
    for (const std::string& secret : secrets) {
        if (secret.empty()) continue;
        for (size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at + kStars.size()))
            text.replace(at, secret.size(), kStars);
    }
    return text;
}

std::vector<std::string> passwordForms(const std::string& password) {
    std::vector<std::string> forms;
    for (std::string form : {password, toAnsi(password), fromAnsi(password)})
        if (!form.empty() && std::find(forms.begin(), forms.end(), form) == forms.end()) forms.push_back(std::move(form));
    // A longer form may hold a shorter one; masking the shorter first would leave the rest.
    std::stable_sort(forms.begin(), forms.end(), [](const auto& a, const auto& b) { return a.size() > b.size(); });
    return forms;
}

std::string FtpReply::text() const {
    std::string joined = std::to_string(code);
    for (const auto& line : lines) {
        // Inner lines need not repeat the code; strip it only where they do.
        size_t from = openingCode(line) == code ? std::min<size_t>(line.size(), 4) : 0;
        from = line.find_first_not_of(' ', from);
        if (from == std::string::npos) continue;
        joined += ' ';
        joined += line.substr(from);
    }
    return joined;
}

bool FtpReply::asksForEncryption() const {
    if (code != 421 && code != 530 && code != 534 && code != 550) return false;
    std::string lower = text();
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const char* word : {"tls", "ssl", "encrypt"})
        if (lower.find(word) != std::string::npos) return true;
    return false;
}

std::string FtpReplyReader::readLine() {
    size_t scanned = start_;
    for (;;) {
        const char* lineFeed = static_cast<const char*>(
            std::memchr(buffer_.data() + scanned, '\n', buffer_.size() - scanned));
        if (lineFeed) {
            size_t end = static_cast<size_t>(lineFeed - buffer_.data());
            size_t contentEnd = end > start_ && buffer_[end - 1] == '\r' ? end - 1 : end;
            if (contentEnd - start_ > kMaxLineLength) break;
            std::string line = buffer_.substr(start_, contentEnd - start_);
            // The code stays as sent: a password as short as "2" must not break "230".
            const size_t code = openingCode(line) >= 0 ? std::min<size_t>(line.size(), 4) : 0;
            line.replace(code, std::string::npos, maskSecrets(line.substr(code), secrets_));
            start_ = end + 1;
            return line;
        }
        // A CR may still be followed by its LF, so allow one character beyond the limit.
        if (buffer_.size() - start_ > kMaxLineLength + 1) break;
        if (start_ > 0) {
            buffer_.erase(0, start_);
            start_ = 0;
        }
        scanned = buffer_.size();
        char chunk[4096];
        size_t got = source_(chunk, sizeof chunk);
        if (got == 0) throw EFtpError("The FTP server closed the connection");
        buffer_.append(chunk, got);
    }
    throw EFtpProtocolError("The FTP server sent a reply line longer than " + std::to_string(kMaxLineLength) +
                            " characters");
}

FtpReply FtpReplyReader::read() {
    FtpReply reply;
    std::string first = readLine();
    reply.code = openingCode(first);
    if (reply.code < 0) throw EFtpProtocolError("The FTP server sent an invalid reply: " + printable(first));
    const bool multiLine = first.size() > 3 && first[3] == '-';
    size_t length = first.size();
    reply.lines.push_back(std::move(first));
    if (!multiLine) return reply;
    const std::string code = reply.lines.front().substr(0, 3);
    for (;;) {
        std::string line = readLine();
        length += line.size() + 2;
        if (length > kMaxReplyLength)
            throw EFtpProtocolError("The FTP server sent a reply longer than " + std::to_string(kMaxReplyLength) +
                                    " characters");
        const bool last = closesMultiLine(line, code);
        reply.lines.push_back(std::move(line));
        if (last) return reply;
    }
}

}  // namespace ts
