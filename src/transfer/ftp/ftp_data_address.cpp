#include "transfer/ftp/ftp_data_address.h"

#include <vector>

#include "transfer/ftp/ftp_reply.h"

namespace ts {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Reads a decimal number of at most maxDigits digits at text[pos]; -1 when there is none.
long readNumber(const std::string& text, size_t& pos, size_t maxDigits) {
    size_t begin = pos;
    long value = 0;
    while (pos < text.size() && isDigit(text[pos]) && pos - begin < maxDigits) value = value * 10 + (text[pos++] - '0');
    if (pos == begin || (pos < text.size() && isDigit(text[pos]))) return -1;
    return value;
}

[[noreturn]] void throwInvalid(const char* command, const std::string& replyText) {
    throw EFtpProtocolError(std::string("The FTP server's answer to ") + command +
                            " names no data port: " + replyText.substr(0, 200));
}

}  // namespace

std::string portCommandArgument(const SocketAddress& address) {
    std::string text;
    for (uint8_t byte : address.ipv4Bytes()) text += std::to_string(byte) + ",";
    return text + std::to_string(address.port() >> 8) + "," + std::to_string(address.port() & 0xff);
}

std::string eprtCommandArgument(const SocketAddress& address) {
    return std::string("|") + (address.isIPv4() ? "1" : "2") + "|" + address.hostText() + "|" +
           std::to_string(address.port()) + "|";
}

uint16_t parseEpsvReplyPort(const std::string& replyText) {
    // "(" d d d port d ")" where d is one delimiter character, usually "|".
    for (size_t open = replyText.find('('); open != std::string::npos; open = replyText.find('(', open + 1)) {
        if (open + 4 >= replyText.size()) break;
        char delimiter = replyText[open + 1];
        if (replyText[open + 2] != delimiter || replyText[open + 3] != delimiter) continue;
        size_t pos = open + 4;
        long port = readNumber(replyText, pos, 5);
        if (port < 1 || port > 65535 || pos + 1 >= replyText.size() || replyText[pos] != delimiter ||
            replyText[pos + 1] != ')')
            continue;
        return static_cast<uint16_t>(port);
    }
    throwInvalid("EPSV", replyText);
}

uint16_t parsePasvReplyPort(const std::string& replyText) {
    // The six numbers may or may not stand in parentheses; skip the reply code.
    for (size_t start = 3; start < replyText.size(); ++start) {
        if (!isDigit(replyText[start]) || isDigit(replyText[start - 1])) continue;
        size_t pos = start;
        std::vector<long> numbers;
        for (;;) {
            long number = readNumber(replyText, pos, 3);
            if (number < 0 || number > 255) break;
            numbers.push_back(number);
            if (numbers.size() == 6 || pos >= replyText.size() || replyText[pos] != ',') break;
            ++pos;
        }
        if (numbers.size() == 6) {
            long port = numbers[4] * 256 + numbers[5];
            if (port == 0) break;
            return static_cast<uint16_t>(port);
        }
    }
    throwInvalid("PASV", replyText);
}

}  // namespace ts
