#include "columns.h"

#include <gtest/gtest.h>
#include <optional>

using tdsserver::appendValue;
using tdsserver::ColumnType;
using tdsserver::parseDeclaredType;
using tdsserver::SqlType;
using tdsserver::Value;
using tdsserver::ValueError;

namespace {

std::string hex(const std::string& bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (const char c : bytes) {
        if (!out.empty())
            out.push_back(' ');
        out.push_back(digits[(static_cast<unsigned char>(c) >> 4) & 0xF]);
        out.push_back(digits[static_cast<unsigned char>(c) & 0xF]);
    }
    return out;
}

Value text(std::string_view s) {
    Value v;
    v.kind = Value::Kind::Text;
    v.bytes = s;
    return v;
}

Value integer(std::int64_t n) {
    Value v;
    v.kind = Value::Kind::Integer;
    v.integer = n;
    return v;
}

Value real(double d) {
    Value v;
    v.kind = Value::Kind::Real;
    v.real = d;
    return v;
}

std::string encode(const char* declared, const Value& v) {
    const auto type = parseDeclaredType(declared);
    if (!type)
        return "no type";
    std::string out;
    appendValue(out, *type, v);
    return hex(out);
}

} // namespace

TEST(DeclaredType, NamesSynonymsLengthsAndLimits) {
    struct Case {
        const char* declared;
        std::optional<ColumnType> type;
    };
    const int max = ColumnType::kMax;
    for (const Case& k : {
             Case{"int", ColumnType{SqlType::Int, 0, 0, 0}},
             Case{"INTEGER", ColumnType{SqlType::Int, 0, 0, 0}},
             Case{"  National  Character Varying ( 30 ) ", ColumnType{SqlType::NVarChar, 30, 0, 0}},
             Case{"decimal", ColumnType{SqlType::Decimal, 0, 18, 0}},
             Case{"dec(38, 38)", ColumnType{SqlType::Decimal, 0, 38, 38}},
             Case{"numeric(5)", ColumnType{SqlType::Numeric, 0, 5, 0}},
             Case{"float(24)", ColumnType{SqlType::Real, 0, 0, 0}},
             Case{"float(25)", ColumnType{SqlType::Float, 0, 0, 0}},
             Case{"double precision", ColumnType{SqlType::Float, 0, 0, 0}},
             Case{"datetime2", ColumnType{SqlType::DateTime2, 0, 0, 7}},
             Case{"time(0)", ColumnType{SqlType::Time, 0, 0, 0}},
             Case{"varchar", ColumnType{SqlType::VarChar, max, 0, 0}},
             Case{"varchar(max)", ColumnType{SqlType::VarChar, max, 0, 0}},
             Case{"nvarchar(-1)", ColumnType{SqlType::NVarChar, max, 0, 0}},
             Case{"char", ColumnType{SqlType::Char, 1, 0, 0}},
             Case{"binary(8000)", ColumnType{SqlType::Binary, 8000, 0, 0}},
             // Not SQL Server types, or out of their limits: the column goes as nvarchar(max).
             Case{"decimal(39)", std::nullopt},
             Case{"decimal(5,6)", std::nullopt},
             Case{"char(max)", std::nullopt},
             Case{"nvarchar(4001)", std::nullopt},
             Case{"varchar(0)", std::nullopt},
             Case{"datetime2(8)", std::nullopt},
             Case{"int(11)", std::nullopt},
             Case{"int unsigned", std::nullopt},
             Case{"text", std::nullopt},
             Case{"", std::nullopt},
             Case{"varchar(10", std::nullopt},
         }) {
        EXPECT_EQ(parseDeclaredType(k.declared), k.type) << "'" << k.declared << "'";
    }
}

