#pragma once

#include <string>

namespace CSVXML {

// How delimited text becomes XML. All texts are UTF-8 and are used exactly as typed: the tags
// are not trimmed, validated or escaped.
struct ConversionOptions {
    std::string separator = ",";
    std::string rowTag = "row";
    std::string xmlTag = "XML";
    bool headerRow = true;
    bool useRowTags = true;
    // For callers that write a file: characters that XML 1.0 cannot hold make it a failure
    // instead of a warning. The conversion itself writes the same text either way.
    bool strictXml = false;
};

} // namespace CSVXML
