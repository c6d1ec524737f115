#pragma once

#include <QPushButton>

namespace app {

// The wizard's buttons: a two-state check box drawn as a push button. A press (or setting the
// value to checked from code) puts it down; it springs back up at once and `activated` runs the
// button's action exactly once. The spring-back itself triggers nothing.
class PushCheckBox : public QPushButton {
    Q_OBJECT
public:
    PushCheckBox(const QString& caption, QWidget* parent);

    // 1 while down, 0 while up; outside the action it always reads 0.
    int value() const { return isChecked() ? 1 : 0; }

Q_SIGNALS:
    void activated();

private:
    void onToggled(bool down);
};

} // namespace app
