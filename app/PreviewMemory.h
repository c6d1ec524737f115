#pragma once

#include "convert/ExtractTableText.h"
#include "convert/XmlSize.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

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

// The delimited text as the extraction gives it, up to `limit` bytes: a text larger than that
// leaves no room for its XML in the preview, and the extraction stops there with
// TooLargeForPreview rather than take the memory it would need.
class PreviewText final : public CSVXML::JoinedTextSink {
public:
    explicit PreviewText(std::uint64_t limit) : limit_(limit) {}
    void write(std::string_view bytes) override {
        if (text.size() + bytes.size() > limit_)
            throw TooLargeForPreview{text.size() + bytes.size()};
        text.append(bytes);
    }
    std::string text;

private:
    std::uint64_t limit_;
};

// The limit for PreviewText: a quarter of the memory available, and of what the options page
// gives back when it is filled again (the preview takes the text, its copy in the options page
// and an XML larger than the text). No limit when the figure cannot be read.
std::uint64_t previewTextLimit(Wizard& wizard);

// The extraction stopped with TooLargeForPreview: the user is told and offered the table saved
// straight to a file, as measureForPreview does.
void offerSaveWithoutPreview(Wizard& wizard, Page& page, const db::TableEntry& table,
                             std::uint64_t textSoFar, QProgressBar& bar);

// Before the preview is filled with the XML of a table's delimited text: measures the XML and
// gives its size when the preview can hold it in the memory the system has available, with room
// to spare. When it cannot, the preview is not filled: the user is told how large the XML is and
// how much memory there is, and is offered the table saved straight to a file, streamed from
// the database as `tallowby-cli export` streams it, after which the output page shows the file
// as after "Finish". Then nothing is returned, and `delimited` has been let go of when the save
// was taken up; declining leaves every page as it was.
std::optional<CSVXML::XmlSize> measureForPreview(Wizard& wizard, Page& page,
                                                 const db::TableEntry& table,
                                                 std::string& delimited, QProgressBar& bar);

} // namespace app
