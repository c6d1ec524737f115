#pragma once

#include "app/LoadedDocument.h"
#include "app/TextEditor.h"
#include "convert/ConvertTextToXml.h"
#include "convert/ExtractTableText.h"
#include "convert/XmlSize.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QProgressBar;

namespace db {
struct TableEntry;
}

namespace app {

class Page;
class Wizard;

// Whether the options page can hold a table's delimited text and its XML in the memory the
// system has available, with room to spare: the text as it came from the database, the text's
// document and the XML's document with their line indexes. The one rule for the
// preview's memory, asked while the rows arrive (with the text standing in for its XML, which is
// never smaller) and once the XML is measured.
bool previewFits(std::uint64_t textBytes, std::uint64_t textLines, std::uint64_t xmlBytes,
                 std::uint64_t xmlLines, std::optional<std::uint64_t> available);

// A block of the text in memory of its own, asked for whole: all its pages are made present in
// one request, as large pages where the system has them, which costs far less than the fault
// of each page in turn as the text fills it.
class TextBlock {
public:
    // Room for `capacity` bytes. Throws std::bad_alloc when the system has no room.
    explicit TextBlock(std::size_t capacity);
    ~TextBlock();
    TextBlock(TextBlock&& other) noexcept;
    TextBlock& operator=(TextBlock&& other) noexcept;

    std::size_t room() const { return capacity_ - size_; }
    // Adds at the end; `bytes` must fit in the room.
    void append(std::string_view bytes);
    std::string_view view() const { return {data_, size_}; }

private:
    void release();

    char* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
    std::size_t mapped_ = 0;
};

// Thrown out of an extraction whose delimited text has grown too large for the preview.
struct TooLargeForPreview {
    std::uint64_t textSoFar = 0;
};

// The delimited text as the extraction gives it, and the size of its XML with `options`,
// counted while the rows arrive. Once the text alone no longer fits in `available`, the
// extraction stops there with TooLargeForPreview rather than take the memory it would need. The
// text is kept in blocks, each filled once and each holding whole lines: a text grown in one
// string would be copied whole each time it outgrew its room.
class PreviewText final : public CSVXML::ExtractSink {
public:
    PreviewText(std::optional<std::uint64_t> available, const CSVXML::ConversionOptions& options);
    // With blocks of `blockSize` bytes (or more for a longer line).
    PreviewText(std::optional<std::uint64_t> available, const CSVXML::ConversionOptions& options,
                std::size_t blockSize);
    void header(std::string_view line) override;
    void row(std::string_view line) override;

    std::uint64_t size() const { return size_; }
    std::uint64_t lines() const { return lines_; }
    // The XML's size, once the extraction has ended.
    CSVXML::XmlSize xmlSize();
    // The blocks: joined in order, they are the text. Every block but the first begins with
    // the line break before its first line.
    std::vector<TextBlock>& blocks() { return blocks_; }

private:
    void add(std::string_view lineBreak, std::string_view line);

    const std::optional<std::uint64_t> available_;
    const std::size_t blockSize_;
    std::uint64_t size_ = 0;
    std::uint64_t lines_ = 0;
    std::vector<TextBlock> blocks_;
    CSVXML::XmlMeasure measure_;
    std::optional<CSVXML::XmlSize> xmlSize_;
};

// An empty document with room for `bytes` of text, laid out as an editor of `kind` lays it out.
std::unique_ptr<LoadedDocument> documentFor(DocumentMaker& maker, TextEditor::Kind kind,
                                            std::size_t bytes);

// XML as a conversion gives it, gathered into a loaded document in pieces large enough that
// each insertion costs little beside its bytes.
class DocumentSink final : public CSVXML::ConversionSink {
public:
    explicit DocumentSink(LoadedDocument& document) : document_(document) {}
    void append(std::string_view xml) override;
    void finish() override;

private:
    LoadedDocument& document_;
    std::string pending_;
};

// The road of "Next >" on the table page: the table read on a worker, its XML measured while the
// rows arrive, the memory rule, then either the options page filled (its text, then its XML, each
// made into a document away from the window's thread and put in place once whole) or, when they
// cannot fit, the table offered for saving straight to a file. A failure leaves every page as it
// was.
class TablePreview {
public:
    TablePreview(Wizard& wizard, Page& page, QProgressBar& bar);

    // Reads `table` with `options`. True when the options page now holds its text and XML: the
    // caller shows the page, then tells `extracted()`. False when the user has been told why
    // not, or the table was saved without a preview, or the user declined.
    bool run(const db::TableEntry& table, const CSVXML::ConversionOptions& options);
    const CSVXML::ExtractResult& extracted() const { return extracted_; }

private:
    void offerSaveWithoutPreview(const db::TableEntry& table, const QString& question,
                                 std::int64_t rows);
    void saveWithoutPreview(const db::TableEntry& table, std::int64_t rows);

    Wizard& wizard_;
    Page& page_;
    QProgressBar& bar_;
    CSVXML::ConversionOptions options_;
    CSVXML::ExtractResult extracted_;
};

} // namespace app
