#pragma once

#include "convert/XmlSize.h"

#include <optional>
#include <string>

class QProgressBar;

namespace db {
struct TableEntry;
}

namespace app {

class Page;
class Wizard;

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
