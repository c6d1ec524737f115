#include "app/TextEditorAccessible.h"

#include "app/TextEditor.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QTimer>
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <optional>

namespace app {

namespace {

using Sci = QsciScintillaBase;

// An edit larger than this is not spelled out to the tool (a whole preview deleted would be
// hundreds of megabytes); the caret's move that follows it still tells where the user is.
constexpr long kLargestAnnouncedEdit = 64 * 1024;

int toInt(long value) {
    return static_cast<int>(std::clamp<long>(value, INT_MIN, INT_MAX));
}

// Offsets are in UTF-16 units, Scintilla's positions in bytes of UTF-8. Scintilla's line index
// of UTF-16 units gives each line's first offset, so a conversion walks one line at most; it is
// kept by Scintilla through every edit once allocated, one entry per line, and is allocated for
// a document only when a tool asks about it.
class TextEditorInterface final : public QAccessibleWidget,
                                  public QAccessibleTextInterface,
                                  public QAccessibleEditableTextInterface {
public:
    explicit TextEditorInterface(TextEditor* editor)
        : QAccessibleWidget(editor, QAccessible::EditableText) {
        // Notified before each change, so that a removed text can still be read and positions
        // are those of the text the tool knows. Scintilla's Qt layer counts characters from the
        // start of the document for the notifications after a change, so those stay off.
        editor->SendScintilla(
            Sci::SCI_SETMODEVENTMASK,
            static_cast<unsigned long>(Sci::SC_MOD_BEFOREINSERT | Sci::SC_MOD_BEFOREDELETE));
        modified_ =
            QObject::connect(editor, &Sci::SCN_MODIFIED, editor,
                             [this](int position, int type, const char*, int length, int, int, int,
                                    int, int, int) { changing(position, type, length); });
        insertDone_.setSingleShot(true);
        insertDone_.setInterval(0);
        QObject::connect(&insertDone_, &QTimer::timeout, editor, [this] { announceInsert(); });
        updated_ = QObject::connect(editor, &Sci::SCN_UPDATEUI, editor,
                                    [this](int updated) { uiUpdated(updated); });
    }
    ~TextEditorInterface() override {
        QObject::disconnect(modified_);
        QObject::disconnect(updated_);
    }

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        if (type == QAccessible::EditableTextInterface)
            return static_cast<QAccessibleEditableTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Description && !editor()->markMessage().isEmpty())
            return editor()->markMessage();
        return QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.editable = !editor()->isReadOnly();
        s.readOnly = editor()->isReadOnly();
        s.multiLine = true;
        s.selectableText = true;
        return s;
    }

