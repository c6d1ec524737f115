#pragma once

// Character conversions between the UTF-8 the server keeps and what goes over the wire:
// UTF-16LE for every Unicode string of the protocol, Windows-1252 for varchar data (the code
// page of the collation the server announces).

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tdsserver {

// Appends utf8 as UTF-16LE bytes; malformed UTF-8 becomes U+FFFD. A surrogate in UTF-8's
// three-byte form (WTF-8) goes out as that lone UTF-16 unit, so that a test can store in SQLite
// what an nvarchar of SQL Server may hold (CAST(x'EDA080' AS TEXT) for U+D800).
void appendUtf16le(std::string& out, std::string_view utf8);
std::string toUtf16le(std::string_view utf8);
// Number of UTF-16 code units utf8 takes.
std::size_t utf16Length(std::string_view utf8);

// Decodes UTF-16LE bytes (an odd last byte is ignored, a lone surrogate becomes U+FFFD).
std::string fromUtf16le(const std::uint8_t* data, std::size_t bytes);
inline std::string fromUtf16le(std::string_view bytes) {
    return fromUtf16le(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

// Appends utf8 as Windows-1252; characters the code page lacks become '?', as SQL Server does
// when it stores them in a varchar column of a Latin-1 collation.
void appendCp1252(std::string& out, std::string_view utf8);
std::string cp1252ToUtf8(std::string_view bytes);

// ASCII case folding, which is how names compare under a case-insensitive collation here.
std::string asciiLower(std::string_view s);
bool equalsIgnoreCase(std::string_view a, std::string_view b);

} // namespace tdsserver
