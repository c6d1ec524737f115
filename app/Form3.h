#pragma once

#include "convert/ConversionOptions.h"

#include <QWidget>
#include <memory>
#include <string>

class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace look {
class PagePointer;
}

namespace app {

class PushCheckBox;
class Wizard;

// The options page: the conversion options, the table's delimited text (in the frame "CSV
// File", placed below the visible area) and the editable XML preview.
class Form3 : public QWidget {
public:
    explicit Form3(Wizard& wizard);

    void load();
    look::PagePointer& pointer() { return *pointer_; }

    // The delimited text of the frame's Text1. The text an export put there is given back
    // byte for byte until the box is edited; an edited box gives its lines joined by CR LF.
    void setDelimitedText(std::string text);
    std::string delimitedText() const;

    CSVXML::ConversionOptions options() const;

    // The preview's text as the user sees it, its lines joined by LF; nothing in it is
    // altered (non-breaking spaces stay).
    QString previewText() const;

    // Converts the delimited text into the preview, driving `bar`, with `pointer` busy
    // meanwhile. The preview grows while the run goes on.
    void convert(QProgressBar& bar, look::PagePointer& pointer);

    QPushButton* Command1 = nullptr;
    QCheckBox* Check2 = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* Text4 = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* Text5 = nullptr;
    QFrame* Line2 = nullptr;
    PushCheckBox* Check17 = nullptr;
    QPlainTextEdit* RichTextBox1 = nullptr;
    QFrame* Line1 = nullptr;
    PushCheckBox* Check9 = nullptr;
    PushCheckBox* Check8 = nullptr;
    PushCheckBox* Check7 = nullptr;
    PushCheckBox* Check6 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    PushCheckBox* Check4 = nullptr;
    QGroupBox* Frame1 = nullptr;
    QCheckBox* Check1 = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* Text3 = nullptr;
    QPlainTextEdit* Text1 = nullptr;
    PushCheckBox* Check3 = nullptr;
    PushCheckBox* Check20 = nullptr;
    PushCheckBox* Check5 = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildFrame();

    Wizard& wizard_;
    look::PagePointer* pointer_ = nullptr;
    // While Text1 holds it unedited. Shared, so that a conversion keeps reading it even when the
    // box is edited while the conversion serves the window system.
    std::shared_ptr<const std::string> exportedText_;
};

// The text of a plain-text document with its paragraphs joined by `lineBreak` and nothing else
// changed (QTextDocument::toPlainText would turn non-breaking spaces into blanks).
QString documentText(const QPlainTextEdit& editor, QStringView lineBreak);

} // namespace app
