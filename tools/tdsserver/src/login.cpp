#include "login.h"

#include "text.h"

#include <array>
#include <cstdint>

namespace tdsserver {
namespace {

std::uint32_t readU32(std::string_view p, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(p[at + static_cast<std::size_t>(i)]);
    return v;
}

std::uint16_t readU16(std::string_view p, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(p[at]) |
                                      (static_cast<unsigned char>(p[at + 1]) << 8));
}

// The UTF-16 field whose offset and length (in characters) stand at `at` in the fixed part.
std::string_view field(std::string_view payload, std::size_t at) {
    const std::size_t offset = readU16(payload, at);
    const std::size_t bytes = std::size_t{readU16(payload, at + 2)} * 2;
    if (bytes == 0)
        return {};
    if (offset > payload.size() || bytes > payload.size() - offset)
        throw ProtocolError("LOGIN7 field outside the record");
    return payload.substr(offset, bytes);
}

} // namespace

EncryptionAgreement agreeEncryption(Config::Encryption server, std::uint8_t client) {
    using E = Config::Encryption;
    // A value this server does not know, client certificates among them, cannot be served.
    if (client > encrypt::kRequired)
        return {server == E::None ? encrypt::kNotSupported : encrypt::kRequired, Wire::End};
    const bool clientInsists = client == encrypt::kOn || client == encrypt::kRequired;
    switch (server) {
    case E::None:
        // Every client hears that encryption is not supported; one that insists on it gives up,
        // the others log in in clear.
        return {encrypt::kNotSupported, clientInsists ? Wire::End : Wire::Clear};
    case E::Off:
        // Encryption is there but off: a client that cannot encrypt logs in in clear, one that
        // has it off gets its login encrypted and nothing else, one that insists gets it all.
        if (client == encrypt::kNotSupported)
            return {encrypt::kNotSupported, Wire::Clear};
        if (client == encrypt::kOff)
            return {encrypt::kOff, Wire::LoginOnly};
        return {encrypt::kOn, Wire::Full};
    case E::On:
    case E::Required:
        // Encryption is on for everyone (SQL Server knows no stronger setting, so On and
        // Required agree alike): a client that has it off is told it is required, one that
        // cannot encrypt is told so too and turned away, one that insists hears "on".
        if (client == encrypt::kNotSupported)
            return {encrypt::kRequired, Wire::End};
        if (client == encrypt::kOff)
            return {encrypt::kRequired, Wire::Full};
        return {encrypt::kOn, Wire::Full};
    }
    return {encrypt::kNotSupported, Wire::End};
}

std::optional<std::uint8_t> preLoginEncryption(std::string_view payload) {
    // Option table: (token, big-endian offset, big-endian length) until 0xFF, then the data.
    for (std::size_t at = 0;; at += 5) {
        if (at >= payload.size())
            throw ProtocolError("PRELOGIN option table without an end");
        const auto token = static_cast<std::uint8_t>(payload[at]);
        if (token == 0xFF)
            return std::nullopt;
        if (payload.size() - at < 5)
            throw ProtocolError("PRELOGIN option cut short");
        const std::size_t offset = (std::size_t{static_cast<unsigned char>(payload[at + 1])} << 8) |
                                   static_cast<unsigned char>(payload[at + 2]);
        const std::size_t length = (std::size_t{static_cast<unsigned char>(payload[at + 3])} << 8) |
                                   static_cast<unsigned char>(payload[at + 4]);
        if (offset > payload.size() || length > payload.size() - offset)
            throw ProtocolError("PRELOGIN option outside the message");
        if (token == 0x01 && length >= 1)
            return static_cast<std::uint8_t>(payload[offset]);
    }
}

std::string preLoginReply(std::uint8_t encryption) {
    // Option table (token, big-endian offset, big-endian length), 0xFF, then the data.
    struct Option {
        std::uint8_t token;
        std::string data;
    };
    const std::array<Option, 5> options = {{
        {0x00, std::string("\x10\x00\x03\xE8\x00\x00", 6)}, // version 16.0.1000, subbuild 0
        {0x01, std::string(1, static_cast<char>(encryption))},
        {0x02, std::string("\x00", 1)}, // instance: the default one
        {0x03, std::string()},          // thread id: none given
        {0x04, std::string("\x00", 1)}, // MARS off
    }};
    std::string table;
    std::string data;
    const std::size_t dataStart = options.size() * 5 + 1;
    for (const Option& o : options) {
        const std::size_t offset = dataStart + data.size();
        table.push_back(static_cast<char>(o.token));
        table.push_back(static_cast<char>(offset >> 8));
        table.push_back(static_cast<char>(offset & 0xFF));
        table.push_back(static_cast<char>(o.data.size() >> 8));
        table.push_back(static_cast<char>(o.data.size() & 0xFF));
        data += o.data;
    }
    table.push_back(static_cast<char>(0xFF));
    return table + data;
}

std::string unscramblePassword(std::string_view bytes) {
    std::string out(bytes);
    for (char& c : out) {
        const auto b = static_cast<unsigned char>(static_cast<unsigned char>(c) ^ 0xA5);
        c = static_cast<char>(((b << 4) | (b >> 4)) & 0xFF);
    }
    return out;
}

LoginRecord decodeLogin7(std::string_view payload) {
    // Checked up to ibDatabase/cchDatabase, the last field read here.
    if (payload.size() < 72)
        throw ProtocolError("LOGIN7 record too short");
    LoginRecord r;
    r.tdsVersion = readU32(payload, 4);
    r.packetSize = readU32(payload, 8);
    r.hostName = fromUtf16le(field(payload, 36));
    r.user = fromUtf16le(field(payload, 40));
    r.password = fromUtf16le(unscramblePassword(field(payload, 44)));
    r.appName = fromUtf16le(field(payload, 48));
    r.serverName = fromUtf16le(field(payload, 52));
    r.libraryName = fromUtf16le(field(payload, 60));
    r.database = fromUtf16le(field(payload, 68));
    return r;
}

} // namespace tdsserver
