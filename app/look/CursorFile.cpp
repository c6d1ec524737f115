#include "look/Look.h"

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QPixmap>
#include <algorithm>
#include <cstdint>

namespace look {

namespace {

// Cursor files hold a few small images; anything much larger is not one.
constexpr qint64 kMaxFileSize = 1024 * 1024;
constexpr int kDirectorySize = 6;
constexpr int kEntrySize = 16;

std::uint32_t readLittleEndian(const QByteArray& bytes, int at, int size) {
    std::uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = (value << 8) | static_cast<std::uint8_t>(bytes[at + i]);
    return value;
}

// The directory says a cursor, and its first image lies within the file.
bool isWholeCursorFile(const QByteArray& bytes) {
    if (bytes.size() < kDirectorySize + kEntrySize)
        return false;
    const std::uint32_t reserved = readLittleEndian(bytes, 0, 2);
    const std::uint32_t type = readLittleEndian(bytes, 2, 2);
    const std::uint32_t count = readLittleEndian(bytes, 4, 2);
    if (reserved != 0 || type != 2 || count == 0)
        return false;
    if (static_cast<qint64>(bytes.size()) < kDirectorySize + qint64{kEntrySize} * count)
        return false;
    const qint64 imageSize = readLittleEndian(bytes, kDirectorySize + 8, 4);
    const qint64 imageOffset = readLittleEndian(bytes, kDirectorySize + 12, 4);
    return imageSize > 0 && imageOffset >= kDirectorySize + kEntrySize &&
           imageOffset + imageSize <= bytes.size();
}

} // namespace

std::optional<QCursor> loadCursorFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxFileSize)
        return std::nullopt;
    const QByteArray bytes = file.read(kMaxFileSize + 1);
    if (bytes.size() > kMaxFileSize || !isWholeCursorFile(bytes))
        return std::nullopt;

    QBuffer buffer;
    buffer.setData(bytes);
    QImageReader reader(&buffer, "cur");
    QImage image = reader.read();
    if (image.isNull())
        return std::nullopt;

    // Image readers drop the hot spot; it sits in the first directory entry.
    int x = static_cast<int>(readLittleEndian(bytes, 10, 2));
    int y = static_cast<int>(readLittleEndian(bytes, 12, 2));
    // A hot spot off the picture is kept on its edge rather than handed to the window system.
    x = std::clamp(x, 0, image.width() - 1);
    y = std::clamp(y, 0, image.height() - 1);
    return QCursor(QPixmap::fromImage(std::move(image)), x, y);
}

} // namespace look
