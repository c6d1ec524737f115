#pragma once

#include <QString>
#include <functional>
#include <string_view>

namespace CSVXML {

// Asks the user whether an existing file may be replaced. The output page answers with a
// message box; the command line and the tests answer themselves.
class OverwriteQuestion {
public:
    virtual ~OverwriteQuestion() = default;
    // `message` is the whole question as the user reads it. True means Yes.
    virtual bool confirm(const QString& message) = 0;
};

struct SaveResult {
    enum class Status { Written, Declined, Failed };
    Status status = Status::Failed;
    QString error; // why the file could not be written, for the user
};

// The question asked before an existing path is replaced.
QString overwriteMessage(const QString& path);

// Writes the UTF-8 text that `utf8` gives (the preview's buffer), then CR LF, to `path` in the
// system's encoding, with every line break as CR LF; without a copy where that encoding is UTF-8.
// Asks first when the path exists, and takes the text only once the question is answered: a
// buffer that belongs to a window (the preview's) may be moved about while the question is on
// screen. Nothing is written when the text holds a character the encoding cannot represent, and
// a failed write leaves an existing file as it was.
SaveResult SaveTextToFile(const std::function<std::string_view()>& utf8, const QString& path,
                          OverwriteQuestion& question);

} // namespace CSVXML
