#include "Fixture.h"
#include "app/Form1.h"
#include "app/Form2.h"
#include "app/Form3.h"
#include "app/Form4.h"
#include "app/Qsci.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <algorithm>
#include <cmath>

namespace {

// WCAG 2's relative luminance and contrast ratio.
double luminance(const QColor& colour) {
    const auto linear = [](double c) {
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) +
           0.0722 * linear(colour.blueF());
}

double contrast(const QColor& a, const QColor& b) {
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

constexpr double kReadable = 4.5; // text on its background (WCAG AA)
constexpr double kApart = 3.0;    // a disabled caption against a live one

QPalette lightPalette() {
    return QApplication::style()->standardPalette();
}

// The dark palette that Qt programs commonly give the Fusion style.
QPalette darkPalette() {
    const QColor grey(0x35, 0x35, 0x35);
    QPalette dark(Qt::white, grey, grey.lighter(), grey.darker(), grey, Qt::white, Qt::red,
                  QColor(0x2a, 0x2a, 0x2a), grey);
    dark.setColor(QPalette::Highlight, QColor(0x2a, 0x82, 0xda));
    dark.setColor(QPalette::HighlightedText, Qt::black);
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        dark.setColor(QPalette::Disabled, role, QColor(0x7f, 0x7f, 0x7f));
    return dark;
}

// A colour drawn on another, and the contrast it needs there.
struct Reading {
    QString what;
    QColor fore;
    QColor back;
    double needed = kReadable;
};

QColor scintillaColour(long colour) {
    return {int(colour & 0xff), int((colour >> 8) & 0xff), int((colour >> 16) & 0xff)};
}

// Every style the editor draws with (the default ones alone without a lexer), and the caret.
void readEditor(const QsciScintilla& editor, const QString& name, std::vector<Reading>& out) {
    const auto colour = [&](unsigned int message, int style = 0) {
        return scintillaColour(editor.SendScintilla(message, static_cast<unsigned long>(style)));
    };
    const QsciLexer* lexer = editor.lexer();
    for (int style = 0; style <= QsciScintillaBase::STYLE_MAX; ++style)
        if (style == 0 || style == QsciScintillaBase::STYLE_DEFAULT ||
            (lexer && !lexer->description(style).isEmpty()))
            out.push_back({name + QStringLiteral(" style %1").arg(style),
                           colour(QsciScintillaBase::SCI_STYLEGETFORE, style),
                           colour(QsciScintillaBase::SCI_STYLEGETBACK, style)});
    out.push_back({name + QStringLiteral(" caret"), colour(QsciScintillaBase::SCI_GETCARETFORE),
                   colour(QsciScintillaBase::SCI_STYLEGETBACK, QsciScintillaBase::STYLE_DEFAULT)});
}

// Every text of the page's visible widgets, as the widget draws it.
std::vector<Reading> readPage(QWidget& page) {
    std::vector<Reading> out;
    for (QWidget* widget : page.findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(&page))
            continue;
        const QString name = page.objectName() + QLatin1Char('/') + widget->objectName();
        const QPalette& colours = widget->palette();
        const auto group = widget->isEnabled() ? QPalette::Active : QPalette::Disabled;
        // What shows behind a widget that does not fill its own background.
        const QWidget* filler = widget;
        while (!filler->autoFillBackground() && !filler->isWindow())
            filler = filler->parentWidget();
        const QColor beneath = filler->palette().color(group, QPalette::Window);
        if (const auto* editor = qobject_cast<QsciScintilla*>(widget)) {
            readEditor(*editor, name, out);
        } else if (qobject_cast<QPushButton*>(widget)) {
            // Any button may be disabled some time: both states read, and look apart.
            const auto caption = [&](QPalette::ColorGroup state) {
                return colours.color(state, QPalette::ButtonText);
            };
            out.push_back({name, caption(QPalette::Active),
                           colours.color(QPalette::Active, QPalette::Button)});
            out.push_back({name + QStringLiteral(" disabled"), caption(QPalette::Disabled),
                           colours.color(QPalette::Disabled, QPalette::Button)});
            out.push_back({name + QStringLiteral(" disabled against enabled"),
                           caption(QPalette::Disabled), caption(QPalette::Active), kApart});
        } else if (qobject_cast<QLabel*>(widget) || qobject_cast<QCheckBox*>(widget) ||
                   qobject_cast<QGroupBox*>(widget)) {
            out.push_back({name, colours.color(group, QPalette::WindowText), beneath});
        } else if (qobject_cast<QLineEdit*>(widget) || qobject_cast<QAbstractItemView*>(widget) ||
                   qobject_cast<QProgressBar*>(widget)) {
            out.push_back(
                {name, colours.color(group, QPalette::Text), colours.color(group, QPalette::Base)});
        }
    }
    return out;
}

// The desktop's palette when the wizard starts, and the one it turns to while the wizard runs.
struct Desktop {
    const char* name;
    QPalette (*atStart)();
    QPalette (*later)();
};

class ReadableColours : public WizardTest, public testing::WithParamInterface<Desktop> {
protected:
    void TearDown() override {
        WizardTest::TearDown();
        QApplication::setPalette(original_);
    }

    const QPalette original_ = QApplication::palette();
};

// Every text on every page, the preview's highlighting included, reads on what it is drawn on.
TEST_P(ReadableColours, EveryTextReadsOnItsBackground) {
    QApplication::setPalette(GetParam().atStart());
    exportTable(QStringLiteral("Customers"));
    app::Form3& options = wizard->form3();
    press(options.findChild<QWidget*>(QStringLiteral("Check7")));
    ASSERT_TRUE(wizard->form4().isVisible());
    if (GetParam().later)
        QApplication::setPalette(GetParam().later());

    for (QWidget* page : std::initializer_list<QWidget*>{&wizard->form1(), &wizard->form2(),
                                                         &options, &wizard->form4()}) {
        const std::vector<Reading> readings = readPage(*page);
        EXPECT_GE(readings.size(), 10u) << page->objectName().toStdString();
        for (const Reading& reading : readings)
            EXPECT_GE(contrast(reading.fore, reading.back), reading.needed)
                << reading.what.toStdString() << ": " << reading.fore.name().toStdString() << " on "
                << reading.back.name().toStdString();
    }

    // The selection is drawn in the desktop's highlight, which goes with its highlighted text.
    auto* preview = options.findChild<QsciScintilla*>(QStringLiteral("RichTextBox1"));
    preview->SendScintilla(QsciScintillaBase::SCI_SELECTALL);
    const QImage shot = preview->viewport()->grab().toImage();
    const QRgb highlight = preview->palette().color(QPalette::Highlight).rgb();
    int selected = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            selected += shot.pixel(x, y) == highlight ? 1 : 0;
    EXPECT_GT(selected, 100);
}

INSTANTIATE_TEST_SUITE_P(Desktops, ReadableColours,
                         testing::Values(Desktop{"Light", lightPalette, nullptr},
                                         Desktop{"Dark", darkPalette, nullptr},
                                         Desktop{"LightTurnedDark", lightPalette, darkPalette},
                                         Desktop{"DarkTurnedLight", darkPalette, lightPalette}),
                         [](const testing::TestParamInfo<Desktop>& row) {
                             return std::string(row.param.name);
                         });

} // namespace
