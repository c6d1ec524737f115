// Renders the application icon's SVG to a square PNG, for the icon themes that want a bitmap
// beside the scalable picture.
//
//   tallowby-render-icon INPUT.svg SIZE OUTPUT.png

#include <QImage>
#include <QPainter>
#include <QString>
#include <QSvgRenderer>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fputs("usage: tallowby-render-icon INPUT.svg SIZE OUTPUT.png\n", stderr);
        return 2;
    }
    bool ok = false;
    const int size = QString::fromLocal8Bit(argv[2]).toInt(&ok);
    if (!ok || size < 1 || size > 4096) {
        std::fprintf(stderr, "tallowby-render-icon: bad size '%s'\n", argv[2]);
        return 2;
    }
    QSvgRenderer renderer(QString::fromLocal8Bit(argv[1]));
    if (!renderer.isValid()) {
        std::fprintf(stderr, "tallowby-render-icon: cannot read '%s'\n", argv[1]);
        return 1;
    }
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter);
    }
    // No time stamp or other text chunk, so that the same picture gives the same bytes.
    if (!image.save(QString::fromLocal8Bit(argv[3]), "PNG")) {
        std::fprintf(stderr, "tallowby-render-icon: cannot write '%s'\n", argv[3]);
        return 1;
    }
    return 0;
}
