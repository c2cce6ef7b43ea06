#pragma once
// Reading FTP server replies: single-line "220 Ready" and multi-line replies that open with
// "220-" and run until the line that starts with the same code and a blank.
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "platform/exception.h"

namespace ts {

// Every failure of an FTP exchange.
class EFtpError : public TsException {
public:
    using TsException::TsException;
};

// The server sent something that is not an FTP reply.
class EFtpProtocolError : public EFtpError {
public:
    using EFtpError::EFtpError;
};

struct FtpReply {
    int code = 0;
    std::vector<std::string> lines;  // as received, without line ends

    // The reply as one line for messages and the log: the code once, then the text of every
    // line without its "NNN-" or "NNN " opening, joined by blanks.
    std::string text() const;
    // Whether the reply says the server wants an encrypted session (TLS or SSL required).
    bool asksForEncryption() const;
};

// Each of secrets (longest first, empty ones ignored) replaced by "********" wherever it occurs
// in text.
std::string maskSecrets(std::string text, const std::vector<std::string>& secrets);
// The forms a password can take in a server's text: as typed (UTF-8), in Windows-1252, and
// decoded from Windows-1252; longest first, without repeats or empty ones.
std::vector<std::string> passwordForms(const std::string& password);

class FtpReplyReader {
public:
    static constexpr size_t kMaxLineLength = 16384;
    // Bounds the memory a server can make us hold with an endless multi-line reply.
    static constexpr size_t kMaxReplyLength = 1024 * 1024;

    // Fills buffer with up to size bytes; returns 0 at the end of the stream.
    using Source = std::function<size_t(char* buffer, size_t size)>;

    explicit FtpReplyReader(Source source) : source_(std::move(source)) {}

    // Texts replaced by stars in every line as it arrives (after its reply code), before
    // anything else sees it.
    void setSecrets(std::vector<std::string> secrets) { secrets_ = std::move(secrets); }

    // The next complete reply. Throws EFtpProtocolError for a malformed reply or an overlong
    // line, and EFtpError when the stream ends before the reply does.
    FtpReply read();
    // Whether bytes of a further reply have arrived already.
    bool hasBufferedInput() const { return start_ < buffer_.size(); }

private:
    std::string readLine();

    Source source_;
    std::vector<std::string> secrets_;
    std::string buffer_;
    size_t start_ = 0;  // first unread byte of buffer_
};

}  // namespace ts
