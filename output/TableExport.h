#pragma once

#include "OutputStream.h"
#include "XmlFile.h"
#include "convert/ConvertTextToXml.h"
#include "convert/ExtractTableText.h"

#include <QString>
#include <chrono>
#include <cstdint>
#include <string_view>
#include <vector>

namespace CSVXML {

// A table's XML streamed from the database into a file: each line of its delimited text goes
// straight into the conversion as the extraction gives it, and its XML straight out, so memory
// stays flat however large the table. `tallowby-cli export` and the wizard's save without a
// preview both write through it, so their bytes cannot drift apart.
class XmlExportSink final : public ExtractSink {
public:
    XmlExportSink(const ConversionOptions& options, OutputStream& out)
        : file_(out), converter_(options, file_) {}
    void header(std::string_view line) override { converter_.addLine(line); }
    void row(std::string_view line) override {
        converter_.addLine(line);
        ++rows_;
    }
    void rowWithNulls(std::string_view line, const std::vector<bool>& nulls) override {
        converter_.addLine(line, nulls);
        ++rows_;
    }
    // The closing tag and the end of the file.
    void close() { converter_.finish(); }
    const RefusedCharacters& refusedCharacters() const { return converter_.refusedCharacters(); }
    std::int64_t rows() const { return rows_; }

private:
    XmlFileSink file_;
    XmlConverter converter_;
    std::int64_t rows_ = 0;
};

// What a table's export wrote, and what in it a strict reader or UTF-8 could not take.
struct TableExportResult {
    std::int64_t rows = 0;
    std::int64_t bytes = 0;
    RefusedCharacters refused; // written as character references
    ExtractResult extracted;   // lone surrogates, written as U+FFFD
};

// The one export of a table to a file: `table` read over a connection of its own and its XML
// streamed into `out`, which the caller has opened and commits (or drops) once it has weighed
// the result. Failures of the driver throw db::Error; `progress` is the extraction's.
TableExportResult ExportTable(const db::ConnectionSettings& settings, const db::TableEntry& table,
                              const ConversionOptions& options, OutputStream& out,
                              db::Progress& progress = db::noProgress(),
                              std::chrono::seconds loginTimeout = db::kDefaultLoginTimeout,
                              std::chrono::seconds queryTimeout = db::kDefaultQueryTimeout);

// The warning about the characters that XML 1.0 cannot hold: how many, and where the first is.
QString refusedCharactersMessage(const RefusedCharacters& refused);

} // namespace CSVXML
