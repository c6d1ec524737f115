#include "app/PushCheckBox.h"

#include "app/Design.h"

#include <QAccessible>
#include <QAccessibleWidget>

namespace app {

namespace {

// A press springs back at once, so the button is an action and not a state: assistive tools
// get a push button with the press action, never a check box that is "not checked".
class PushCheckBoxAccessible final : public QAccessibleWidget {
public:
    explicit PushCheckBoxAccessible(PushCheckBox* button)
        : QAccessibleWidget(button, QAccessible::Button) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name && button()->accessibleName().isEmpty()) {
            QString caption = button()->text();
            caption.remove(QLatin1Char('&'));
            return caption;
        }
        return QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.checkable = false;
        s.checked = false;
        s.pressed = button()->isDown();
        return s;
    }
    QStringList actionNames() const override {
        return QStringList(pressAction()) + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& action) override {
        if (action != pressAction()) {
            QAccessibleWidget::doAction(action);
            return;
        }
        // Queued like a click, so that a long action does not run inside the tool's request.
        if (button()->isEnabled())
            button()->animateClick();
    }

private:
    PushCheckBox* button() const { return static_cast<PushCheckBox*>(widget()); }
};

QAccessibleInterface* accessibleFor(const QString& className, QObject* object) {
    if (className == QLatin1String(PushCheckBox::staticMetaObject.className()))
        return new PushCheckBoxAccessible(static_cast<PushCheckBox*>(object));
    return nullptr;
}

} // namespace

PushCheckBox::PushCheckBox(const QString& caption, QWidget* parent) : QPushButton(caption, parent) {
    static const bool accessibleInstalled = [] {
        QAccessible::installFactory(accessibleFor);
        return true;
    }();
    static_cast<void>(accessibleInstalled);
    setCheckable(true);
    setAutoDefault(false);
    QPalette face = palette();
    design::inkOnWhite(face, QPalette::Button, QPalette::ButtonText);
    setPalette(face);
    connect(this, &QAbstractButton::toggled, this, &PushCheckBox::onToggled);
}

void PushCheckBox::onToggled(bool down) {
    if (!down)
        return;
    setChecked(false);
    Q_EMIT activated();
}

} // namespace app
