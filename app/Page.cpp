#include "app/Page.h"

#include "app/PushCheckBox.h"
#include "app/Wizard.h"
#include "app/look/Look.h"

#include <QCloseEvent>

namespace app {

Page::Page(Wizard& wizard, const QString& name, const QString& caption, int clientWidth,
           int clientHeight, bool minimizable)
    : wizard_(wizard), pointer_(new look::PagePointer(*this)) {
    setObjectName(name);
    design::setUpPage(*this, caption, clientWidth, clientHeight, minimizable);
}

void Page::buttonRow(int top, const std::array<const char*, 4>& names, QFrame*& line,
                     PushCheckBox*& cancel, PushCheckBox*& back, PushCheckBox*& next,
                     PushCheckBox*& finish) {
    const design::ButtonRow row = design::buttonRow(this, top, names);
    line = row.line;
    cancel = row.cancel;
    back = row.back;
    next = row.next;
    finish = row.finish;
    connect(cancel, &PushCheckBox::activated, this, [this] { wizard_.endProgram(); });
    for (QWidget* button : {cancel, back, next, finish})
        pointer_->bind(button, look::Custom);
}

void Page::tabOrder(std::initializer_list<QWidget*> widgets) {
    QWidget* previous = nullptr;
    for (QWidget* widget : widgets) {
        if (previous)
            setTabOrder(previous, widget);
        previous = widget;
    }
}

void Page::keepOutOfViewUnfocused() {
    for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child->isWindow() || rect().intersects(child->geometry()))
            continue;
        child->setFocusPolicy(Qt::NoFocus);
        for (QWidget* inside : child->findChildren<QWidget*>())
            inside->setFocusPolicy(Qt::NoFocus);
    }
}

void Page::onPress(PushCheckBox* button, std::function<void()> action) {
    connect(button, &PushCheckBox::activated, this,
            [this, action = std::move(action)] { wizard_.runAction(action); });
}

void Page::loadLook() {
    Main::CenterOnScreen(*this);
    pointer_->loadCustomImage();
}

void Page::closeEvent(QCloseEvent* event) {
    event->ignore();
    wizard_.endProgram();
}

} // namespace app