    // QAccessibleTextInterface
    void selection(int selectionIndex, int* startOffset, int* endOffset) const override {
        *startOffset = *endOffset = 0;
        if (selectionIndex != 0 || send(Sci::SCI_GETSELECTIONEMPTY) != 0)
            return;
        *startOffset = toInt(offsetOf(send(Sci::SCI_GETSELECTIONSTART)));
        *endOffset = toInt(offsetOf(send(Sci::SCI_GETSELECTIONEND)));
    }
    int selectionCount() const override { return send(Sci::SCI_GETSELECTIONEMPTY) != 0 ? 0 : 1; }
    void addSelection(int startOffset, int endOffset) override {
        setSelection(0, startOffset, endOffset);
    }
    void removeSelection(int selectionIndex) override {
        if (selectionIndex == 0)
            send(Sci::SCI_SETEMPTYSELECTION, send(Sci::SCI_GETCURRENTPOS));
    }
    void setSelection(int selectionIndex, int startOffset, int endOffset) override {
        if (selectionIndex == 0)
            send(Sci::SCI_SETSEL, positionOf(startOffset), positionOf(endOffset));
    }
    int cursorPosition() const override { return toInt(offsetOf(send(Sci::SCI_GETCURRENTPOS))); }
    void setCursorPosition(int position) override { send(Sci::SCI_GOTOPOS, positionOf(position)); }
    QString text(int startOffset, int endOffset) const override {
        return range(positionOf(startOffset), positionOf(endOffset));
    }
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundary, int* startOffset,
                             int* endOffset) const override {
        long from = 0, to = 0;
        if (!around(positionOf(offset), boundary, from, to) || from == 0 ||
            !around(send(Sci::SCI_POSITIONBEFORE, from), boundary, from, to))
            return none(startOffset, endOffset);
        return found(from, to, startOffset, endOffset);
    }
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundary, int* startOffset,
                            int* endOffset) const override {
        long from = 0, to = 0;
        if (!around(positionOf(offset), boundary, from, to) || to >= length() ||
            !around(to, boundary, from, to))
            return none(startOffset, endOffset);
        return found(from, to, startOffset, endOffset);
    }
    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundary, int* startOffset,
                         int* endOffset) const override {
        long from = 0, to = 0;
        if (!around(positionOf(offset), boundary, from, to))
            return none(startOffset, endOffset);
        return found(from, to, startOffset, endOffset);
    }
    int characterCount() const override { return toInt(offsetOf(length())); }
    QRect characterRect(int offset) const override {
        const long position = positionOf(offset);
        const auto line = static_cast<unsigned long>(send(Sci::SCI_LINEFROMPOSITION, position));
        const long x = send(Sci::SCI_POINTXFROMPOSITION, 0ul, position);
        const long y = send(Sci::SCI_POINTYFROMPOSITION, 0ul, position);
        const long next = send(Sci::SCI_POSITIONAFTER, position);
        const long width = next > position ? send(Sci::SCI_POINTXFROMPOSITION, 0ul, next) - x : 0;
        const QRect rect(toInt(x), toInt(y), toInt(std::max(width, 1l)),
                         toInt(send(Sci::SCI_TEXTHEIGHT, line)));
        return rect.translated(editor()->viewport()->mapToGlobal(QPoint(0, 0)));
    }
    int offsetAtPoint(const QPoint& point) const override {
        const QPoint at = editor()->viewport()->mapFromGlobal(point);
        const long position =
            send(Sci::SCI_POSITIONFROMPOINTCLOSE, static_cast<unsigned long>(std::max(at.x(), 0)),
                 static_cast<long>(at.y()));
        return position < 0 ? -1 : toInt(offsetOf(position));
    }
    void scrollToSubstring(int startIndex, int endIndex) override {
        send(Sci::SCI_SCROLLRANGE, positionOf(endIndex), positionOf(startIndex));
    }
    QString attributes(int, int* startOffset, int* endOffset) const override {
        *startOffset = 0;
        *endOffset = characterCount();
        return QString();
    }

    // QAccessibleEditableTextInterface
    void deleteText(int startOffset, int endOffset) override {
        replaceText(startOffset, endOffset, QString());
    }
    void insertText(int offset, const QString& text) override { replaceText(offset, offset, text); }
    void replaceText(int startOffset, int endOffset, const QString& text) override {
        if (editor()->isReadOnly())
            return;
        const long from = positionOf(startOffset);
        const long to = std::max(from, positionOf(endOffset));
        const QByteArray utf8 = text.toUtf8();
        send(Sci::SCI_SETTARGETRANGE, from, to);
        editor()->SendScintilla(Sci::SCI_REPLACETARGET, static_cast<unsigned long>(utf8.size()),
                                utf8.constData());
    }

