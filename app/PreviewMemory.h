#pragma once

#include "convert/ExtractTableText.h"
#include "convert/XmlSize.h"

#include <cstdint>
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

// Thrown out of an extraction whose delimited text has grown too large for the preview.
struct TooLargeForPreview {
    std::uint64_t textSoFar = 0;
};

// The delimited text as the extraction gives it, up to `limit` bytes, and the size of its XML
// with `options`, counted while the rows arrive. A text larger than the limit leaves no room
// for its XML in the preview, and the extraction stops there with TooLargeForPreview rather
// than take the memory it would need. The text is kept in blocks, each filled once: a text
// grown in one string would be copied whole each time it outgrew its room.
class PreviewText final : public CSVXML::ExtractSink {
public:
    PreviewText(std::uint64_t limit, const CSVXML::ConversionOptions& options);
    // With a first block of `firstBlock` bytes (or more for a longer line).
    PreviewText(std::uint64_t limit, const CSVXML::ConversionOptions& options,
                std::size_t firstBlock)
        : joined_(limit, firstBlock), measure_(options) {}
    void header(std::string_view line) override;
    void row(std::string_view line) override;

    std::uint64_t size() const { return joined_.size; }
    // The XML's size, once the extraction has ended.
    CSVXML::XmlSize xmlSize();
    // The text's blocks, in order, for the options page to take; none are left.
    std::vector<std::string> takeBlocks() { return std::move(joined_.blocks); }
    void release() { std::vector<std::string>().swap(joined_.blocks); }

private:
    struct Blocks final : CSVXML::JoinedTextSink {
        Blocks(std::uint64_t givenLimit, std::size_t givenFirstBlock)
            : limit(givenLimit), firstBlock(givenFirstBlock) {}
        void write(std::string_view bytes) override;
        const std::uint64_t limit;
        const std::size_t firstBlock;
        std::uint64_t size = 0;
        std::vector<std::string> blocks;
    };
    Blocks joined_;
    CSVXML::XmlMeasure measure_;
    std::optional<CSVXML::XmlSize> xmlSize_;
};

// The limit for PreviewText: a quarter of the memory available, and of what the options page
// gives back when it is filled again (the preview takes the text, its copy in the options page
// and an XML larger than the text). No limit when the figure cannot be read.
std::uint64_t previewTextLimit(Wizard& wizard);

// The extraction stopped with TooLargeForPreview: the user is told and offered the table saved
// straight to a file, as measureForPreview does.
void offerSaveWithoutPreview(Wizard& wizard, Page& page, const db::TableEntry& table,
                             std::uint64_t textSoFar, QProgressBar& bar);

// Before the preview is filled with the XML of a table's delimited text: gives the XML's size
// when the preview can hold it in the memory the system has available, with room to spare.
// When it cannot, the preview is not filled: the user is told how large the XML is and how
// much memory there is, and is offered the table saved straight to a file, streamed from the
// database as `tallowby-cli export` streams it, after which the output page shows the file as
// after "Finish". Then nothing is returned, and the text has been let go of when the save was
// taken up; declining leaves every page as it was.
std::optional<CSVXML::XmlSize> measureForPreview(Wizard& wizard, Page& page,
                                                 const db::TableEntry& table, PreviewText& text,
                                                 QProgressBar& bar);

} // namespace app
