#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The text forms of database values in the delimited text: locale-independent, and the forms
// that XML readers (xs:integer, xs:decimal, xs:double, xs:dateTime, ...) expect.
namespace ValueText {

void appendInteger(std::string& out, std::int64_t value);

// The shortest text that reads back to the same value ("0.1", "1e+20", "-2.5").
void appendDouble(std::string& out, double value);
void appendFloat(std::string& out, float value);

// YYYY-MM-DD
void appendDate(std::string& out, int year, int month, int day);

// YYYY-MM-DDThh:mm:ss, then "." and `fractionDigits` digits of the fraction (none for 0).
// `nanoseconds` is cut to that many digits; datetime's 1/300-second steps arrive rounded to
// nanoseconds, so `roundToDigits` rounds them instead (.997, not .996).
void appendDateTime(std::string& out, int year, int month, int day, int hour, int minute,
                    int second, std::uint32_t nanoseconds, int fractionDigits,
                    bool roundToDigits = false);

// A date and time as the driver writes it, "YYYY-MM-DD hh:mm:ss[.fffffff][ +hh:mm]", in the
// form of xs:dateTime: "YYYY-MM-DDThh:mm:ss[.fffffff][+hh:mm]", with exactly `fractionDigits`
// digits of fraction (cut or padded with zeros; a negative count keeps the driver's digits).
// Returns false, appending nothing, for text of any other form.
bool appendDriverDateTime(std::string& out, std::string_view driverText, int fractionDigits);

// A decimal as the driver gives it ("-12.50", ".5", "-.5"), in the canonical form with a digit
// before the point: "-12.50", "0.5", "-0.5". The number of decimals is kept.
void appendDecimal(std::string& out, std::string_view driverText);

// 16 bytes in SQL Server's GUID layout, upper-case with hyphens.
void appendGuid(std::string& out, const unsigned char (&bytes)[16]);

void appendBase64(std::string& out, std::string_view bytes);

// UTF-16 text in UTF-8. A lone surrogate (half of a pair without its other half, which SQL
// Server's nchar types may hold) has no UTF-8 form and becomes U+FFFD; returns how many did.
std::int64_t appendUtf8(std::string& out, std::u16string_view text);

} // namespace ValueText
