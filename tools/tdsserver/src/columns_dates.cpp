// Dates and times: SQLite's text forms read, and written as date, time, datetime,
// smalldatetime, datetime2 and datetimeoffset, or as the text older clients get for them.

#include "columns_detail.h"

#include <array>
#include <cstdint>
#include <string>

namespace tdsserver::detail {
namespace {

struct DateTimeValue {
    std::int64_t days = 0;        // since 0001-01-01
    std::int64_t nanoseconds = 0; // since midnight
    int offsetMinutes = 0;        // datetimeoffset: local time minus UTC
};

std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468; // days since 1970-01-01
}

const std::int64_t kDay1 = daysFromCivil(1, 1, 1);
const std::int64_t kDay1900 = daysFromCivil(1900, 1, 1) - daysFromCivil(1, 1, 1);

bool readNumber(std::string_view s, std::size_t& i, std::size_t count, int& out) {
    if (i + count > s.size())
        return false;
    out = 0;
    for (std::size_t k = 0; k < count; ++k) {
        const char c = s[i + k];
        if (c < '0' || c > '9')
            return false;
        out = out * 10 + (c - '0');
    }
    i += count;
    return true;
}

bool parseTimeOfDay(std::string_view s, std::size_t& i, std::int64_t& nanos) {
    int h = 0, m = 0, sec = 0;
    if (!readNumber(s, i, 2, h) || i >= s.size() || s[i++] != ':' || !readNumber(s, i, 2, m))
        return false;
    std::int64_t fraction = 0;
    if (i < s.size() && s[i] == ':') {
        ++i;
        if (!readNumber(s, i, 2, sec))
            return false;
        if (i < s.size() && s[i] == '.') {
            ++i;
            std::int64_t scale = 100000000;
            std::size_t digits = 0;
            while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
                if (digits < 9)
                    fraction += (s[i] - '0') * scale;
                scale /= 10;
                ++digits;
                ++i;
            }
            if (digits == 0)
                return false;
        }
    }
    if (h > 23 || m > 59 || sec > 59)
        return false;
    nanos = ((std::int64_t{h} * 60 + m) * 60 + sec) * 1000000000 + fraction;
    return true;
}

// "+hh:mm", "-hh:mm" or "Z", after optional blanks; SQL Server takes offsets up to 14 hours.
bool parseOffset(std::string_view s, std::size_t& i, int& minutes) {
    while (i < s.size() && s[i] == ' ')
        ++i;
    if (i < s.size() && (s[i] == 'Z' || s[i] == 'z')) {
        ++i;
        minutes = 0;
        return true;
    }
    if (i >= s.size() || (s[i] != '+' && s[i] != '-'))
        return false;
    const bool negative = s[i++] == '-';
    int h = 0, m = 0;
    if (!readNumber(s, i, 2, h) || i >= s.size() || s[i++] != ':' || !readNumber(s, i, 2, m) ||
        m > 59 || h * 60 + m > 14 * 60)
        return false;
    minutes = negative ? -(h * 60 + m) : h * 60 + m;
    return true;
}

bool parseDateTime(std::string_view text, DateTimeValue& out, SqlType target) {
    const bool timeOnly = target == SqlType::Time;
    const bool withOffset = target == SqlType::DateTimeOffset;
    const std::string_view s = trimmed(text);
    std::size_t i = 0;
    if (timeOnly && s.size() >= 3 && s[2] == ':') {
        out.days = 0;
        return parseTimeOfDay(s, i, out.nanoseconds) && i == s.size();
    }
    int y = 0, m = 0, d = 0;
    if (!readNumber(s, i, 4, y) || i >= s.size() || s[i++] != '-' || !readNumber(s, i, 2, m) ||
        i >= s.size() || s[i++] != '-' || !readNumber(s, i, 2, d))
        return false;
    static constexpr std::array<int, 12> kMonthDays = {31, 29, 31, 30, 31, 30,
                                                       31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    if (y < 1 || m < 1 || m > 12 || d < 1 || d > kMonthDays[static_cast<std::size_t>(m - 1)] ||
        (m == 2 && d == 29 && !leap))
        return false;
    out.days = daysFromCivil(y, static_cast<unsigned>(m), static_cast<unsigned>(d)) - kDay1;
    out.nanoseconds = 0;
    out.offsetMinutes = 0;
    if (i == s.size())
        return true;
    if (s[i] != ' ' && s[i] != 'T')
        return false;
    ++i;
    if (!parseTimeOfDay(s, i, out.nanoseconds))
        return false;
    if (withOffset && i < s.size() && !parseOffset(s, i, out.offsetMinutes))
        return false;
    return i == s.size();
}

DateTimeValue toDateTime(const Value& v, SqlType target) {
    DateTimeValue dt;
    if (v.kind != Value::Kind::Text || !parseDateTime(v.bytes, dt, target)) {
        if (v.kind == Value::Kind::Text)
            throw ValueError(241, "Conversion failed when converting date and/or time from "
                                  "character string.");
        conversionFailed(v, target);
    }
    return dt;
}

std::int64_t pow10(int n) {
    std::int64_t p = 1;
    while (n-- > 0)
        p *= 10;
    return p;
}

int timeBytes(int scale) {
    return scale <= 2 ? 3 : scale <= 4 ? 4 : 5;
}

// Time of day in units of 10^-scale seconds, rounded; a carry into the next day moves days.
std::int64_t timeUnits(DateTimeValue& dt, int scale) {
    const std::int64_t divisor = pow10(9 - scale);
    std::int64_t units = (dt.nanoseconds + divisor / 2) / divisor;
    if (units >= 86400 * pow10(scale)) {
        units = 0;
        ++dt.days;
    }
    return units;
}

constexpr std::int64_t kMaxDay = 3652058; // 9999-12-31

[[noreturn]] void outOfRange(SqlType type) {
    throw ValueError(242, "The conversion of a varchar data type to a " +
                              std::string(typeName(type)) +
                              " data type resulted in an out-of-range value.");
}

void civilFromDays(std::int64_t days, int& y, int& m, int& d) {
    const std::int64_t z = days + kDay1 + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2));
}

