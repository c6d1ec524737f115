#pragma once

// The two messages before a session: PRELOGIN and LOGIN7.

#include "tdsserver/server.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tdsserver {

// A client message that does not follow the protocol.
class ProtocolError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The values of PRELOGIN's ENCRYPTION option.
namespace encrypt {
inline constexpr std::uint8_t kOff = 0x00;          // can encrypt; only the login, unless asked
inline constexpr std::uint8_t kOn = 0x01;           // wants everything encrypted
inline constexpr std::uint8_t kNotSupported = 0x02; // cannot encrypt
inline constexpr std::uint8_t kRequired = 0x03;     // insists on everything encrypted
} // namespace encrypt

// How a connection goes on once the PRELOGIN exchange is over.
enum class Wire {
    Clear,     // no TLS at all
    LoginOnly, // TLS for the client's LOGIN7 packet only, then clear again
    Full,      // TLS for everything after the handshake
    End,       // the two cannot agree: the answer goes out, then the connection ends
};

struct EncryptionAgreement {
    std::uint8_t answer; // the ENCRYPTION value of the server's PRELOGIN answer
    Wire wire;
};

// What a server set to `server` answers a client that sent `client`, as SQL Server decides it.
EncryptionAgreement agreeEncryption(Config::Encryption server, std::uint8_t client);

// The ENCRYPTION value of a client's PRELOGIN; nullopt when it has none. Throws ProtocolError
// when the option table points outside the payload or has no end.
std::optional<std::uint8_t> preLoginEncryption(std::string_view payload);

// The payload of the PRELOGIN answer: version 16.0.1000, the given ENCRYPTION value, no
// instance, no MARS.
std::string preLoginReply(std::uint8_t encryption);

// Decodes a LOGIN7 payload; throws ProtocolError when an offset or length points outside it.
LoginRecord decodeLogin7(std::string_view payload);

// Undoes the password scrambling of LOGIN7 (each byte nibble-swapped, then XORed with 0xA5).
std::string unscramblePassword(std::string_view bytes);

} // namespace tdsserver
