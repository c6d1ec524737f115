#pragma once

#include "db/Connection.h"
#include "db/ConnectionSettings.h"
#include "db/Progress.h"
#include "db/TableCatalogue.h"

#include <QString>
#include <QStringList>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Main {

// The value, or `fallback` when the value is NULL.
template <typename T>
T NullToDefault(const std::optional<T>& value, T fallback) {
    return value ? *value : std::move(fallback);
}

} // namespace Main

namespace CSVXML {

// Where the lines of a table's delimited text go: the options page's text, the command line's
// streaming conversion, the tests. Each line comes whole and without its line break; quoted
// fields may hold CR LF inside the line.
class ExtractSink {
public:
    virtual ~ExtractSink() = default;
    // The column names, joined by ",". Comes once, before any row.
    virtual void header(std::string_view line) = 0;
    // One row's values, joined by ",".
    virtual void row(std::string_view line) = 0;
    // The same row with the positions of its NULL values, for sinks that can tell NULL from
    // the empty text that stands for it in the line. By default the line alone.
    virtual void rowWithNulls(std::string_view line, const std::vector<bool>& nulls) {
        static_cast<void>(nulls);
        row(line);
    }
};

// The delimited text as one stream of bytes: the lines with CR LF between them and none after
// the last, as the options page holds it and `tallowby-cli extract` writes it.
class JoinedTextSink : public ExtractSink {
public:
    void header(std::string_view line) final;
    void row(std::string_view line) final;
    virtual void write(std::string_view bytes) = 0;
};

// The joined text gathered in one string.
class JoinedString final : public JoinedTextSink {
public:
    void write(std::string_view bytes) override { text.append(bytes); }
    std::string text;
};

// What an extraction had to change in the text: lone UTF-16 surrogates (half of a pair without
// its other half, which SQL Server's nchar types may hold), which are no characters and have no
// UTF-8 form. Each became U+FFFD.
struct ExtractResult {
    std::int64_t loneSurrogates = 0;
    std::int64_t firstRow = 0; // 1-based among the rows; 0 when there is none
    std::string firstColumn;   // the column's name
};

// The sentence that tells the user about them ("3 lone UTF-16 surrogates ..."); empty when there
// are none.
QString loneSurrogatesMessage(const ExtractResult& result);

// The query that reads the whole of `table`: "SELECT * FROM [schema].[name];" with every "]"
// of a name doubled, or "SELECT * FROM [name];" when the entry has no schema. Each column named
// in `variants` adds "SQL_VARIANT_PROPERTY([column], 'BaseType'), " before the "*", in order.
QString tableQuery(const db::TableEntry& table, const QStringList& variants = {});

// Reads every row of `table` over a connection of its own, opened with the upper-case
// connection string of `settings`, and hands the delimited text to `sink` line by line: the
// column names, then one line per row until the driver reports the end. A NULL is the empty
// text; a name or value holding ",", '"', CR or LF is quoted with each '"' doubled. Failures
// of the driver throw db::Error with the driver's text; the sink may have had lines by then.
// `progress` is served before each row is read (the number of rows is not known beforehand)
// and steps after each row; when it throws, the connection is let go on the way out.
ExtractResult ExtractTableText(const db::ConnectionSettings& settings, const db::TableEntry& table,
                               ExtractSink& sink, db::Progress& progress = db::noProgress(),
                               std::chrono::seconds loginTimeout = db::kDefaultLoginTimeout,
                               std::chrono::seconds queryTimeout = db::kDefaultQueryTimeout);

// The whole delimited text of `table`: the lines joined by CR LF, none after the last. On a
// failure it throws and no text exists. For callers that have no window to keep alive.
std::string ExtractTableText(const db::ConnectionSettings& settings, const db::TableEntry& table,
                             std::chrono::seconds loginTimeout = db::kDefaultLoginTimeout);

} // namespace CSVXML
