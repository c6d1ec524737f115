#include "XmlSize.h"

#include "ConvertTextToXml.h"

#include <algorithm>

namespace CSVXML {

namespace {

class CountingSink final : public ConversionSink {
public:
    void begin() override { size = {}; }
    void append(std::string_view xml) override {
        size.bytes += xml.size();
        size.lineBreaks += static_cast<std::uint64_t>(std::count(xml.begin(), xml.end(), '\n'));
    }
    XmlSize size;
};

// Only the serving of the caller's progress: the bar belongs to the conversion that follows.
class ServeOnly final : public db::Progress {
public:
    explicit ServeOnly(db::Progress& outer) : outer_(outer) {}
    void start(std::int64_t steps) override { rows = steps; }
    void serve() override { outer_.serve(); }
    std::int64_t rows = 0;

private:
    db::Progress& outer_;
};

} // namespace

struct XmlMeasure::Counting {
    explicit Counting(const ConversionOptions& given) : options(given), converter(options, sink) {}
    const ConversionOptions options;
    CountingSink sink;
    XmlConverter converter;
    std::int64_t lines = 0;
};

XmlMeasure::XmlMeasure(const ConversionOptions& options)
    : counting_(std::make_unique<Counting>(options)) {}

XmlMeasure::~XmlMeasure() = default;

void XmlMeasure::addLine(std::string_view line) {
    ++counting_->lines;
    counting_->converter.addLine(line);
}

XmlSize XmlMeasure::finish() {
    counting_->converter.finish();
    XmlSize size = counting_->sink.size;
    size.rows = dataRows(counting_->lines, counting_->options);
    return size;
}

XmlSize MeasureXml(std::string_view text, const ConversionOptions& options,
                   db::Progress& progress) {
    CountingSink sink;
    ServeOnly serving(progress);
    ConvertTextToXml(text, options, sink, serving);
    XmlSize size = sink.size;
    size.rows = serving.rows;
    return size;
}

} // namespace CSVXML
