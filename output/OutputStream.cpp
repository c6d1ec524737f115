#include "OutputStream.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <unistd.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__linux__)
#include <fcntl.h>
#endif

namespace CSVXML {

namespace {
constexpr std::size_t kBufferSize = 1 << 20;
// How much written text may wait in the page cache before its write-back is started.
constexpr qint64 kWriteBackStep = qint64(16) << 20;
} // namespace

OutputStream::OutputStream(const QString& path, LineBreaks lineBreaks)
    : path_(path), lineBreaks_(lineBreaks) {
    buffer_.reserve(kBufferSize);
}

bool OutputStream::open() {
    if (path_.isEmpty()) {
        return true;
    }
    // The file is replaced by renaming a new one over it, which a directory's permissions
    // allow even for a read-only file: refuse that case as writing in place would.
    const QFileInfo existing(path_);
    constexpr auto kAnyWrite =
        QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
    if (existing.isFile() && (!existing.isWritable() || !(existing.permissions() & kAnyWrite))) {
        error_ = QStringLiteral("cannot write %1: the file is read-only").arg(path_);
        return false;
    }
    file_ = std::make_unique<QSaveFile>(path_);
    // A new file is written beside the old one and renamed over it, which needs leave to create
    // files in the folder. A user may be allowed to write a file in a folder where they may not
    // create one: then, and only then, the file is written in place. That gives up the
    // whole-or-nothing replacement, so it is not done whenever the folder would allow it.
    if (existing.isFile() &&
        ::access(QFile::encodeName(existing.absolutePath()).constData(), W_OK) != 0) {
        file_->setDirectWriteFallback(true);
    }
    if (!file_->open(QIODevice::WriteOnly)) {
        error_ = QStringLiteral("cannot write %1: %2").arg(path_, file_->errorString());
        return false;
    }
#if defined(__linux__)
    // QSaveFile keeps the new file's name to itself; the open descriptor tells it. Where the
    // file system allows, the new file has no name at all until the commit (O_TMPFILE), and
    // nothing is left to remove.
    const QString written =
        QFile::symLinkTarget(QStringLiteral("/proc/self/fd/%1").arg(file_->handle()));
    if (!written.isEmpty() && QFileInfo(written).isFile() &&
        written != QFileInfo(path_).absoluteFilePath() &&
        written != QFileInfo(path_).canonicalFilePath()) {
        temporaryPath_ = written;
    }
#endif
    return true;
}

void OutputStream::write(std::string_view bytes) {
    // A large piece (the preview's whole text) goes out in slices, so that the buffer never
    // holds a second copy of it.
    while (!bytes.empty()) {
        const std::string_view slice = bytes.substr(0, kBufferSize);
        bytes.remove_prefix(slice.size());
        if (lineBreaks_ == LineBreaks::CrLf) {
            appendCrLf(slice);
        } else {
            buffer_.append(slice);
        }
        if (buffer_.size() >= kBufferSize) {
            flushBuffer();
        }
    }
}

void OutputStream::appendCrLf(std::string_view bytes) {
    // The text goes into the buffer in as few pieces as there are lone LFs (in XML text, usually
    // none): a look at every byte, but one copy of each run between them.
    const char* const begin = bytes.data();
    const char* const end = begin + bytes.size();
    const char* runStart = begin;
    const auto mendAt = [&](const char* lf) {
        buffer_.append(runStart, static_cast<std::size_t>(lf - runStart));
        buffer_.push_back('\r');
        runStart = lf;
    };
    const char* p = begin;
    if (p != end) {
        if (*p == '\n' && !lastWasCr_) {
            mendAt(p);
        }
        ++p;
    }
#if defined(__SSE2__)
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i cr = _mm_set1_epi8('\r');
    while (end - p >= 16) {
        const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i before = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p - 1));
        auto lone = static_cast<unsigned>(_mm_movemask_epi8(
            _mm_andnot_si128(_mm_cmpeq_epi8(before, cr), _mm_cmpeq_epi8(here, lf))));
        while (lone != 0) {
            mendAt(p + __builtin_ctz(lone));
            lone &= lone - 1;
        }
        p += 16;
    }
#endif
    for (; p < end; ++p) {
        if (*p == '\n' && p[-1] != '\r') {
            mendAt(p);
        }
    }
    buffer_.append(runStart, static_cast<std::size_t>(end - runStart));
    if (!bytes.empty()) {
        lastWasCr_ = end[-1] == '\r';
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
        } else {
            startWriteBack();
        }
    } else if (std::fwrite(buffer_.data(), 1, buffer_.size(), stdout) != buffer_.size()) {
        failed_ = true;
        error_ = QStringLiteral("cannot write to standard output: %1")
                     .arg(QString::fromLocal8Bit(std::strerror(errno)));
    }
    if (!failed_) {
        written_ += std::int64_t(buffer_.size());
    }
    buffer_.clear();
    return !failed_;
}

// The commit waits until the whole file is on the disk. Starting the write-back of each large
// piece as soon as it is written lets the disk work while the rest is still being produced, so
// that wait covers only the last piece.
void OutputStream::startWriteBack() {
#if defined(__linux__)
    const qint64 written = file_->pos();
    if (written - writeBackFrom_ < kWriteBackStep || !file_->flush()) {
        return;
    }
    // Only a hint: a failure here changes nothing, and the commit still syncs everything.
    static_cast<void>(::sync_file_range(file_->handle(), writeBackFrom_, written - writeBackFrom_,
                                        SYNC_FILE_RANGE_WRITE));
    writeBackFrom_ = written;
#endif
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

} // namespace CSVXML
