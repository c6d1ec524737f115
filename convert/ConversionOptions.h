#pragma once

#include <string>

namespace CSVXML {

// How a NULL value is written when the caller knows which values are NULL (a table read
// directly); delimited text alone cannot tell NULL from empty, so there every value is text.
enum class NullForm {
    Empty, // an empty element, as for an empty text: what the wizard writes
    Omit,  // no element at all
    Nil,   // <name xsi:nil="true"/>, with the xsi namespace declared on the root element
};

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
    NullForm nulls = NullForm::Empty;
};

} // namespace CSVXML
