#pragma once

// The two messages before a session: PRELOGIN and LOGIN7.

#include "tdsserver/server.h"

#include <stdexcept>
#include <string>
#include <string_view>

namespace tdsserver {

// A client message that does not follow the protocol.
class ProtocolError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The payload of the PRELOGIN answer: version 16.0.1000, encryption not supported (so the
// session stays plain text), no instance, no MARS.
std::string preLoginReply();

// Decodes a LOGIN7 payload; throws ProtocolError when an offset or length points outside it.
LoginRecord decodeLogin7(std::string_view payload);

// Undoes the password scrambling of LOGIN7 (each byte nibble-swapped, then XORed with 0xA5).
std::string unscramblePassword(std::string_view bytes);

} // namespace tdsserver
