#include "look/Look.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QString kHandFile = QStringLiteral(TALLOWBY_HAND_CURSOR_FILE);

class CursorFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        QFile file(kHandFile);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << "not generated: " << kHandFile.toStdString();
        hand_ = file.readAll();
        ASSERT_GT(hand_.size(), 100);
    }
    QString write(const QByteArray& bytes) {
        const QString path = dir_.filePath(QStringLiteral("HAND-M.CUR"));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    }

    QTemporaryDir dir_;
    QByteArray hand_;
};

TEST_F(CursorFileTest, TheHandIsACursorFileWithItsHotSpotAtTheFingerTip) {
    const std::optional<QCursor> cursor = look::loadCursorFile(kHandFile);
    ASSERT_TRUE(cursor.has_value());
    EXPECT_EQ(cursor->shape(), Qt::BitmapCursor);
    EXPECT_EQ(cursor->hotSpot(), QPoint(6, 1));

    const QImage image = cursor->pixmap().toImage().convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(image.size(), QSize(32, 32));
    // The outline of the finger tip is black, inside it white, around the hand nothing.
    EXPECT_EQ(image.pixel(6, 0), qRgba(0, 0, 0, 255));
    EXPECT_EQ(image.pixel(5, 1), qRgba(0, 0, 0, 255));
    EXPECT_EQ(image.pixel(6, 1), qRgba(255, 255, 255, 255));
    EXPECT_EQ(image.pixel(10, 12), qRgba(255, 255, 255, 255));
    for (const QPoint around : {QPoint(0, 0), QPoint(20, 5), QPoint(31, 31), QPoint(8, 25)})
        EXPECT_EQ(qAlpha(image.pixel(around)), 0) << around.x() << "," << around.y();
}

TEST_F(CursorFileTest, TheHotSpotComesFromTheFile) {
    QByteArray bytes = hand_;
    bytes.replace(10, 4, QByteArray::fromHex("14000900")); // (20, 9)
    const std::optional<QCursor> cursor = look::loadCursorFile(write(bytes));
    ASSERT_TRUE(cursor.has_value());
    EXPECT_EQ(cursor->hotSpot(), QPoint(20, 9));

    // One off the picture stays on its edge.
    bytes.replace(10, 4, QByteArray::fromHex("2c010001")); // (300, 256)
    const std::optional<QCursor> outside = look::loadCursorFile(write(bytes));
    ASSERT_TRUE(outside.has_value());
    EXPECT_EQ(outside->hotSpot(), QPoint(31, 31));
}

TEST_F(CursorFileTest, WhatCannotBeLoadedCountsAsMissing) {
    const QByteArray& bytes = hand_;
    // An icon file has the same layout but no hot spot; a directory may lie beyond the end of the
    // file; a sound directory may lead to a garbage image.
    QByteArray icon = bytes, badOffset = bytes, badImage = bytes;
    icon[2] = 1;
    badOffset.replace(18, 4, QByteArray::fromHex("00100000"));
    badImage.replace(22, 40, QByteArray(40, '\xff'));
    int row = 0;
    for (const QByteArray& broken :
         {QByteArray(), bytes.left(21), bytes.left(100), bytes.chopped(1), QByteArray(4286, 'x'),
          QByteArray("GIF89a not a cursor at all"), icon, badOffset, badImage}) {
        EXPECT_FALSE(look::loadCursorFile(write(broken))) << "row " << row;
        ++row;
    }

    ASSERT_TRUE(QDir(dir_.path()).mkdir(QStringLiteral("folder.cur")));
    for (const QString& path : {QString(), dir_.filePath(QStringLiteral("nothing.cur")),
                                dir_.filePath(QStringLiteral("folder.cur"))})
        EXPECT_FALSE(look::loadCursorFile(path)) << path.toStdString();
}

} // namespace