private:
    TextEditor* editor() const { return static_cast<TextEditor*>(widget()); }

    long send(unsigned int message, long wParam = 0, long lParam = 0) const {
        return editor()->SendScintilla(message, static_cast<unsigned long>(wParam), lParam);
    }
    long length() const { return send(Sci::SCI_GETLENGTH); }

    // The index belongs to the document, and the editor changes its document when the text
    // grows past what it highlights.
    void ensureIndex() const {
        if ((send(Sci::SCI_GETLINECHARACTERINDEX) & Sci::SC_LINECHARACTERINDEX_UTF16) == 0)
            send(Sci::SCI_ALLOCATELINECHARACTERINDEX, Sci::SC_LINECHARACTERINDEX_UTF16);
    }
    long offsetOf(long position) const {
        ensureIndex();
        position = std::clamp(position, 0l, length());
        const long line = send(Sci::SCI_LINEFROMPOSITION, position);
        const long start = send(Sci::SCI_POSITIONFROMLINE, line);
        return send(Sci::SCI_INDEXPOSITIONFROMLINE, line, Sci::SC_LINECHARACTERINDEX_UTF16) +
               send(Sci::SCI_COUNTCODEUNITS, start, position);
    }
    // -1 stands for the end of the text, as the interface has it.
    long positionOf(int offset) const {
        ensureIndex();
        const long end = length();
        if (offset < 0 || offset >= characterCount())
            return offset == 0 ? 0 : end;
        const long line =
            send(Sci::SCI_LINEFROMINDEXPOSITION, offset, Sci::SC_LINECHARACTERINDEX_UTF16);
        const long rest =
            offset - send(Sci::SCI_INDEXPOSITIONFROMLINE, line, Sci::SC_LINECHARACTERINDEX_UTF16);
        const long start = send(Sci::SCI_POSITIONFROMLINE, line);
        return rest == 0 ? start : send(Sci::SCI_POSITIONRELATIVECODEUNITS, start, rest);
    }
    // The bytes from `from` to `to` as text, without moving more of the text than the range.
    QString range(long from, long to) const {
        from = std::clamp(from, 0l, length());
        to = std::clamp(to, from, length());
        if (to == from)
            return QString();
        const auto* bytes = reinterpret_cast<const char*>(editor()->SendScintilla(
            Sci::SCI_GETRANGEPOINTER, static_cast<unsigned long>(from), to - from));
        return QString::fromUtf8(bytes, to - from);
    }
    // The piece of the text that holds `position`: a character, a word or a line (sentences and
    // paragraphs are lines in XML). A line ends after its line end.
    bool around(long position, QAccessible::TextBoundaryType boundary, long& from, long& to) const {
        const long end = length();
        switch (boundary) {
        case QAccessible::CharBoundary:
            from = position;
            to = send(Sci::SCI_POSITIONAFTER, position);
            return to > from;
        case QAccessible::WordBoundary:
            from = send(Sci::SCI_WORDSTARTPOSITION, position, 1);
            to = send(Sci::SCI_WORDENDPOSITION, position, 1);
            if (to == from) { // between words: the character there
                to = send(Sci::SCI_POSITIONAFTER, position);
            }
            return to > from;
        case QAccessible::SentenceBoundary:
        case QAccessible::ParagraphBoundary:
        case QAccessible::LineBoundary: {
            const long line = send(Sci::SCI_LINEFROMPOSITION, position);
            from = send(Sci::SCI_POSITIONFROMLINE, line);
            to = send(Sci::SCI_POSITIONFROMLINE, line + 1);
            if (to < from) // the last line
                to = end;
            return to > from;
        }
        case QAccessible::NoBoundary:
            from = 0;
            to = end;
            return to > from;
        }
        return false;
    }
    QString found(long from, long to, int* startOffset, int* endOffset) const {
        *startOffset = toInt(offsetOf(from));
        *endOffset = toInt(offsetOf(to));
        return range(from, to);
    }
    static QString none(int* startOffset, int* endOffset) {
        *startOffset = *endOffset = -1;
        return QString();
    }

    // Scintilla's Qt layer hands positions on as int: past 2 GiB one comes cut to 32 bits. The
    // position meant is the one with those low bits nearest the caret, where the user edits.
    long fullPosition(int position) const {
        constexpr long kWrap = 1l << 32;
        long full = static_cast<long>(static_cast<std::uint32_t>(position));
        const long caret = send(Sci::SCI_GETCURRENTPOS);
        const long end = length();
        while (full + kWrap <= end && std::abs(full + kWrap - caret) < std::abs(full - caret))
            full += kWrap;
        return full;
    }

    // Scintilla's Qt layer passes no text with the notice before an insertion: the inserted text
    // is read once it is in, at the next change or on the next turn of the event loop.
    void changing(int position, int type, int bytes) {
        announceInsert();
        if (!QAccessible::isActive() || editor()->filling() || bytes <= 0 ||
            bytes > kLargestAnnouncedEdit)
            return;
        const long at = fullPosition(position);
        const int offset = toInt(offsetOf(at));
        if ((type & Sci::SC_MOD_BEFOREINSERT) != 0) {
            inserting_ = {at, bytes, offset};
            insertDone_.start();
        } else if ((type & Sci::SC_MOD_BEFOREDELETE) != 0) {
            QAccessibleTextRemoveEvent event(editor(), offset, range(at, at + bytes));
            QAccessible::updateAccessibility(&event);
        }
    }
    void announceInsert() {
        if (!inserting_)
            return;
        const Insertion done = *inserting_;
        inserting_.reset();
        insertDone_.stop();
        QAccessibleTextInsertEvent event(editor(), done.offset,
                                         range(done.position, done.position + done.bytes));
        QAccessible::updateAccessibility(&event);
    }
    void uiUpdated(int updated) {
        if (!QAccessible::isActive() || (updated & Sci::SC_UPDATE_SELECTION) == 0)
            return;
        const int caret = cursorPosition();
        if (caret != lastCaret_) {
            lastCaret_ = caret;
            QAccessibleTextCursorEvent event(editor(), caret);
            QAccessible::updateAccessibility(&event);
        }
        if (send(Sci::SCI_GETSELECTIONEMPTY) == 0) {
            int from = 0, to = 0;
            selection(0, &from, &to);
            QAccessibleTextSelectionEvent event(editor(), from, to);
            QAccessible::updateAccessibility(&event);
        }
    }

    struct Insertion {
        long position;
        long bytes;
        int offset;
    };
    std::optional<Insertion> inserting_;
    QTimer insertDone_;
    QMetaObject::Connection modified_;
    QMetaObject::Connection updated_;
    int lastCaret_ = -1;
};

QAccessibleInterface* accessibleFor(const QString& className, QObject* object) {
    if (className == QLatin1String(TextEditor::staticMetaObject.className()) && object &&
        object->isWidgetType())
        return new TextEditorInterface(static_cast<TextEditor*>(object));
    return nullptr;
}

} // namespace

namespace TextEditorAccessible {

void install() {
    static const bool installed = [] {
        QAccessible::installFactory(accessibleFor);
        return true;
    }();
    static_cast<void>(installed);
}

void markChanged(TextEditor& editor) {
    if (!QAccessible::isActive())
        return;
    QAccessibleEvent event(&editor, QAccessible::DescriptionChanged);
    QAccessible::updateAccessibility(&event);
}

} // namespace TextEditorAccessible

} // namespace app
