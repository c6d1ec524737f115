#pragma once

#include "ConversionOptions.h"
#include "db/Progress.h"

#include <cstdint>
#include <memory>
#include <string_view>

namespace CSVXML {

// How large the XML of a delimited text is, before any of it is kept.
struct XmlSize {
    std::uint64_t bytes = 0;      // the XML text, without the file's closing CR LF
    std::uint64_t lineBreaks = 0; // its LFs: the lines of the text, less one
    std::int64_t rows = 0;        // the rows of the delimited text
};

// Counts the XML that ConvertTextToXml makes of `text` with `options`, exactly, in one pass of
// the same conversion whose output is counted and dropped. `progress` is served as the
// conversion serves it.
XmlSize MeasureXml(std::string_view text, const ConversionOptions& options,
                   db::Progress& progress = db::noProgress());

// The same count for a delimited text that comes line by line, as an extraction gives it: each
// line whole, without its line break. Fed the lines of a text, it gives what MeasureXml gives
// for that text, so the XML can be measured while the rows arrive.
class XmlMeasure {
public:
    explicit XmlMeasure(const ConversionOptions& options);
    ~XmlMeasure();
    XmlMeasure(const XmlMeasure&) = delete;
    XmlMeasure& operator=(const XmlMeasure&) = delete;

    void addLine(std::string_view line);
    // The whole count, the closing tag included; no line may follow.
    XmlSize finish();

private:
    struct Counting;
    std::unique_ptr<Counting> counting_;
};

} // namespace CSVXML
