#include "FileExists.h"

#include <QByteArray>
#include <QFile>
#include <sys/stat.h>

bool FileExists(const QString& path) {
    if (path.isEmpty() || path.contains(QChar(u'\0'))) {
        return false;
    }
    const QByteArray native = QFile::encodeName(path);
    struct stat info {};
    return ::stat(native.constData(), &info) == 0;
}
