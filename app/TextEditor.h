#pragma once

#include "app/LoadedDocument.h"
#include "app/Qsci.h"
#include "app/XmlCheck.h"

#include <QTimer>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class QsciLexerXML;

namespace app {

// An editor for texts of hundreds of megabytes: the options page's XML preview and the frame's
// delimited text. It holds the text as UTF-8 bytes exactly as they were put in (lone LF, lone
// CR, U+2028 and every other character stay), gives them back without a copy, and types CR LF
// for Enter.
//
// Scintilla's modification notifications are switched off: the Qt layer turns the byte position
// of each into a character offset by walking the text from its start, so with them every
// insertion costs time in proportion to where it lands (seconds per keystroke at the end of a
// large document). Changes are seen through the save point instead, which Scintilla reports
// whatever the notification mask.
class TextEditor : public QsciScintilla {
    Q_OBJECT

public:
    enum class Kind {
        Xml,   // highlighted and folded while small enough; checked for well-formedness
        Plain, // never styled
    };

    // Moving to the end of a highlighted document styles all of it first. Measured on this
    // project's 2-core machines with XML of the wizard's shape: 1 MB 30 ms, 4 MB 104 ms,
    // 16 MB 406 ms. 16 MB keeps Ctrl+End well under a second with room for slower machines;
    // above it the text is plain and no style byte per character is held.
    static constexpr std::size_t kHighlightLimit = 16u << 20;

    // Past this size the document keeps its positions and line starts 64-bit: a document of
    // 32-bit positions shows garbage past 2 GiB. Below it the 32-bit index is kept, since at 8
    // bytes instead of 4 per line it would cost 40 MB more at a million rows of ten lines.
    static constexpr std::size_t kLargeTextLimit = 0x7fff'ffffu;

    // A position or a line number in the text, as wide as Scintilla's own.
    using Position = std::intptr_t;

    TextEditor(QWidget* parent, Kind kind, const QFont& font);
    ~TextEditor() override;

    // The whole text, without a copy. Valid until the text next changes.
    std::string_view bytes() const;
    std::size_t size() const;
    bool isEmptyText() const { return size() == 0; }

    // Empties the text; a small XML text after a large one gets its highlighting back.
    void clear() override;
    // Whether the text is being replaced by the program (setBytes, takeDocument).
    bool filling() const { return filling_; }

    // While busy the editor shows the wait cursor wherever the mouse moves over it, margins
    // included; Scintilla otherwise picks the I-beam or the arrow itself on every move.
    void setBusy(bool busy);

    // Replaces the whole text. Meanwhile the editor is read-only and keeps no undo history;
    // room for the text is made at once, and a text too large to highlight is plain.
    void setBytes(std::string_view utf8);

    // The document's layout for a text of `bytes`: highlighted while small enough (XML only),
    // with 64-bit positions past 2 GiB.
    static LoadedDocument::Layout layoutFor(Kind kind, std::size_t bytes) {
        return {kind == Kind::Xml && bytes <= kHighlightLimit, bytes > kLargeTextLimit};
    }
    // The text that a loaded document replaced, held until this goes (then its memory is given
    // back on the document maker's thread) or put back by restore().
    class Replaced {
    public:
        Replaced(Replaced&& other) noexcept;
        Replaced& operator=(Replaced&&) = delete;
        ~Replaced();
        // The old text in the editor again, as it was, with its undo history.
        void restore();

    private:
        friend class TextEditor;
        Replaced(TextEditor& editor, DocumentMaker& maker, Position document,
                 LoadedDocument::Layout layout);
        TextEditor* editor_;
        DocumentMaker* maker_;
        Position document_;
        LoadedDocument::Layout layout_;
    };

    // Shows `loaded`, whole, in place of the text, without its undo history; the editor keeps its
    // read-only setting.
    [[nodiscard]] Replaced takeDocument(LoadedDocument& loaded);

    // The well-formedness mark: empty while the text is well-formed (or not yet checked).
    const QString& markMessage() const { return markMessage_; }

    // How long the user must stop typing before the text is checked again.
    static constexpr int kCheckDelayMs = 500;

Q_SIGNALS:
    // The text changed: a fill ended or the user edited it.
    void contentChanged();

protected:
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // Scintilla's message call with the position-wide forms of its arguments and result.
    Position send(unsigned int message, std::uintptr_t wParam = 0, Position lParam = 0) const;
    void useDocument(bool styled, bool large);
    void putDocument(Position document, bool styled, bool large);
    // Empties the text in the layout for `bytes` to come, with room made for them.
    void emptyFor(std::size_t bytes);
    void textPutInPlace();
    void applyColours();
    void userChanged();
    void rearm();
    void startCheck();
    void checkStep();
    void setMark(const std::optional<XmlCheck::Problem>& problem);
    void showMarkTip(int x, int y);

    Kind kind_;
    QsciLexerXML* lexer_ = nullptr;
    bool styled_ = true;
    bool large_ = false;
    bool filling_ = false;
    QTimer delayTimer_;
    QTimer stepTimer_;
    std::unique_ptr<XmlCheck> check_;
    // Every change the editor sees counts here; a check reads the buffer only while the count is
    // the one it began with and the text is still at its save point.
    std::uint64_t edits_ = 0;
    std::uint64_t checkedEdits_ = 0;
    QString markMessage_;
};

} // namespace app
