#pragma once

#include <QSaveFile>
#include <QString>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace CSVXML {

// Where XML text goes: standard output, or a file that is replaced only once the whole text has
// been written, so that a failure (a full disk, a folder in the way) leaves any earlier file
// untouched.
class OutputStream {
public:
    enum class LineBreaks {
        CrLf,    // a LF without a CR before it gets one (XML text, as the wizard writes it)
        AsGiven, // the bytes unchanged (delimited text, whose quoted values may hold a lone LF)
    };

    // An empty path means standard output.
    explicit OutputStream(const QString& path, LineBreaks lineBreaks = LineBreaks::CrLf);
    OutputStream(const OutputStream&) = delete;
    OutputStream& operator=(const OutputStream&) = delete;

    // Opens the destination; on failure returns false and sets error().
    bool open();
    void write(std::string_view bytes);
    // Flushes and, for a file, commits it. Returns false and sets error() on any failure.
    bool commit();
    const QString& error() const { return error_; }
    // Once open: the new file written beside the destination until commit() renames it over
    // the destination; empty for standard output, for a file written in place, for a new file
    // that has no name until the commit, or where the system does not tell the name. Its removal by
    // another thread leaves this stream writing into a file that no folder holds any more, which is
    // how work left behind is undone.
    const QString& temporaryPath() const { return temporaryPath_; }
    // How many bytes have reached the destination so far (all of them once committed).
    std::int64_t written() const { return written_; }

private:
    bool flushBuffer();
    void appendCrLf(std::string_view bytes);
    void startWriteBack();

    QString path_;
    LineBreaks lineBreaks_;
    std::unique_ptr<QSaveFile> file_;
    std::string buffer_;
    bool failed_ = false;
    bool lastWasCr_ = false;
    qint64 writeBackFrom_ = 0;
    std::int64_t written_ = 0;
    QString error_;
    QString temporaryPath_;
};

} // namespace CSVXML
