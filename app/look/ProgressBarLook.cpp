#include "look/Look.h"

#include <QPalette>
#include <QProgressBar>

namespace look {

void setWhiteBackground(QProgressBar& bar) {
    // Styles paint the groove with Base or Window, and the filled part with Highlight, which
    // stays as the style has it.
    QPalette palette = bar.palette();
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::Window, Qt::white);
    bar.setPalette(palette);
    bar.setAutoFillBackground(true);
}

} // namespace look
