#pragma once

#include "OutputStream.h"
#include "XmlFile.h"
#include "convert/ConvertTextToXml.h"
#include "convert/ExtractTableText.h"

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
    void row(std::string_view line) override { converter_.addLine(line); }
    void rowWithNulls(std::string_view line, const std::vector<bool>& nulls) override {
        converter_.addLine(line, nulls);
    }
    // The closing tag and the end of the file.
    void close() { converter_.finish(); }
    const RefusedCharacters& refusedCharacters() const { return converter_.refusedCharacters(); }

private:
    XmlFileSink file_;
    XmlConverter converter_;
};

} // namespace CSVXML
