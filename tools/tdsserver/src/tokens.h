#pragma once

// The server's token stream: the tokens other than column metadata and rows, written into the
// message a Channel is building.

#include <cstdint>
#include <string>
#include <string_view>

namespace tdsserver {

class Channel;

// TDS versions as the LOGIN7 record and LOGINACK carry them.
inline constexpr std::uint32_t kTds71 = 0x71000001;
inline constexpr std::uint32_t kTds72 = 0x72090002;
inline constexpr std::uint32_t kTds73 = 0x730B0003;
inline constexpr std::uint32_t kTds74 = 0x74000004;

// Whether a session of version `tds` is older than `version` (7.3 comes in two revisions).
constexpr bool olderThan(std::uint32_t tds, std::uint32_t version) {
    return (tds >> 24) < (version >> 24);
}

// The version a session speaks with a client that asked for `requested`: the same from 7.1 to
// 7.4, 7.4 for a newer client and 7.1, the oldest this server speaks, for an older one.
std::uint32_t agreedTdsVersion(std::uint32_t requested);

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

// The tokens as a client of TDS version `tds` reads them: a row count of four bytes in DONE and a
// line number of two in INFO and ERROR below 7.2.
void writeDone(Channel& out, std::uint32_t tds, std::uint8_t token, std::uint16_t status,
               std::uint16_t command, std::uint64_t rows);
void writeError(Channel& out, std::uint32_t tds, const ServerMessage& message);
void writeInfo(Channel& out, std::uint32_t tds, const ServerMessage& message);
// ENVCHANGE records whose values are strings: 1 database, 2 language, 4 packet size.
void writeEnvChange(Channel& out, std::uint8_t type, std::string_view newValue,
                    std::string_view oldValue);
void writeCollationChange(Channel& out);
void writeLoginAck(Channel& out, std::uint32_t tds);
void writeReturnStatus(Channel& out, std::int32_t status);
// An output parameter of type int, as a procedure returns it (RETURNVALUE).
void writeReturnValue(Channel& out, std::uint32_t tds, std::string_view name, std::int32_t value);
// ENVCHANGE of a transaction (TDS 7.2 on): 8 begun, 9 committed, 10 rolled back; a descriptor of
// 8 bytes goes in as the new value (begin) or the old one (commit and rollback).
void writeTransactionChange(Channel& out, std::uint8_t type, std::uint64_t descriptor);

// Appends a B_VARCHAR (one-byte length in characters, UTF-16LE), cut at 255 characters.
void appendBVarchar(std::string& out, std::string_view utf8);

} // namespace tdsserver
