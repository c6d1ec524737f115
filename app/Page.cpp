#include "app/Page.h"

#include "app/PushCheckBox.h"
#include "app/Wizard.h"
#include "app/look/Look.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QCloseEvent>

namespace app {

namespace {

// Each page is a window of its own: assistive tools are told so, and read its caption.
QAccessibleInterface* pageAccessible(const QString& className, QObject* object) {
    if (className == QLatin1String("QWidget"))
        if (auto* page = dynamic_cast<Page*>(object))
            return new QAccessibleWidget(page, QAccessible::Window);
    return nullptr;
}

} // namespace

Page::Page(Wizard& wizard, const QString& name, const QString& caption, int clientWidth,
           int clientHeight, bool minimizable)
    : wizard_(wizard), pointer_(new look::PagePointer(*this)) {
    static const bool accessibleInstalled = [] {
        QAccessible::installFactory(pageAccessible);
        return true;
    }();
    static_cast<void>(accessibleInstalled);
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
