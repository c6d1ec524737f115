#pragma once

#include <QSaveFile>
#include <QString>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace cli {

// Where a command's output goes: standard output, or a file that is replaced only once the
// whole output has been written (a failure leaves any earlier file untouched).
class OutputStream {
public:
    // An empty path means standard output.
    explicit OutputStream(const QString& path);
    OutputStream(const OutputStream&) = delete;
    OutputStream& operator=(const OutputStream&) = delete;

    // Opens the destination; on failure returns false and sets error().
    bool open();
    void write(std::string_view bytes);
    // Flushes and, for a file, commits it. Returns false and sets error() on any failure.
    bool commit();
    const QString& error() const { return error_; }

private:
    bool flushBuffer();

    QString path_;
    std::unique_ptr<QSaveFile> file_;
    std::string buffer_;
    bool failed_ = false;
    QString error_;
};

} // namespace cli
