#include "db/PrivateFile.h"

#include "db/Error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace db {

namespace {

QString systemReason() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

[[noreturn]] void refuse(const QString& path, const QString& why) {
    throw Error(QStringLiteral("%1 cannot be used: %2.").arg(QDir::toNativeSeparators(path), why));
}

} // namespace

void makePrivateFolder(const QString& folder) {
    if (!QDir().mkpath(folder))
        refuse(folder, QStringLiteral("the folder cannot be created"));
    const QByteArray name = QFile::encodeName(folder);
    struct stat st {};
    if (::lstat(name.constData(), &st) != 0)
        refuse(folder, systemReason());
    if (S_ISLNK(st.st_mode))
        refuse(folder, QStringLiteral("it is a symbolic link, which is never written through"));
    if (!S_ISDIR(st.st_mode))
        refuse(folder, QStringLiteral("it is not a folder"));
    if (st.st_uid != ::geteuid())
        refuse(folder, QStringLiteral("it belongs to another user"));
    if ((st.st_mode & 077) != 0 && ::chmod(name.constData(), S_IRWXU) != 0)
        refuse(folder, systemReason());
}

void writePrivateFile(const QString& path, const QByteArray& contents) {
    const QString folder = QFileInfo(path).absolutePath();
    makePrivateFolder(folder);
    // A new file beside the old one, renamed over it: the name is replaced, never followed, and
    // the new file was made by us, 0600, where nothing stood.
    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temporary = QFile::encodeName(path) + ".new-" + QByteArray::number(::getpid()) + '-' +
                    QByteArray::number(attempt);
        fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    S_IRUSR | S_IWUSR);
        if (fd < 0 && errno != EEXIST)
            refuse(path, systemReason());
    }
    if (fd < 0)
        refuse(path, QStringLiteral("no new file can be made beside it"));
    const char* data = contents.constData();
    qsizetype left = contents.size();
    bool ok = true;
    while (ok && left > 0) {
        const ssize_t n = ::write(fd, data, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        data += ok ? n : 0;
        left -= ok ? n : 0;
    }
    const QString reason = ok ? QString() : systemReason();
    ok = ok && ::fsync(fd) == 0;
    ::close(fd);
    if (!ok || ::rename(temporary.constData(), QFile::encodeName(path).constData()) != 0) {
        const QString why = reason.isEmpty() ? systemReason() : reason;
        ::unlink(temporary.constData());
        refuse(path, why);
    }
}

std::optional<QByteArray> readPrivateFile(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return std::nullopt;
        if (errno == ELOOP)
            refuse(path, QStringLiteral("it is a symbolic link, which is never read through"));
        refuse(path, systemReason());
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        refuse(path, file.errorString());
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        refuse(path, systemReason());
    if (!S_ISREG(st.st_mode))
        refuse(path, QStringLiteral("it is not a regular file"));
    if (st.st_uid != ::geteuid())
        refuse(path, QStringLiteral("it belongs to another user"));
    return file.readAll();
}

} // namespace db
