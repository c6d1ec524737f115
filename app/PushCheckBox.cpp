#include "app/PushCheckBox.h"

namespace app {

PushCheckBox::PushCheckBox(const QString& caption, QWidget* parent) : QPushButton(caption, parent) {
    setCheckable(true);
    setAutoDefault(false);
    QPalette face = palette();
    face.setColor(QPalette::Button, Qt::white);
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
