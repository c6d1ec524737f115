#pragma once

#include <QString>

// True when the last-modified time of `path` can be read: an existing file or folder. False on
// any failure (no such path, an empty or malformed path, a dangling link). Never throws.
bool FileExists(const QString& path);
