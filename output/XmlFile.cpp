#include "XmlFile.h"

namespace CSVXML {

void endXmlFile(OutputStream& out) {
    out.write("\r\n");
}

void writeXmlFile(OutputStream& out, std::string_view xml) {
    out.write(xml);
    endXmlFile(out);
}

} // namespace CSVXML
