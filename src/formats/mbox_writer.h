#pragma once
// Messages into one mbox file of the mboxrd kind, which every current mail program imports:
// each message begins with a "From " line naming its sender and date (taken from its own
// headers), every line of it that begins with any number of ">" and then "From " gets one
// more ">", and a blank line follows it. Otherwise the message is its stored text, byte for
// byte. Messages stream through: only the header part (up to a bound) is held, to find the
// sender and date before the first byte is written.
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "platform/stream/stream.h"

namespace ts {

// The moment of an RFC 5322 date ("Mon, 1 Jan 2007 10:00:00 +0100"; the day name, the seconds
// and the zone may be missing, older zone names are known), as UTC seconds.
std::optional<std::time_t> parseMessageDate(std::string_view text);

// A header's value from a message's header part (its first occurrence, folded lines joined),
// or no value.
std::optional<std::string> headerValue(std::string_view headers, std::string_view name);

// The bare address of a From header's value ("Ann <ann@example.org>" gives
// "ann@example.org"); no value when it holds none.
std::optional<std::string> senderAddress(std::string_view fromValue);

// The mbox separator line of a message with this header part, without its line end.
std::string mboxFromLine(std::string_view headers);

class MboxWriter {
public:
    // The most of a message's start held to find the end of its header part.
    static constexpr size_t kMaxHeaderPart = 256 * 1024;

    explicit MboxWriter(Stream& out) : out_(out) {}

    void beginMessage();
    void write(const uint8_t* data, size_t size);
    void endMessage();

    int64_t messages() const { return messages_; }

private:
    void startBody();
    void quoteAndWrite(const uint8_t* data, size_t size);
    void flush();

    Stream& out_;
    std::string headers_;  // the start of the message, while its header part is not whole
    bool inHeaders_ = false;
    // The quoting state: at a line start, how many ">" were met, and how much of "From ".
    bool lineStart_ = true;
    size_t quotes_ = 0;
    size_t fromMatched_ = 0;
    bool lastWasNewline_ = true;
    std::string buffer_;
    int64_t messages_ = 0;
};

}  // namespace ts
