#include "tokens.h"

#include "channel.h"
#include "text.h"

#include <algorithm>

namespace tdsserver {
namespace {

// Cuts utf8 so that it takes at most maxUnits UTF-16 code units, on a character boundary.
std::string limitUnits(std::string_view utf8, std::size_t maxUnits) {
    std::string wide = toUtf16le(utf8);
    if (wide.size() > maxUnits * 2) {
        std::size_t cut = maxUnits * 2;
        const auto high = static_cast<unsigned char>(wide[cut - 1]);
        if (high >= 0xD8 && high <= 0xDB) // do not split a surrogate pair
            cut -= 2;
        wide.resize(cut);
    }
    return wide;
}

void writeMessage(Channel& out, std::uint32_t tds, std::uint8_t tokenType, const ServerMessage& m) {
    const std::string text = limitUnits(m.text, 0xFFFF);
    std::string body;
    for (int i = 0; i < 4; ++i)
        body.push_back(static_cast<char>((static_cast<std::uint32_t>(m.number) >> (8 * i)) & 0xFF));
    body.push_back(static_cast<char>(m.state));
    body.push_back(static_cast<char>(m.severity));
    const std::size_t units = text.size() / 2;
    body.push_back(static_cast<char>(units & 0xFF));
    body.push_back(static_cast<char>(units >> 8));
    body += text;
    appendBVarchar(body, kServerName);
    appendBVarchar(body, m.procedure);
    for (int i = 0; i < (olderThan(tds, kTds72) ? 2 : 4); ++i)
        body.push_back(static_cast<char>((static_cast<std::uint32_t>(m.line) >> (8 * i)) & 0xFF));
    // The token length is 16 bits; a message too long for it is cut rather than corrupting
    // the stream.
    if (body.size() > 0xFFFF)
        return writeMessage(out, tds, tokenType,
                            ServerMessage{m.number, m.state, m.severity,
                                          m.text.substr(0, m.text.size() / 2), m.procedure,
                                          m.line});
    out.putByte(tokenType);
    out.putU16(static_cast<std::uint16_t>(body.size()));
    out.put(body);
}

} // namespace

std::uint32_t agreedTdsVersion(std::uint32_t requested) {
    switch (requested >> 24) {
    case 0x71:
        return kTds71;
    case 0x72:
        return kTds72;
    case 0x73:
        return requested == 0x730A0003 ? requested : kTds73;
    default:
        return (requested >> 24) > 0x74 ? kTds74 : (requested >> 24) < 0x71 ? kTds71 : kTds74;
    }
}

void appendBVarchar(std::string& out, std::string_view utf8) {
    const std::string wide = limitUnits(utf8, 255);
    out.push_back(static_cast<char>(wide.size() / 2));
    out += wide;
}

void writeDone(Channel& out, std::uint32_t tds, std::uint8_t tokenType, std::uint16_t status,
               std::uint16_t command, std::uint64_t rows) {
    out.putByte(tokenType);
    out.putU16(status);
    out.putU16(command);
    if (olderThan(tds, kTds72))
        out.putU32(static_cast<std::uint32_t>(std::min<std::uint64_t>(rows, 0xFFFFFFFF)));
    else
        out.putU64(rows);
}

void writeError(Channel& out, std::uint32_t tds, const ServerMessage& message) {
    writeMessage(out, tds, token::kError, message);
}

void writeInfo(Channel& out, std::uint32_t tds, const ServerMessage& message) {
    writeMessage(out, tds, token::kInfo, message);
}

void writeTransactionChange(Channel& out, std::uint8_t type, std::uint64_t descriptor) {
    out.putByte(token::kEnvChange);
    out.putU16(1 + 1 + 8 + 1);
    out.putByte(type);
    std::string body;
    if (type == 8) {
        body.push_back(8);
        for (int i = 0; i < 8; ++i)
            body.push_back(static_cast<char>((descriptor >> (8 * i)) & 0xFF));
        body.push_back(0);
    } else {
        body.push_back(0);
        body.push_back(8);
        for (int i = 0; i < 8; ++i)
            body.push_back(static_cast<char>((descriptor >> (8 * i)) & 0xFF));
    }
    out.put(body);
}

void writeEnvChange(Channel& out, std::uint8_t type, std::string_view newValue,
                    std::string_view oldValue) {
    std::string body;
    body.push_back(static_cast<char>(type));
    appendBVarchar(body, newValue);
    appendBVarchar(body, oldValue);
    out.putByte(token::kEnvChange);
    out.putU16(static_cast<std::uint16_t>(body.size()));
    out.put(body);
}

void writeCollationChange(Channel& out) {
    out.putByte(token::kEnvChange);
    out.putU16(1 + 1 + sizeof kCollation + 1);
    out.putByte(7);
    out.putByte(sizeof kCollation);
    out.put(std::string_view(kCollation, sizeof kCollation));
    out.putByte(0);
}

void writeLoginAck(Channel& out, std::uint32_t tds) {
    std::string body;
    body.push_back(1);           // interface: SQL
    for (int i = 3; i >= 0; --i) // the version goes high byte first
        body.push_back(static_cast<char>((tds >> (8 * i)) & 0xFF));
    appendBVarchar(body, "Microsoft SQL Server");
    body += std::string_view("\x10\x00\x03\xE8", 4); // 16.0.1000
    out.putByte(token::kLoginAck);
    out.putU16(static_cast<std::uint16_t>(body.size()));
    out.put(body);
}

void writeReturnStatus(Channel& out, std::int32_t status) {
    out.putByte(token::kReturnStatus);
    out.putU32(static_cast<std::uint32_t>(status));
}

void writeReturnValue(Channel& out, std::uint32_t tds, std::string_view name, std::int32_t value) {
    out.putByte(token::kReturnValue);
    out.putU16(0); // ordinal
    std::string b;
    appendBVarchar(b, name);
    out.put(b);
    out.putByte(0x01); // output parameter
    if (olderThan(tds, kTds72))
        out.putU16(0); // user type
    else
        out.putU32(0);
    out.putU16(0);     // flags
    out.putByte(0x26); // INTN, four bytes
    out.putByte(4);
    out.putByte(4);
    out.putU32(static_cast<std::uint32_t>(value));
}

} // namespace tdsserver
