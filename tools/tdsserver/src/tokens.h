#pragma once

// The server's token stream: the tokens other than column metadata and rows, written into the
// message a Channel is building.

#include <cstdint>
#include <string>
#include <string_view>

namespace tdsserver {

class Channel;

namespace token {
inline constexpr std::uint8_t kColMetadata = 0x81;
inline constexpr std::uint8_t kReturnStatus = 0x79;
inline constexpr std::uint8_t kReturnValue = 0xAC;
inline constexpr std::uint8_t kError = 0xAA;
inline constexpr std::uint8_t kInfo = 0xAB;
inline constexpr std::uint8_t kLoginAck = 0xAD;
inline constexpr std::uint8_t kRow = 0xD1;
inline constexpr std::uint8_t kEnvChange = 0xE3;
inline constexpr std::uint8_t kDone = 0xFD;
inline constexpr std::uint8_t kDoneProc = 0xFE;
inline constexpr std::uint8_t kDoneInProc = 0xFF;
} // namespace token

namespace done {
inline constexpr std::uint16_t kFinal = 0x00;
inline constexpr std::uint16_t kMore = 0x01;
inline constexpr std::uint16_t kError = 0x02;
inline constexpr std::uint16_t kCount = 0x10;
inline constexpr std::uint16_t kAttention = 0x20;
} // namespace done

// SQL_Latin1_General_CP1_CI_AS: LCID 0x0409, case-insensitive, sort order 52 (code page 1252).
inline constexpr char kCollation[5] = {0x09, 0x04, static_cast<char>(0xD0), 0x00, 0x34};

inline constexpr std::string_view kServerName = "TALLOWBY-TDS";

struct ServerMessage {
    std::int32_t number = 0;
    std::uint8_t state = 1;
    std::uint8_t severity = 16;
    std::string text;
    std::string procedure;
    std::int32_t line = 1;
};

void writeDone(Channel& out, std::uint8_t token, std::uint16_t status, std::uint16_t command,
               std::uint64_t rows);
void writeError(Channel& out, const ServerMessage& message);
void writeInfo(Channel& out, const ServerMessage& message);
// ENVCHANGE records whose values are strings: 1 database, 2 language, 4 packet size.
void writeEnvChange(Channel& out, std::uint8_t type, std::string_view newValue,
                    std::string_view oldValue);
void writeCollationChange(Channel& out);
void writeLoginAck(Channel& out);
void writeReturnStatus(Channel& out, std::int32_t status);
// An output parameter of type int, as a procedure returns it (RETURNVALUE).
void writeReturnValue(Channel& out, std::string_view name, std::int32_t value);

// Appends a B_VARCHAR (one-byte length in characters, UTF-16LE), cut at 255 characters.
void appendBVarchar(std::string& out, std::string_view utf8);

} // namespace tdsserver
