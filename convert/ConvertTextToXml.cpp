#include "ConvertTextToXml.h"

#include "DelimitedText.h"
#include "XmlName.h"

#include <algorithm>
#include <array>

namespace CSVXML {

namespace {

constexpr std::string_view kCrLf = "\r\n";

constexpr std::array<bool, 256> kNeedsEscape = [] {
    std::array<bool, 256> table{};
    table['&'] = table['<'] = table['>'] = table['\r'] = true;
    return table;
}();

std::string_view escapeFor(char c) {
    switch (c) {
    case '&':
        return "&amp;";
    case '<':
        return "&lt;";
    case '>':
        return "&gt;";
    default:
        return "&#xD;";
    }
}

// Appends the value that a raw field stands for, unquoted and escaped in one pass.
void appendFieldValue(std::string& out, std::string_view field) {
    if (field.size() < 2 || field.front() != '"' || field.back() != '"') {
        appendEscapedText(out, field);
        return;
    }
    const std::string_view inner = field.substr(1, field.size() - 2);
    std::size_t runStart = 0;
    for (std::size_t i = 0; i < inner.size(); ++i) {
        const char c = inner[i];
        if (c == '"' && i + 1 < inner.size() && inner[i + 1] == '"') {
            out.append(inner.substr(runStart, i + 1 - runStart));
            ++i;
            runStart = i + 1;
        } else if (kNeedsEscape[static_cast<unsigned char>(c)]) {
            out.append(inner.substr(runStart, i - runStart));
            out.append(escapeFor(c));
            runStart = i + 1;
        }
    }
    out.append(inner.substr(runStart));
}

} // namespace

std::string Indent(std::int64_t count) {
    return count > 0 ? std::string(static_cast<std::size_t>(count), ' ') : std::string();
}

void appendEscapedText(std::string& out, std::string_view value) {
    std::size_t runStart = 0;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (kNeedsEscape[static_cast<unsigned char>(value[i])]) {
            out.append(value.substr(runStart, i - runStart));
            out.append(escapeFor(value[i]));
            runStart = i + 1;
        }
    }
    out.append(value.substr(runStart));
}

XmlConverter::XmlConverter(const ConversionOptions& options, ConversionSink& sink)
    : options_(options), sink_(sink) {
    pending_ = "<" + options_.xmlTag + ">";
    pending_ += kCrLf;
    if (options_.useRowTags) {
        rowOpen_ = Indent(1) + "<" + options_.rowTag + ">";
        rowOpen_ += kCrLf;
        rowClose_ = Indent(1) + "</" + options_.rowTag + ">";
        rowClose_ += kCrLf;
    }
}

void XmlConverter::takeColumnNames(std::string_view line) {
    splitFields(line, options_.separator, fields_);
    std::vector<std::string> names;
    names.reserve(fields_.size());
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        if (options_.headerRow) {
            names.push_back(encodeXmlName(fieldValue(fields_[i])));
        } else {
            names.push_back("header" + std::to_string(i + 1));
        }
    }
    const std::string indent = Indent(options_.useRowTags ? 2 : 1);
    for (const auto& name : names) {
        openTags_.push_back(indent + "<" + name + ">");
        closeTags_.push_back("</" + name + ">");
        closeTags_.back() += kCrLf;
    }
    namesKnown_ = true;
}

void XmlConverter::addLine(std::string_view line) {
    if (!namesKnown_) {
        takeColumnNames(line);
        if (options_.headerRow) {
            return;
        }
    }
    writeRow(line);
}

void XmlConverter::writeRow(std::string_view line) {
    splitFields(line, options_.separator, fields_);
    pending_ += rowOpen_;
    for (std::size_t i = 0; i < openTags_.size(); ++i) {
        pending_ += openTags_[i];
        if (i < fields_.size()) {
            appendFieldValue(pending_, fields_[i]);
        }
        pending_ += closeTags_[i];
    }
    pending_ += rowClose_;
    flushRow();
    ++rowsWritten_;
    if (rowCount_ > 0) {
        const double percent =
            static_cast<double>(rowsWritten_) / static_cast<double>(rowCount_) * 100.0;
        sink_.progress(static_cast<float>(percent));
    }
}

void XmlConverter::flushRow() {
    sink_.append(pending_);
    pending_.clear();
}

void XmlConverter::finish() {
    pending_ += "</" + options_.xmlTag + ">";
    sink_.append(pending_);
    pending_.clear();
    sink_.progress(0.0f);
}

void ConvertTextToXml(std::string_view text, const ConversionOptions& options,
                      ConversionSink& sink) {
    sink.begin();
    std::vector<std::string_view> lines;
    splitLines(text, lines);
    XmlConverter converter(options, sink);
    const auto lineCount = static_cast<std::int64_t>(lines.size());
    converter.setRowCount(options.headerRow ? std::max<std::int64_t>(lineCount - 1, 0) : lineCount);
    for (const auto line : lines) {
        converter.addLine(line);
    }
    converter.finish();
    sink.finish();
}

} // namespace CSVXML
