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

std::string preLoginReply() {
    // Option table (token, big-endian offset, big-endian length), 0xFF, then the data.
    struct Option {
        std::uint8_t token;
        std::string data;
    };
    const std::array<Option, 5> options = {{
        {0x00, std::string("\x10\x00\x03\xE8\x00\x00", 6)}, // version 16.0.1000, subbuild 0
        {0x01, std::string("\x02", 1)},                     // encryption: not supported
        {0x02, std::string("\x00", 1)},                     // instance: the default one
        {0x03, std::string()},                              // thread id: none given
        {0x04, std::string("\x00", 1)},                     // MARS off
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
