#include "OutputStream.h"

#include <cerrno>
#include <cstring>

namespace cli {

namespace {
constexpr std::size_t kBufferSize = 1 << 20;
}

OutputStream::OutputStream(const QString& path) : path_(path) {
    buffer_.reserve(kBufferSize);
}

bool OutputStream::open() {
    if (path_.isEmpty()) {
        return true;
    }
    file_ = std::make_unique<QSaveFile>(path_);
    if (!file_->open(QIODevice::WriteOnly)) {
        error_ = QStringLiteral("cannot write %1: %2").arg(path_, file_->errorString());
        return false;
    }
    return true;
}

void OutputStream::write(std::string_view bytes) {
    buffer_.append(bytes);
    if (buffer_.size() >= kBufferSize) {
        flushBuffer();
    }
}

bool OutputStream::flushBuffer() {
    if (failed_ || buffer_.empty()) {
        buffer_.clear();
        return !failed_;
    }
    if (file_) {
        if (file_->write(buffer_.data(), qint64(buffer_.size())) != qint64(buffer_.size())) {
            failed_ = true;
            error_ = QStringLiteral("cannot write %1: %2").arg(path_, file_->errorString());
        }
    } else if (std::fwrite(buffer_.data(), 1, buffer_.size(), stdout) != buffer_.size()) {
        failed_ = true;
        error_ = QStringLiteral("cannot write to standard output: %1")
                     .arg(QString::fromLocal8Bit(std::strerror(errno)));
    }
    buffer_.clear();
    return !failed_;
}

bool OutputStream::commit() {
    if (!flushBuffer()) {
        if (file_) {
            file_->cancelWriting();
        }
        return false;
    }
    if (file_) {
        if (!file_->commit()) {
            error_ = QStringLiteral("cannot write %1: %2").arg(path_, file_->errorString());
            return false;
        }
        return true;
    }
    if (std::fflush(stdout) != 0) {
        error_ = QStringLiteral("cannot write to standard output: %1")
                     .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    return true;
}

} // namespace cli
