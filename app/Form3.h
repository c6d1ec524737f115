#pragma once

#include "app/Page.h"
#include "convert/ConversionOptions.h"

#include <memory>
#include <string_view>

class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace app {

class LoadedDocument;
class TextEditor;

// The options page: the conversion options, the table's delimited text (in the frame "CSV
// File", placed below the visible area) and the editable XML preview.
class Form3 : public Page {
public:
    explicit Form3(Wizard& wizard);

    void load();

    // The delimited text of the frame's Text1, byte for byte, edits included.
    void setDelimitedText(std::string_view text);
    // Takes a table's delimited text, made whole in a document, and converts it as Refresh does,
    // into `xmlRoom`: an empty document with room for exactly its XML. When the XML finds too
    // little memory, the page's text is put back as it was (and std::bad_alloc goes on to the
    // caller).
    void showTable(LoadedDocument& text, std::unique_ptr<LoadedDocument> xmlRoom, QProgressBar& bar,
                   look::PagePointer& pointer);

    CSVXML::ConversionOptions options() const;

    // The preview's text, byte for byte as it is held (UTF-8), without a copy: valid until the
    // preview next changes.
    std::string_view previewText() const;

    // Converts the delimited text into the preview on a worker, driving `bar`, with `pointer`
    // busy meanwhile. The preview keeps its text until the new one is whole; a Cancel leaves it.
    void convert(QProgressBar& bar, look::PagePointer& pointer);

    QPushButton* Command1 = nullptr;
    QCheckBox* Check2 = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* Text4 = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* Text5 = nullptr;
    QFrame* Line2 = nullptr;
    PushCheckBox* Check17 = nullptr;
    TextEditor* RichTextBox1 = nullptr;
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
    TextEditor* Text1 = nullptr;
    PushCheckBox* Check3 = nullptr;
    PushCheckBox* Check20 = nullptr;
    PushCheckBox* Check5 = nullptr;

protected:
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildFrame();
    void fillPreview(QProgressBar& bar, look::PagePointer& pointer,
                     std::unique_ptr<LoadedDocument> xmlRoom);
};

} // namespace app
