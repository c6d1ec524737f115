#include "look/Look.h"

#include <QAbstractScrollArea>
#include <QCoreApplication>
#include <QEnterEvent>
#include <QEvent>
#include <QMouseEvent>
#include <QWidget>
#include <algorithm>

namespace look {

namespace {

// The pieces Qt builds a control from (a list's viewport, a scroll bar and its holder) belong to
// the control; every other child is a control of its own.
bool isPartOfParent(const QWidget& widget) {
    const QWidget* parent = widget.parentWidget();
    if (parent == nullptr)
        return false;
    const QLatin1String internal("qt_");
    return qobject_cast<const QAbstractScrollArea*>(parent) != nullptr ||
           widget.objectName().startsWith(internal) || parent->objectName().startsWith(internal);
}

} // namespace

PagePointer::PagePointer(QWidget& page) : QObject(&page), page_(page) {
    page_.installEventFilter(this);
    watchWindow();
}

PagePointer::~PagePointer() {
    if (window_)
        window_->removeEventFilter(this);
}

void PagePointer::loadCustomImage() {
    loadCustomImage(QCoreApplication::applicationDirPath());
}

void PagePointer::loadCustomImage(const QString& folder) {
    custom_ = loadCursorFile(folder + QLatin1String("/HAND-M.CUR"));
    if (setting_ == Custom)
        apply();
}

void PagePointer::setSetting(int value) {
    if (value == setting_)
        return;
    setting_ = value;
    apply();
    Q_EMIT settingChanged(setting_);
}

void PagePointer::bind(QWidget* control, int value) {
    if (control == nullptr)
        return;
    bound_.insert(control, value);
    connect(control, &QObject::destroyed, this,
            [this, control] { bound_.remove(control); }); // never dereferenced
}

void PagePointer::keepOwnPointer(QWidget* textBox) {
    if (textBox == nullptr)
        return;
    ownPointer_.emplace_back(textBox);
    covered_.erase(std::remove_if(covered_.begin(), covered_.end(),
                                  [this](const auto& entry) {
                                      return entry.first && keepsOwnPointer(entry.first);
                                  }),
                   covered_.end());
    textBox->setCursor(Qt::IBeamCursor);
    if (auto* area = qobject_cast<QAbstractScrollArea*>(textBox))
        area->viewport()->setCursor(Qt::IBeamCursor);
}

bool PagePointer::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &page_) {
        // The window exists from the first show, and is made anew if the page is re-parented.
        if (event->type() == QEvent::Show || event->type() == QEvent::WinIdChange)
            watchWindow();
    } else if (watched == window_) {
        // Moves reach the window whether or not the widget under the mouse tracks them.
        if (event->type() == QEvent::MouseMove)
            mouseMovedTo(static_cast<QMouseEvent*>(event)->position().toPoint());
        else if (event->type() == QEvent::Enter)
            mouseMovedTo(static_cast<QEnterEvent*>(event)->position().toPoint());
    }
    return false;
}

void PagePointer::watchWindow() {
    QWindow* window = page_.windowHandle();
    if (window == window_)
        return;
    if (window_)
        window_->removeEventFilter(this);
    window_ = window;
    if (window_)
        window_->installEventFilter(this);
}

void PagePointer::mouseMovedTo(QPoint position) {
    if (setting_ == Busy || !page_.isEnabled())
        return;
    QWidget* under = page_.childAt(position);
    if (under == nullptr)
        under = &page_;
    // A disabled control lets the mouse through to what is beneath it.
    while (under != &page_ && !under->isEnabled())
        under = under->parentWidget();
    for (const QWidget* widget = under;; widget = widget->parentWidget()) {
        const auto found = bound_.constFind(widget);
        if (found != bound_.constEnd()) {
            setSetting(found.value());
            return;
        }
        if (widget == &page_ || !isPartOfParent(*widget))
            return; // a control without a binding changes nothing
    }
}

bool PagePointer::keepsOwnPointer(const QWidget* widget) const {
    return std::any_of(ownPointer_.begin(), ownPointer_.end(), [widget](const auto& box) {
        return box && (box == widget || box->isAncestorOf(widget));
    });
}

void PagePointer::apply() {
    if (setting_ == Busy)
        cover(QCursor(Qt::WaitCursor));
    else if (setting_ == Custom)
        cover(custom_.value_or(QCursor(Qt::ArrowCursor)));
    else
        restore();
}

// The page's cursor reaches every widget that has none of its own; the widgets that do (text
// boxes, a text area's viewport) get it too, and are given theirs back by restore().
void PagePointer::cover(const QCursor& cursor) {
    QList<QWidget*> widgets = page_.findChildren<QWidget*>();
    widgets.prepend(&page_);
    for (QWidget* widget : widgets) {
        if (widget != &page_ && (widget->isWindow() || keepsOwnPointer(widget)))
            continue;
        const bool covered =
            std::any_of(covered_.begin(), covered_.end(),
                        [widget](const auto& entry) { return entry.first == widget; });
        if (!covered) {
            if (widget != &page_ && !widget->testAttribute(Qt::WA_SetCursor))
                continue;
            std::optional<QCursor> own;
            if (widget->testAttribute(Qt::WA_SetCursor))
                own = widget->cursor();
            covered_.emplace_back(widget, own);
        }
        widget->setCursor(cursor);
    }
}

void PagePointer::restore() {
    for (const auto& [widget, own] : covered_) {
        if (!widget)
            continue;
        if (own)
            widget->setCursor(*own);
        else
            widget->unsetCursor();
    }
    covered_.clear();
}

} // namespace look
