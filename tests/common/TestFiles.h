#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <sys/stat.h>

// A file's bytes, or "<unreadable>"; and writing one, true when every byte went out.
inline QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

inline bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// The permission bits of what stands at `path` itself (a link is not followed); 0 when nothing.
inline mode_t modeOf(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}
