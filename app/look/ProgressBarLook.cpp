#include "look/Look.h"

#include <QPalette>
#include <QProgressBar>

namespace look {

void setWhiteBackground(QProgressBar& bar) {
    // Styles paint the groove with Base or Window, and the filled part with Highlight, which
    // stays as the style has it. A percentage over the groove is drawn in Text or WindowText:
    // black, whatever the desktop's text colour, since the groove is white.
    QPalette palette = bar.palette();
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::Window, Qt::white);
    palette.setColor(QPalette::Text, Qt::black);
    palette.setColor(QPalette::WindowText, Qt::black);
    bar.setPalette(palette);
    bar.setAutoFillBackground(true);
}

} // namespace look
