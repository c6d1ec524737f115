#pragma once

#include <string>
#include <string_view>

namespace CSVXML {

// Makes a column name usable as an XML 1.0 element name the way SQL Server's FOR XML does:
// every character that may not stand at its place in a name is written _xHHHH_ (its UTF-16
// code unit in four upper-case hex digits), and an '_' that would read as the start of such an
// escape is itself escaped. ':' is escaped too, since an undeclared prefix makes the document
// unreadable to a namespace-aware parser. An empty name becomes "_". Valid names pass unchanged.
std::string encodeXmlName(std::string_view utf8Name);

// Whether a typed tag (the root tag, the row tag) can stand as an element's name for every XML
// reader: an XML 1.0 name without ':', since a prefix is never declared and a namespace-aware
// reader refuses an undeclared one. Tags are written as typed, so this only lets the caller warn.
bool isXmlName(std::string_view utf8Name);

} // namespace CSVXML
