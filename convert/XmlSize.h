#pragma once

#include "ConversionOptions.h"
#include "db/Progress.h"

#include <cstdint>
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

} // namespace CSVXML
