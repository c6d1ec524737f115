#pragma once

#include <QFont>
#include <QLineEdit>
#include <QPalette>
#include <QRect>
#include <QString>
#include <array>

class QCheckBox;
class QFrame;
class QLabel;
class QProgressBar;
class QWidget;

namespace app {

class PushCheckBox;

// The pages are drawn in twips, 15 to a pixel at 96 dots per inch; these helpers place the
// controls and give them the pages' common look.
namespace design {

int px(int twips);
QRect twips(int left, int top, int width, int height);

// Arial bold at `points`; the pages' font unless a control says otherwise.
QFont arial(double points = 9.0);

// White behind `text` whatever the desktop's colours, so the text is black (grey when disabled):
// a dark desktop theme's light text would vanish on it.
void inkOnWhite(QPalette& palette, QPalette::ColorRole background, QPalette::ColorRole text);

// A fixed-size top-level page: black text on white (text boxes keep the desktop's colours), close
// box, no maximize box, minimize box only when `minimizable`, and a transparent icon so that none
// shows in the title bar.
void setUpPage(QWidget& page, const QString& caption, int clientWidth, int clientHeight,
               bool minimizable);

QLabel* label(QWidget* parent, const QString& name, const QString& text, QRect where,
              double points = 9.0);
// A horizontal separator line from (left, top) to (right, top).
QFrame* line(QWidget* parent, const QString& name, int left, int top, int right);
PushCheckBox* button(QWidget* parent, const QString& name, const QString& caption, QRect where,
                     double points = 9.0);
// The row at the foot of every page: "Cancel", "< Back", "Next >" and "Finish", each 1335 x 400
// at left 120, 1560, 3000 and 4440 and at `top`, under the line "Line1" 120 twips higher, which
// runs from 120 to 5760. `names` are the buttons' names on the page, in that order.
struct ButtonRow {
    QFrame* line;
    PushCheckBox* cancel;
    PushCheckBox* back;
    PushCheckBox* next;
    PushCheckBox* finish;
};
ButtonRow buttonRow(QWidget* page, int top, const std::array<const char*, 4>& names);

QCheckBox* checkBox(QWidget* parent, const QString& name, const QString& caption, QRect where);
QProgressBar* progressBar(QWidget* parent, const QString& name, QRect where);

template <typename Box>
Box* textBox(QWidget* parent, const QString& name, const QString& text, QRect where,
             double points = 9.0) {
    auto* box = new Box(parent);
    box->setObjectName(name);
    box->setGeometry(where);
    box->setFont(arial(points));
    if constexpr (requires { box->setText(text); })
        box->setText(text);
    else
        box->setPlainText(text);
    return box;
}

} // namespace design

// A one-line box that selects its whole text whenever it receives the focus, however it came,
// so that typing replaces the value.
class SelectAllLineEdit : public QLineEdit {
public:
    using QLineEdit::QLineEdit;

protected:
    void focusInEvent(QFocusEvent* event) override;
};

} // namespace app