void appendTwo(std::string& out, int n) {
    out.push_back(static_cast<char>('0' + n / 10));
    out.push_back(static_cast<char>('0' + n % 10));
}

} // namespace

int dateTimeTextLength(const ColumnType& t) {
    const int time = t.scale == 0 ? 8 : 9 + t.scale;
    switch (t.type) {
    case SqlType::Date:
        return 10;
    case SqlType::Time:
        return time;
    case SqlType::DateTime2:
        return 11 + time;
    default: // datetimeoffset
        return 11 + time + 7;
    }
}

std::string dateTimeText(const ColumnType& t, const Value& v) {
    DateTimeValue dt = toDateTime(v, t.type);
    std::string out;
    const std::int64_t units = t.type == SqlType::Date ? 0 : timeUnits(dt, t.scale);
    if (dt.days > kMaxDay)
        outOfRange(t.type);
    if (t.type != SqlType::Time) {
        int y = 0, m = 0, d = 0;
        civilFromDays(dt.days, y, m, d);
        out += std::to_string(10000 + y).substr(1);
        out.push_back('-');
        appendTwo(out, m);
        out.push_back('-');
        appendTwo(out, d);
        if (t.type == SqlType::Date)
            return out;
        out.push_back(' ');
    }
    const std::int64_t perSecond = pow10(t.scale);
    const std::int64_t seconds = units / perSecond;
    appendTwo(out, static_cast<int>(seconds / 3600));
    out.push_back(':');
    appendTwo(out, static_cast<int>(seconds / 60 % 60));
    out.push_back(':');
    appendTwo(out, static_cast<int>(seconds % 60));
    if (t.scale > 0) {
        out.push_back('.');
        out += std::to_string(perSecond + units % perSecond).substr(1);
    }
    if (t.type == SqlType::DateTimeOffset) {
        const int offset = dt.offsetMinutes < 0 ? -dt.offsetMinutes : dt.offsetMinutes;
        out += dt.offsetMinutes < 0 ? " -" : " +";
        appendTwo(out, offset / 60);
        out.push_back(':');
        appendTwo(out, offset % 60);
    }
    return out;
}

void appendDateTimeValue(std::string& out, const ColumnType& t, const Value& v) {
    DateTimeValue dt = toDateTime(v, t.type);
    switch (t.type) {
    case SqlType::Date:
        out.push_back(3);
        putLE(out, static_cast<std::uint64_t>(dt.days), 3);
        return;
    case SqlType::Time: {
        const std::int64_t units = timeUnits(dt, t.scale);
        out.push_back(static_cast<char>(timeBytes(t.scale)));
        putLE(out, static_cast<std::uint64_t>(units), timeBytes(t.scale));
        return;
    }
    case SqlType::DateTime2: {
        const std::int64_t units = timeUnits(dt, t.scale);
        if (dt.days > kMaxDay)
            outOfRange(t.type);
        out.push_back(static_cast<char>(timeBytes(t.scale) + 3));
        putLE(out, static_cast<std::uint64_t>(units), timeBytes(t.scale));
        putLE(out, static_cast<std::uint64_t>(dt.days), 3);
        return;
    }
    case SqlType::DateTimeOffset: {
        // The date and time go in UTC.
        std::int64_t units = timeUnits(dt, t.scale);
        const std::int64_t perDay = 86400 * pow10(t.scale);
        units -= std::int64_t{dt.offsetMinutes} * 60 * pow10(t.scale);
        if (units < 0) {
            units += perDay;
            --dt.days;
        } else if (units >= perDay) {
            units -= perDay;
            ++dt.days;
        }
        if (dt.days < 0 || dt.days > kMaxDay)
            outOfRange(t.type);
        out.push_back(static_cast<char>(timeBytes(t.scale) + 5));
        putLE(out, static_cast<std::uint64_t>(units), timeBytes(t.scale));
        putLE(out, static_cast<std::uint64_t>(dt.days), 3);
        putLE(out, static_cast<std::uint16_t>(static_cast<std::int16_t>(dt.offsetMinutes)), 2);
        return;
    }
    case SqlType::DateTime: {
        // 1/300 of a second, rounded as SQL Server rounds.
        std::int64_t ticks = (dt.nanoseconds * 3 + 5000000) / 10000000;
        if (ticks >= 300LL * 86400) {
            ticks = 0;
            ++dt.days;
        }
        const std::int64_t days = dt.days - kDay1900;
        if (dt.days < daysFromCivil(1753, 1, 1) - kDay1 || dt.days > kMaxDay)
            outOfRange(t.type);
        out.push_back(8);
        putLE(out, static_cast<std::uint32_t>(static_cast<std::int32_t>(days)), 4);
        putLE(out, static_cast<std::uint64_t>(ticks), 4);
        return;
    }
    case SqlType::SmallDateTime: {
        std::int64_t minutes = (dt.nanoseconds + 30000000000LL) / 60000000000LL;
        if (minutes >= 1440) {
            minutes = 0;
            ++dt.days;
        }
        const std::int64_t days = dt.days - kDay1900;
        if (days < 0 || days > 65535)
            outOfRange(t.type);
        out.push_back(4);
        putLE(out, static_cast<std::uint64_t>(days), 2);
        putLE(out, static_cast<std::uint64_t>(minutes), 2);
        return;
    }
    default:
        return;
    }
}

} // namespace tdsserver::detail