TEST(ValueEncoding, BytesOnTheWire) {
    struct Case {
        const char* declared;
        Value value;
        const char* bytes;
    };
    for (const Case& k : {
             Case{"int", integer(-2), "04 FE FF FF FF"},
             Case{"int", Value{}, "00"},
             Case{"bigint", text(" +42 "), "08 2A 00 00 00 00 00 00 00"},
             Case{"int", real(7.0), "04 07 00 00 00"},
             Case{"bit", integer(5), "01 01"},
             Case{"bit", text("FALSE"), "01 00"},
             // Decimals round half away from zero; the sign byte is 1 for zero.
             Case{"decimal(5,2)", text("-0.005"), "05 00 01 00 00 00"},
             Case{"decimal(5,2)", text("-0.004"), "05 01 00 00 00 00"},
             Case{"decimal(5,2)", text("1e2"), "05 01 10 27 00 00"},
             Case{"decimal(5,2)", real(2.675), "05 01 0C 01 00 00"},
             Case{"decimal(20,0)", text("18446744073709551616"),
                  "0D 01 00 00 00 00 00 00 00 00 01 00 00 00"},
             Case{"numeric(5,2)", Value{}, "00"},
             // Money: four decimals, the high half first.
             Case{"money", integer(-1), "08 FF FF FF FF F0 D8 FF FF"},
             Case{"smallmoney", text("1.00005"), "04 11 27 00 00"},
             Case{"real", real(0.5), "04 00 00 00 3F"},
             Case{"float", text("2"), "08 00 00 00 00 00 00 00 40"},
             Case{"date", text("0001-01-02"), "03 01 00 00"},
             Case{"date", text("2000-01-01 10:00"), "03 07 24 0B"},
             // datetime keeps 1/300 s; .999 rounds to the next day, as on SQL Server.
             Case{"datetime", text("1900-01-01 00:00:01"), "08 00 00 00 00 2C 01 00 00"},
             Case{"datetime", text("1899-12-31 23:59:59.999"), "08 00 00 00 00 00 00 00 00"},
             Case{"smalldatetime", text("1900-01-01 00:00:30"), "04 00 00 01 00"},
             Case{"datetime2(0)", text("0001-01-01 23:59:59.5"), "06 00 00 00 01 00 00"},
             Case{"datetime2(7)", text("0001-01-01T00:00:00.0000001"),
                  "08 01 00 00 00 00 00 00 00"},
             Case{"time(1)", text("00:00:01.25"), "03 0D 00 00"},
             Case{"uniqueidentifier", text("{00112233-4455-6677-8899-AABBCCDDEEFF}"),
                  "10 33 22 11 00 55 44 77 66 88 99 AA BB CC DD EE FF"},
             Case{"char(3)", text("a"), "03 00 61 20 20"},
             Case{"varchar(5)", text("€é"), "02 00 80 E9"},
             Case{"varchar(5)", text("日"), "01 00 3F"},
             Case{"varchar(5)", Value{}, "FF FF"},
             Case{"nchar(2)", text("x"), "04 00 78 00 20 00"},
             Case{"nvarchar(2)", text("😀"), "04 00 3D D8 00 DE"},
             Case{"nvarchar(10)", integer(12), "04 00 31 00 32 00"},
             Case{"nvarchar(max)", text("ab"),
                  "04 00 00 00 00 00 00 00 04 00 00 00 61 00 62 00 00 00 00 00"},
             Case{"nvarchar(max)", text(""), "00 00 00 00 00 00 00 00 00 00 00 00"},
             Case{"nvarchar(max)", Value{}, "FF FF FF FF FF FF FF FF"},
             Case{"binary(3)", text("a"), "03 00 61 00 00"},
         }) {
        EXPECT_EQ(encode(k.declared, k.value), k.bytes) << k.declared;
    }
}

TEST(ValueEncoding, ValuesOutsideTheTypeAreErrorsWithSqlServerNumbers) {
    struct Case {
        const char* declared;
        Value value;
        int number;
    };
    for (const Case& k : {
             Case{"int", integer(2147483648), 220},
             Case{"tinyint", integer(-1), 220},
             Case{"bigint", text("9223372036854775808"), 8115},
             Case{"int", text("12abc"), 245},
             Case{"int", real(0.5), 245},
             Case{"decimal(5,2)", text("1000"), 8115},
             Case{"decimal(5,2)", text("1e400"), 8115},
             Case{"decimal(5,2)", text("1.2.3"), 245},
             Case{"money", text("922337203685478"), 8115},
             Case{"smallmoney", integer(214749), 8115},
             Case{"real", real(1e300), 8115},
             Case{"date", text("2023-13-01"), 241},
             Case{"date", text("2023-02-29"), 241},
             Case{"date", integer(20230101), 245},
             Case{"time", text("24:00:00"), 241},
             Case{"datetime", text("9999-12-31 23:59:59.999"), 242},
             Case{"smalldatetime", text("2079-06-07"), 242},
             Case{"uniqueidentifier", text("00112233-4455-6677-8899-AABBCCDDEEF"), 8169},
             Case{"char(2)", text("abc"), 8152},
             Case{"nvarchar(1)", text("😀"), 8152}, // two UTF-16 units
             Case{"varbinary(1)", text("ab"), 8152},
             Case{"varbinary(4)", integer(1), 245},
         }) {
        try {
            const std::string bytes = encode(k.declared, k.value);
            ADD_FAILURE() << k.declared << " accepted the value as " << bytes;
        } catch (const ValueError& e) {
            EXPECT_EQ(e.number(), k.number) << k.declared << ": " << e.what();
        }
    }
}
