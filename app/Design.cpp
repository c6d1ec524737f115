#include "app/Design.h"

#include "app/PushCheckBox.h"

#include <QCheckBox>
#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QProgressBar>
#include <QWidget>
#include <cmath>

namespace app {
namespace design {

int px(int twips) {
    return static_cast<int>(std::lround(twips / 15.0));
}

QRect twips(int left, int top, int width, int height) {
    return {px(left), px(top), px(width), px(height)};
}

QFont arial(double points) {
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(points);
    font.setWeight(QFont::Bold);
    return font;
}

void inkOnWhite(QPalette& palette, QPalette::ColorRole background, QPalette::ColorRole text) {
    palette.setColor(background, Qt::white);
    palette.setColor(text, Qt::black);
    // 4.9:1 on white, so still readable, and far enough from black to look disabled.
    palette.setColor(QPalette::Disabled, text, QColor(0x70, 0x70, 0x70));
}

void setUpPage(QWidget& page, const QString& caption, int clientWidth, int clientHeight,
               bool minimizable) {
    Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                            Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (minimizable)
        flags |= Qt::WindowMinimizeButtonHint;
    page.setWindowFlags(flags);
    page.setWindowTitle(caption);
    page.setFixedSize(px(clientWidth), px(clientHeight));
    page.setFont(arial());

    QPalette palette = page.palette();
    inkOnWhite(palette, QPalette::Window, QPalette::WindowText);
    page.setPalette(palette);
    page.setAutoFillBackground(true);

    QPixmap blank(32, 32);
    blank.fill(Qt::transparent);
    page.setWindowIcon(QIcon(blank));
}

QLabel* label(QWidget* parent, const QString& name, const QString& text, QRect where,
              double points) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setGeometry(where);
    label->setFont(arial(points));
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

QFrame* line(QWidget* parent, const QString& name, int left, int top, int right) {
    auto* line = new QFrame(parent);
    line->setObjectName(name);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setLineWidth(1);
    line->setGeometry(px(left), px(top), px(right) - px(left), 1);
    return line;
}

PushCheckBox* button(QWidget* parent, const QString& name, const QString& caption, QRect where,
                     double points) {
    auto* button = new PushCheckBox(caption, parent);
    button->setObjectName(name);
    button->setGeometry(where);
    button->setFont(arial(points));
    return button;
}

ButtonRow buttonRow(QWidget* page, int top, const std::array<const char*, 4>& names) {
    const auto make = [&](int i, const char* caption) {
        return button(page, QString::fromLatin1(names[std::size_t(i)]),
                      QString::fromLatin1(caption), twips(120 + 1440 * i, top, 1335, 400));
    };
    QFrame* separator = line(page, QStringLiteral("Line1"), 120, top - 120, 5760);
    return {separator, make(0, "Cancel"), make(1, "< Back"), make(2, "Next >"), make(3, "Finish")};
}

QCheckBox* checkBox(QWidget* parent, const QString& name, const QString& caption, QRect where) {
    auto* box = new QCheckBox(caption, parent);
    box->setObjectName(name);
    box->setGeometry(where);
    box->setFont(arial());
    return box;
}

QProgressBar* progressBar(QWidget* parent, const QString& name, QRect where) {
    auto* bar = new QProgressBar(parent);
    bar->setObjectName(name);
    bar->setGeometry(where);
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setTextVisible(false);
    return bar;
}

} // namespace design

void SelectAllLineEdit::focusInEvent(QFocusEvent* event) {
    QLineEdit::focusInEvent(event);
    selectAll();
}

} // namespace app
