#include "db/ValueKind.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

namespace db {

namespace {
// SQL Server's own type codes, which unixODBC's headers do not define.
constexpr int kSsXml = -152;
constexpr int kSsTime2 = -154;
constexpr int kSsTimestampOffset = -155;
constexpr int kSsVariant = -150;
} // namespace

ValueKind valueKindOf(int odbcSqlType) {
    switch (odbcSqlType) {
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR:
    case kSsXml:
        return ValueKind::Text;
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT:
        return ValueKind::Integer;
    case SQL_BIT:
        return ValueKind::Bit;
    case SQL_DECIMAL:
    case SQL_NUMERIC:
        return ValueKind::Decimal;
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
        return ValueKind::Real;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP:
        return ValueKind::Timestamp;
    case SQL_TYPE_DATE:
    case SQL_DATE:
        return ValueKind::Date;
    case SQL_TYPE_TIME:
    case SQL_TIME:
    case kSsTime2:
        return ValueKind::Time;
    case SQL_GUID:
        return ValueKind::Guid;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
        return ValueKind::Binary;
    case kSsTimestampOffset:
        return ValueKind::DateTimeOffset;
    case kSsVariant:
        return ValueKind::Variant;
    default:
        return ValueKind::Other;
    }
}

} // namespace db
