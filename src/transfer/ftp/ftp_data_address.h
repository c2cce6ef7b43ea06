#pragma once
// The texts that set up FTP data connections: the PORT argument the client sends, and the
// server's answers to EPSV and PASV.
#include <cstdint>
#include <string>

#include "platform/tcp_socket.h"

namespace ts {

// "192,168,1,5,19,137" for 192.168.1.5 port 5001. address must be IPv4.
std::string portCommandArgument(const SocketAddress& address);

// "|2|2001:db8::1|5001|" for EPRT (RFC 2428); "|1|...|" for IPv4.
std::string eprtCommandArgument(const SocketAddress& address);

// The port of "229 Entering Extended Passive Mode (|||6446|)". Throws EFtpProtocolError.
uint16_t parseEpsvReplyPort(const std::string& replyText);

// The port of "227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)"; the address part is not
// used, the data connection goes to the control connection's server. Throws EFtpProtocolError.
uint16_t parsePasvReplyPort(const std::string& replyText);

}  // namespace ts
