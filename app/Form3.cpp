#include "app/Form3.h"

#include "app/Design.h"
#include "app/Form2.h"
#include "app/Form4.h"
#include "app/Host.h"
#include "app/LoadedDocument.h"
#include "app/PushCheckBox.h"
#include "app/TablePreview.h"
#include "app/TextEditor.h"
#include "app/Wizard.h"
#include "app/look/Look.h"
#include "convert/ConvertTextToXml.h"
#include "convert/XmlSize.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>

namespace app {

using design::twips;

Form3::Form3(Wizard& wizard)
    : Page(wizard, QStringLiteral("Form3"), QStringLiteral("Brisklet"), 5895, 3900, true) {
    Command1 = new QPushButton(QStringLiteral("Command1"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setGeometry(twips(-720, 0, 615, 495));
    QFont plain = QApplication::font();
    plain.setFamily(plain.family());
    plain.setPointSizeF(plain.pointSizeF());
    plain.setWeight(plain.weight());
    Command1->setFont(plain);
    Command1->setAutoDefault(false);

    Check2 = design::checkBox(this, QStringLiteral("Check2"), QStringLiteral("Use Row Tags"),
                              twips(140, 120, 1575, 255));
    Check2->setChecked(true);
    Label2 = design::label(this, QStringLiteral("Label2"), QStringLiteral("Row Tag:"),
                           twips(1800, 120, 975, 255), 9.75);
    Text4 = design::textBox<QLineEdit>(this, QStringLiteral("Text4"), QStringLiteral("row"),
                                       twips(2760, 120, 1215, 285), 9.75);
    Label3 = design::label(this, QStringLiteral("Label3"), QStringLiteral("XML Tag:"),
                           twips(4080, 120, 1095, 255), 9.75);
    Text5 = design::textBox<QLineEdit>(this, QStringLiteral("Text5"), QStringLiteral("XML"),
                                       twips(5040, 120, 735, 285), 9.75);
    Line2 = design::line(this, QStringLiteral("Line2"), 120, 480, 5760);
    Check17 = design::button(this, QStringLiteral("Check17"), QStringLiteral("Refresh"),
                             twips(120, 600, 5655, 400));
    RichTextBox1 = new TextEditor(this, TextEditor::Kind::Xml, design::arial(9.75));
    RichTextBox1->setObjectName(QStringLiteral("RichTextBox1"));
    RichTextBox1->setGeometry(twips(120, 1080, 5655, 2055));
    RichTextBox1->setAccessibleName(QStringLiteral("XML preview"));
    RichTextBox1->viewport()->installEventFilter(this);
    buttonRow(3360, {"Check9", "Check8", "Check7", "Check6"}, Line1, Check9, Check8, Check7,
              Check6);
    Check7->setEnabled(false);
    Check6->setEnabled(false);

    // Below the visible area.
    ProgressBar1 =
        design::progressBar(this, QStringLiteral("ProgressBar1"), twips(120, 4560, 5655, 375));
    Check4 = design::button(this, QStringLiteral("Check4"), QStringLiteral("Save to File"),
                            twips(120, 4920, 6615, 375), 11.25);
    ProgressBar1->setAccessibleName(QStringLiteral("Progress"));
    buildFrame();
    Label2->setBuddy(Text4);
    Label3->setBuddy(Text5);
    Label1->setBuddy(Text3);
    Text1->setAccessibleName(QStringLiteral("Delimited text"));

    tabOrder({Command1, Check20, Check3, Check17, Check1, Text3, Check5, Text1, Text5, Text4,
              Check2, Check4, RichTextBox1, Check6, Check8, Check9, Check7});
    keepOutOfViewUnfocused();
    // It does nothing and its caption is a placeholder: not offered to assistive tools either.
    Command1->hide();
    Check17->setFocus(); // the first in the order that can be seen

    connect(RichTextBox1, &TextEditor::contentChanged, this,
            [this] { Check7->setEnabled(!RichTextBox1->isEmptyText()); });

    onPress(Check8, [this] { wizard_.move(*this, wizard_.form2()); });
    onPress(Check7, [this] { wizard_.move(*this, wizard_.form4()); });
    onPress(Check17, [this] {
        try {
            convert(*ProgressBar1, *pointer_);
        } catch (const std::bad_alloc&) {
            ProgressBar1->setValue(0);
            wizard_.host().showMessage(
                this,
                QStringLiteral("There is too little memory to show this XML in the preview."));
        }
    });
    onPress(Check5, [this] { Text1->clear(); });

    for (QWidget* button : {Check3, Check4, Check5, Check17})
        pointer_->bind(button, look::Custom);
    const QList<QWidget*> plain_controls{this,   Frame1, Label1,       Label2, Label3, Check1,
                                         Check2, Text1,  RichTextBox1, Text3,  Text4,  Text5};
    for (QWidget* control : plain_controls)
        pointer_->bind(control, look::Default);
    for (QWidget* box : {Text3, Text4, Text5})
        pointer_->keepOwnPointer(box);
    connect(pointer_, &look::PagePointer::settingChanged, this, [this](int setting) {
        RichTextBox1->setBusy(setting == look::Busy);
        Text1->setBusy(setting == look::Busy);
    });
}

void Form3::buildFrame() {
    Frame1 = new QGroupBox(QStringLiteral("CSV File"), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setGeometry(twips(120, 5280, 6855, 3255));
    Frame1->setFont(design::arial());

    Check1 = design::checkBox(Frame1, QStringLiteral("Check1"),
                              QStringLiteral("There is a Header Row"), twips(600, 240, 2535, 255));
    Check1->setChecked(true);
    Label1 =
        design::label(Frame1, QStringLiteral("Label1"), QStringLiteral("Seperating Character:"),
                      twips(3240, 240, 2175, 255), 9.75);
    Text3 = design::textBox<QLineEdit>(Frame1, QStringLiteral("Text3"), QStringLiteral(","),
                                       twips(5520, 240, 375, 285));
    Text1 = new TextEditor(Frame1, TextEditor::Kind::Plain, design::arial(9.75));
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setGeometry(twips(120, 600, 6615, 2055));
    Check3 = design::button(Frame1, QStringLiteral("Check3"), QStringLiteral("Load CSV"),
                            twips(120, 2760, 2415, 375), 11.25);
    Check20 = design::button(Frame1, QStringLiteral("Check20"), QStringLiteral("Save Above As CSV"),
                             twips(2640, 2760, 2415, 375), 11.25);
    Check5 = design::button(Frame1, QStringLiteral("Check5"), QStringLiteral("Clear"),
                            twips(5160, 2760, 1575, 375), 11.25);
}

void Form3::load() {
    loadLook();
    look::setWhiteBackground(*ProgressBar1);
    // The page is filled before it is first shown. A widget that was never shown has not
    // settled its size yet, so its text would be laid out at a passing width and all over
    // again on the first show (seconds and gigabytes for a large table). Settle it now, while
    // the boxes are empty, without putting anything on the screen.
    setAttribute(Qt::WA_DontShowOnScreen, true);
    show();
    hide();
    setAttribute(Qt::WA_DontShowOnScreen, false);
}

void Form3::setDelimitedText(std::string_view text) {
    Text1->setBytes(text);
}

void Form3::showTable(LoadedDocument& text, std::unique_ptr<LoadedDocument> xmlRoom,
                      QProgressBar& bar, look::PagePointer& pointer) {
    TextEditor::Replaced previous = Text1->takeDocument(text);
    try {
        fillPreview(bar, pointer, std::move(xmlRoom));
    } catch (const std::bad_alloc&) {
        previous.restore(); // the work has returned: nothing reads the new text any more
        throw;
    }
}

CSVXML::ConversionOptions Form3::options() const {
    CSVXML::ConversionOptions options;
    options.separator = Text3->text().toStdString();
    options.rowTag = Text4->text().toStdString();
    options.xmlTag = Text5->text().toStdString();
    options.headerRow = Check1->isChecked();
    options.useRowTags = Check2->isChecked();
    return options;
}

std::string_view Form3::previewText() const {
    return RichTextBox1->bytes();
}

void Form3::convert(QProgressBar& bar, look::PagePointer& pointer) {
    fillPreview(bar, pointer, nullptr);
}

void Form3::fillPreview(QProgressBar& bar, look::PagePointer& pointer,
                        std::unique_ptr<LoadedDocument> xmlRoom) {
    pointer.setSetting(look::Busy);
    // The delimited text stays put while the worker reads it: no typing, and the other buttons
    // wait for this one.
    const bool textWasReadOnly = Text1->isReadOnly();
    Text1->setReadOnly(true);
    const struct Restore {
        TextEditor& text;
        bool readOnly;
        look::PagePointer& pointer;
        ~Restore() {
            text.setReadOnly(readOnly);
            pointer.setSetting(look::Default);
        }
    } restore{*Text1, textWasReadOnly, pointer};
    const std::string_view text = Text1->bytes();
    const CSVXML::ConversionOptions settings = options();
    const auto showProgress = [&bar](qint64 done, qint64 steps) {
        bar.setValue(static_cast<int>(db::Progress::percent(done, steps)));
    };
    if (!xmlRoom) {
        // The XML is measured on a worker first. The preview keeps its old text until the new
        // one is whole, unless the two would not fit in memory side by side: then the old one
        // goes first.
        auto size = std::make_shared<CSVXML::XmlSize>();
        wizard_.runDatabaseWork(
            [size, text, settings](db::Progress& progress) {
                *size = CSVXML::MeasureXml(text, settings, progress);
            },
            showProgress);
        if (!previewFits(0, 0, size->bytes, size->lineBreaks + 1, wizard_.host().availableMemory()))
            RichTextBox1->clear();
        auto room = std::make_shared<std::unique_ptr<LoadedDocument>>();
        wizard_.runDatabaseWork(
            [room, bytes = size->bytes, &maker = wizard_.documentMaker()](db::Progress&) {
                *room = documentFor(maker, TextEditor::Kind::Xml, bytes);
            });
        xmlRoom = std::move(*room);
    }
    // The XML made into its room on a worker.
    auto xml = std::make_shared<std::unique_ptr<LoadedDocument>>(std::move(xmlRoom));
    wizard_.runDatabaseWork(
        [xml, text, settings](db::Progress& progress) {
            DocumentSink sink(**xml);
            CSVXML::ConvertTextToXml(text, settings, sink, progress);
        },
        showProgress);
    bar.setValue(0);
    const TextEditor::Replaced previous = RichTextBox1->takeDocument(**xml);
}

bool Form3::eventFilter(QObject* watched, QEvent* event) {
    if (watched == RichTextBox1->viewport() && event->type() == QEvent::MouseButtonPress &&
        static_cast<QMouseEvent*>(event)->button() == Qt::RightButton)
        RichTextBox1->setFocus(Qt::MouseFocusReason);
    return QWidget::eventFilter(watched, event);
}

// The page is disabled while the table list is filled, which takes the focus from its
// controls; it comes back to the first one.
void Form3::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::EnabledChange && isEnabled() && !focusWidget())
        Check17->setFocus();
}

} // namespace app
