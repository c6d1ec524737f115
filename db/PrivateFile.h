#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace db {

// Files of the program's own that hold what no other user may read or change (trusted
// certificates, the driver's configuration): in a folder of the user's own (mode 0700), each file
// mode 0600, replaced whole so that a reader sees the old contents or the new, never a mix, and
// never written or read through a symbolic link.

// Creates `folder` (and its parents) when missing and narrows it to 0700. Throws Error when it
// is a symbolic link, not a folder, or another user's.
void makePrivateFolder(const QString& folder);

// Replaces `path` with `contents` in its private folder. Throws Error saying why it could not.
void writePrivateFile(const QString& path, const QByteArray& contents);

// The contents of `path`; nullopt when there is no such file. Throws Error when it is a
// symbolic link, not a regular file, another user's, or cannot be read.
std::optional<QByteArray> readPrivateFile(const QString& path);

} // namespace db
