#pragma once

#include "OutputStream.h"
#include "convert/ConvertTextToXml.h"

#include <string_view>

namespace CSVXML {

// An XML file is the XML text followed by one CR LF. The wizard's "Finish" and every command
// that writes XML end their files here, so their bytes cannot drift apart.
void endXmlFile(OutputStream& out);

// The whole XML text as one piece (the preview's buffer), then the ending.
void writeXmlFile(OutputStream& out, std::string_view xml);

// A conversion streamed into a file: each piece as it comes, the ending when the run ends.
class XmlFileSink final : public ConversionSink {
public:
    explicit XmlFileSink(OutputStream& out) : out_(out) {}
    void append(std::string_view xml) override { out_.write(xml); }
    void finish() override { endXmlFile(out_); }

private:
    OutputStream& out_;
};

} // namespace CSVXML
