#include "app/TextEditor.h"

#include "app/TextEditorAccessible.h"

#include <QKeyEvent>
#include <QToolTip>
#include <Qsci/qscicommandset.h>
#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

namespace app {

namespace {

using Sci = QsciScintillaBase;

// The indicator that underlines the first fault of the XML.
constexpr int kMarkIndicator = 8; // INDIC_CONTAINER: the first one free for applications

// One slice of the check: short enough that typing and repainting never wait on it.
constexpr std::chrono::milliseconds kCheckSlice{8};

// The keys of a plain text box: moving (alone, with Shift to select, with Ctrl by words or to
// the ends), the clipboard, undo and redo, deleting a character or a word, and Enter. Every
// other binding of Scintilla's own map goes: it holds keys that change the text behind the
// user's back (Ctrl+U lower-cases the selection, Ctrl+L deletes the line, Ctrl+D duplicates it,
// Ctrl+T swaps two lines).
bool isTextBoxKey(int key) {
    const int modifiers = key & int(Qt::KeyboardModifierMask);
    const int bare = key & ~int(Qt::KeyboardModifierMask);
    constexpr int shift = int(Qt::SHIFT);
    constexpr int ctrl = int(Qt::CTRL);
    constexpr std::array moves{Qt::Key_Left, Qt::Key_Right, Qt::Key_Up,     Qt::Key_Down,
                               Qt::Key_Home, Qt::Key_End,   Qt::Key_PageUp, Qt::Key_PageDown};
    if (std::find(moves.begin(), moves.end(), bare) != moves.end())
        return modifiers == 0 || modifiers == shift || modifiers == ctrl ||
               modifiers == (ctrl | shift);
    switch (bare) {
    case Qt::Key_A:
    case Qt::Key_C:
    case Qt::Key_X:
    case Qt::Key_V:
    case Qt::Key_Y:
        return modifiers == ctrl;
    case Qt::Key_Z:
        return modifiers == ctrl || modifiers == (ctrl | shift);
    case Qt::Key_Insert: // Ctrl+Insert copies, Shift+Insert pastes
        return modifiers == ctrl || modifiers == shift;
    case Qt::Key_Backspace:
    case Qt::Key_Delete: // Shift+Delete cuts
        return modifiers == 0 || modifiers == ctrl || modifiers == shift;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return modifiers == 0 || modifiers == shift;
    case Qt::Key_Escape:
        return modifiers == 0;
    default:
        return false;
    }
}

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

// Text below this contrast with its background is hard to read (WCAG AA).
constexpr double kReadableContrast = 4.5;

// The lexer's colours are made for white paper. One that does not read on `paper` keeps its hue
// and takes a lightness that does: a dark colour on a dark paper first turns into its light
// counterpart (navy into light blue, black into white), then any colour still too close moves
// on away from the paper's lightness. Black or white at the end always reads.
QColor readableOn(const QColor& paper, const QColor& colour) {
    if (contrast(colour, paper) >= kReadableContrast)
        return colour;
    float hue = 0;
    float saturation = 0;
    float lightness = 0;
    colour.getHslF(&hue, &saturation, &lightness);
    const bool darkPaper = contrast(Qt::white, paper) > contrast(Qt::black, paper);
    if (darkPaper == (lightness < 0.5f))
        lightness = 1 - lightness;
    const float step = darkPaper ? 0.01f : -0.01f;
    QColor readable = QColor::fromHslF(hue, saturation, lightness);
    while (contrast(readable, paper) < kReadableContrast && lightness > 0 && lightness < 1) {
        lightness = std::clamp(lightness + step, 0.0f, 1.0f);
        readable = QColor::fromHslF(hue, saturation, lightness);
    }
    return readable;
}

// A few styles have a tinted paper of their own on white (CDATA pink, the document type's
// blue); on another background the same tint is taken off the box's own colour.
QColor paperOf(const QsciLexer& lexer, int style, const QColor& base) {
    const QColor own = lexer.defaultPaper(style);
    if (own == lexer.defaultPaper())
        return base;
    const auto tinted = [](int channel, int tint) {
        return std::clamp(channel - 255 + tint, 0, 255);
    };
    return {tinted(base.red(), own.red()), tinted(base.green(), own.green()),
            tinted(base.blue(), own.blue())};
}

void keepTextBoxKeys(QsciCommandSet& commands) {
    for (QsciCommand* command : commands.commands()) {
        if (!isTextBoxKey(command->key()))
            command->setKey(0);
        if (!isTextBoxKey(command->alternateKey()))
            command->setAlternateKey(0);
    }
}

} // namespace

TextEditor::TextEditor(QWidget* parent, Kind kind, const QFont& font)
    : QsciScintilla(parent), kind_(kind) {
    // After Scintilla's own factory, so that ours is asked first: Scintilla's counts the
    // characters from the start of the document on every repaint.
    TextEditorAccessible::install();
    QsciScintilla::setFont(font);
    setUtf8(true);
    setEolMode(EolWindows);
    setWrapMode(WrapNone);
    setMarginWidth(1, 0);
    setMarginLineNumbers(1, false);
    SendScintilla(SCI_SETMODEVENTMASK, 0ul);
    // No annotations are shown: with them on, putting a document in place measures each of its
    // lines' annotations (40 ms at 8 million lines).
    setAnnotationDisplay(AnnotationHidden);
    keepTextBoxKeys(*standardCommands());
    // Lines are laid out as they are shown, not all at once.
    SendScintilla(SCI_SETLAYOUTCACHE, static_cast<unsigned long>(SC_CACHE_CARET));
    // Let the width of the longest line shown so far set the horizontal scroll range, rather
    // than measuring every line.
    SendScintilla(SCI_SETSCROLLWIDTHTRACKING, 1ul);
    SendScintilla(SCI_SETSCROLLWIDTH, 1ul);

    connect(this, &QsciScintillaBase::SCN_SAVEPOINTLEFT, this, &TextEditor::userChanged);
    connect(this, &QsciScintillaBase::SCN_SAVEPOINTREACHED, this, &TextEditor::userChanged);

    if (kind_ == Kind::Xml) {
        lexer_ = new QsciLexerXML(this);
        lexer_->setFoldCompact(false);
        delayTimer_.setSingleShot(true);
        delayTimer_.setInterval(kCheckDelayMs);
        connect(&delayTimer_, &QTimer::timeout, this, &TextEditor::startCheck);
        stepTimer_.setInterval(0);
        connect(&stepTimer_, &QTimer::timeout, this, &TextEditor::checkStep);
        SendScintilla(SCI_INDICSETSTYLE, kMarkIndicator, static_cast<long>(INDIC_SQUIGGLE));
        SendScintilla(SCI_INDICSETFORE, static_cast<unsigned long>(kMarkIndicator),
                      QColor(Qt::red));
        SendScintilla(SCI_SETMOUSEDWELLTIME, 400ul);
        // The position the signal carries is an int; the tip finds its own from the point.
        connect(this, &QsciScintillaBase::SCN_DWELLSTART, this,
                [this](int, int x, int y) { showMarkTip(x, y); });
        connect(this, &QsciScintillaBase::SCN_DWELLEND, this, [] { QToolTip::hideText(); });
    }
    useDocument(kind_ == Kind::Xml, false);
}

TextEditor::~TextEditor() = default;

// QScintilla's call takes and gives `long`, which holds a position on the platforms we build
// for; its int-based helpers (lineIndexFromPosition and the like) do not, and are not used.
static_assert(sizeof(long) == sizeof(TextEditor::Position));

TextEditor::Position TextEditor::send(unsigned int message, std::uintptr_t wParam,
                                      Position lParam) const {
    return SendScintilla(message, static_cast<unsigned long>(wParam), static_cast<long>(lParam));
}

void TextEditor::useDocument(bool styled, bool large) {
    // A document of our own in place of the editor's: one without styles holds no byte per
    // character beside the text.
    Position options = styled ? SC_DOCUMENTOPTION_DEFAULT : SC_DOCUMENTOPTION_STYLES_NONE;
    if (large)
        options |= SC_DOCUMENTOPTION_TEXT_LARGE;
    putDocument(send(SCI_CREATEDOCUMENT, 0, options), styled, large);
}

void TextEditor::putDocument(Position document, bool styled, bool large) {
    const bool readOnly = isReadOnly();
    setLexer(nullptr);
    setFolding(NoFoldStyle);
    send(SCI_SETDOCPOINTER, 0, document);
    send(SCI_RELEASEDOCUMENT, 0, document); // the editor holds it now
    styled_ = styled;
    large_ = large;
    SendScintilla(SCI_SETCODEPAGE, static_cast<unsigned long>(SC_CP_UTF8));
    SendScintilla(SCI_SETEOLMODE, static_cast<unsigned long>(SC_EOL_CRLF));
    if (styled && lexer_) {
        lexer_->setDefaultFont(font());
        lexer_->setFont(font(), -1);
        setLexer(lexer_);
        setFolding(BoxedTreeFoldStyle, 2);
    } else {
        // Without a lexer Scintilla styles nothing: the default style is the whole look.
        SendScintilla(SCI_STYLESETFONT, STYLE_DEFAULT, font().family().toUtf8().constData());
        SendScintilla(
            SCI_STYLESETSIZEFRACTIONAL, STYLE_DEFAULT,
            static_cast<long>(font().pointSizeF() * static_cast<int>(SC_FONT_SIZE_MULTIPLIER)));
        SendScintilla(SCI_STYLESETBOLD, STYLE_DEFAULT, font().bold() ? 1l : 0l);
        SendScintilla(SCI_STYLECLEARALL);
    }
    applyColours();
    SendScintilla(SCI_SETREADONLY, readOnly ? 1ul : 0ul);
}

// The box's own colours, as every text box of the desktop has them: its Base and Text, and its
// Highlight for the selection. QScintilla takes them once, from the application, and its lexer
// has colours of its own made for white.
void TextEditor::applyColours() {
    const QPalette& colours = palette();
    const QColor paper = colours.color(QPalette::Active, QPalette::Base);
    const QColor text = colours.color(QPalette::Active, QPalette::Text);
    if (lexer_) {
        const QsciLexer& lexer = *lexer_;
        for (int style = 0; style <= STYLE_MAX; ++style) {
            if (style != STYLE_DEFAULT && lexer.description(style).isEmpty())
                continue;
            const QColor back = paperOf(lexer, style, paper);
            lexer_->setPaper(back, style);
            lexer_->setColor(readableOn(back, lexer.defaultColor(style)), style);
        }
    }
    if (!lexer()) {
        // Style 0 is all of a plain text; the default style fills the rest of the box.
        SendScintilla(SCI_STYLESETFORE, STYLE_DEFAULT, text);
        setColor(text);
        setPaper(paper);
    }
    setCaretForegroundColor(text);
    setSelectionForegroundColor(colours.color(QPalette::Active, QPalette::HighlightedText));
    setSelectionBackgroundColor(colours.color(QPalette::Active, QPalette::Highlight));
}

void TextEditor::changeEvent(QEvent* event) {
    QsciScintilla::changeEvent(event);
    // The desktop's theme changed while the wizard runs.
    if (event->type() == QEvent::PaletteChange)
        applyColours();
}

std::string_view TextEditor::bytes() const {
    const auto length = static_cast<std::size_t>(send(SCI_GETLENGTH));
    if (length == 0)
        return {};
    const auto* text = reinterpret_cast<const char*>(send(SCI_GETCHARACTERPOINTER));
    return {text, length};
}

std::size_t TextEditor::size() const {
    return static_cast<std::size_t>(send(SCI_GETLENGTH));
}

void TextEditor::clear() {
    emptyFor(0);
}

void TextEditor::emptyFor(std::size_t bytes) {
    check_.reset();
    stepTimer_.stop();
    markMessage_.clear();
    // A small text after a large one gets its highlighting back.
    const LoadedDocument::Layout layout = layoutFor(kind_, bytes);
    if (styled_ != layout.styled || large_ != layout.large) {
        useDocument(layout.styled, layout.large);
    } else {
        const bool readOnly = isReadOnly();
        SendScintilla(SCI_SETREADONLY, 0ul);
        SendScintilla(SCI_CLEARALL);
        SendScintilla(SCI_SETREADONLY, readOnly ? 1ul : 0ul);
    }
    if (bytes > 0)
        // With room for exactly the text, one of the last insertions still found it full and
        // moved the whole text to a larger block (200 MB more at the peak of a million rows);
        // a megabyte to spare keeps it in place.
        send(SCI_ALLOCATE, bytes + (1u << 20));
    Q_EMIT contentChanged();
}

void TextEditor::setBytes(std::string_view utf8) {
    // Read-only and without undo history meanwhile.
    const bool readOnly = isReadOnly();
    filling_ = true;
    delayTimer_.stop();
    setReadOnly(true);
    SendScintilla(SCI_SETUNDOCOLLECTION, 0ul);
    emptyFor(utf8.size());
    if (!utf8.empty()) {
        SendScintilla(SCI_SETREADONLY, 0ul);
        send(SCI_APPENDTEXT, utf8.size(), reinterpret_cast<Position>(utf8.data()));
        SendScintilla(SCI_SETREADONLY, 1ul);
    }
    Q_EMIT contentChanged();
    filling_ = false;
    SendScintilla(SCI_EMPTYUNDOBUFFER);
    SendScintilla(SCI_SETUNDOCOLLECTION, 1ul);
    SendScintilla(SCI_SETSAVEPOINT);
    setReadOnly(readOnly);
    textPutInPlace();
}

TextEditor::Replaced TextEditor::takeDocument(LoadedDocument& loaded) {
    filling_ = true; // the save point set below is no edit of the user's
    delayTimer_.stop();
    stepTimer_.stop();
    check_.reset();
    markMessage_.clear();
    const LoadedDocument::Layout layout = loaded.layout();
    const Position old = send(SCI_GETDOCPOINTER);
    send(SCI_ADDREFDOCUMENT, 0, old);
    Replaced replaced(*this, loaded.maker(), old, {styled_, large_});
    putDocument(reinterpret_cast<Position>(loaded.take()), layout.styled, layout.large);
    SendScintilla(SCI_SETUNDOCOLLECTION, 1ul);
    SendScintilla(SCI_EMPTYUNDOBUFFER);
    SendScintilla(SCI_SETSAVEPOINT);
    filling_ = false;
    textPutInPlace();
    return replaced;
}

void TextEditor::textPutInPlace() {
    Q_EMIT contentChanged();
    if (kind_ == Kind::Xml)
        startCheck();
}

TextEditor::Replaced::Replaced(TextEditor& editor, DocumentMaker& maker, Position document,
                               LoadedDocument::Layout layout)
    : editor_(&editor), maker_(&maker), document_(document), layout_(layout) {}

TextEditor::Replaced::Replaced(Replaced&& other) noexcept
    : editor_(other.editor_), maker_(other.maker_), document_(std::exchange(other.document_, 0)),
      layout_(other.layout_) {}

// The old text's memory is given back on the maker's thread: a large text takes a while.
TextEditor::Replaced::~Replaced() {
    if (document_ != 0)
        maker_->releaseLater(reinterpret_cast<void*>(document_));
}

void TextEditor::Replaced::restore() {
    if (document_ == 0)
        return;
    editor_->check_.reset();
    editor_->stepTimer_.stop();
    editor_->markMessage_.clear();
    // The editor takes the reference held here.
    editor_->putDocument(std::exchange(document_, 0), layout_.styled, layout_.large);
    editor_->textPutInPlace();
}

void TextEditor::setBusy(bool busy) {
    SendScintilla(SCI_SETCURSOR,
                  static_cast<unsigned long>(busy ? SC_CURSORWAIT : SC_CURSORNORMAL));
}

void TextEditor::userChanged() {
    ++edits_;
    if (filling_)
        return;
    // The next change must leave the save point again to be seen; it is set again once
    // Scintilla has finished with this one: at the end of the event that made it, or on the
    // next turn of the event loop for changes that come another way (a menu's paste).
    QTimer::singleShot(0, this, &TextEditor::rearm);
    Q_EMIT contentChanged();
    if (kind_ == Kind::Xml) {
        stepTimer_.stop();
        check_.reset();
        delayTimer_.start();
    }
}

void TextEditor::rearm() {
    if (SendScintilla(SCI_GETMODIFY) != 0) {
        ++edits_;
        SendScintilla(SCI_SETSAVEPOINT);
    }
}

void TextEditor::startCheck() {
    // A change not yet seen through the save point is seen now, before the buffer is read.
    rearm();
    delayTimer_.stop();
    check_.reset();
    if (isEmptyText()) {
        setMark(std::nullopt);
        return;
    }
    check_ = std::make_unique<XmlCheck>(bytes());
    checkedEdits_ = edits_;
    stepTimer_.start();
}

void TextEditor::checkStep() {
    if (!check_) {
        stepTimer_.stop();
        return;
    }
    // The view the check reads is the buffer as it was when the check began: after any change
    // since, it may point into memory the editor has moved or freed.
    if (edits_ != checkedEdits_ || SendScintilla(SCI_GETMODIFY) != 0) {
        stepTimer_.stop();
        check_.reset();
        delayTimer_.start();
        return;
    }
    if (!check_->step(kCheckSlice))
        return;
    stepTimer_.stop();
    const std::optional<XmlCheck::Problem> problem = check_->problem();
    check_.reset();
    setMark(problem);
}

void TextEditor::setMark(const std::optional<XmlCheck::Problem>& problem) {
    const Position length = send(SCI_GETLENGTH);
    send(SCI_SETINDICATORCURRENT, kMarkIndicator);
    send(SCI_INDICATORCLEARRANGE, 0, length);
    const QString before = std::exchange(markMessage_, QString());
    if (problem)
        markMessage_ = problem->message;
    if (markMessage_ != before)
        TextEditorAccessible::markChanged(*this);
    if (!problem)
        return;
    // The faulty line is underlined from its first non-blank character to its end; a fault on
    // an empty last line marks the line before it.
    const Position lines = send(SCI_GETLINECOUNT);
    auto line = std::clamp<Position>(static_cast<Position>(problem->line) - 1, 0, lines - 1);
    const auto at = [](Position l) { return static_cast<std::uintptr_t>(l); };
    while (line > 0 &&
           send(SCI_GETLINEENDPOSITION, at(line)) == send(SCI_POSITIONFROMLINE, at(line)))
        --line;
    Position start = send(SCI_GETLINEINDENTPOSITION, at(line));
    Position end = send(SCI_GETLINEENDPOSITION, at(line));
    if (end <= start) {
        start = send(SCI_POSITIONFROMLINE, at(line));
        end = std::min(start + 1, length);
    }
    if (end > start)
        send(SCI_INDICATORFILLRANGE, at(start), end - start);
}

void TextEditor::showMarkTip(int x, int y) {
    if (markMessage_.isEmpty())
        return;
    const Position position = send(SCI_POSITIONFROMPOINTCLOSE, static_cast<std::uintptr_t>(x), y);
    if (position < 0 || send(SCI_INDICATORVALUEAT, kMarkIndicator, position) == 0)
        return;
    QToolTip::showText(viewport()->mapToGlobal(QPoint(x, y)), markMessage_, viewport());
}

void TextEditor::keyPressEvent(QKeyEvent* event) {
    // Tab moves on to the next control, as in the page's other boxes.
    if ((event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab) &&
        !(event->modifiers() & Qt::ControlModifier)) {
        QWidget::focusNextPrevChild(event->key() == Qt::Key_Tab &&
                                    !(event->modifiers() & Qt::ShiftModifier));
        return;
    }
    // Scintilla's Qt layer takes a key's text one UTF-16 unit at a time: a character outside
    // the BMP (an emoji) is dropped, and a key that brings several characters throws out of
    // the event handler. Such text is typed here as the user sees it.
    const QString text = event->text();
    const bool plainKey = !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
    if (plainKey && text.size() > 1 && text.at(0).unicode() >= 0x20) {
        if (!isReadOnly()) {
            const QByteArray utf8 = text.toUtf8();
            SendScintilla(SCI_REPLACESEL, 0ul, utf8.constData());
            SendScintilla(SCI_SCROLLCARET);
        }
        event->accept();
        rearm();
        return;
    }
    QsciScintilla::keyPressEvent(event);
    rearm();
}

// The input method asks for the text around the cursor after every keystroke and every move.
// Scintilla's Qt layer answers with the paragraph, which it finds by looking for blank lines:
// XML has none, so each answer walked the whole document. The line serves the input method
// just as well.
QVariant TextEditor::inputMethodQuery(Qt::InputMethodQuery query) const {
    if (query != Qt::ImSurroundingText && query != Qt::ImCursorPosition &&
        query != Qt::ImAnchorPosition && query != Qt::ImCurrentSelection)
        return QsciScintilla::inputMethodQuery(query);
    const Position caret = send(SCI_GETCURRENTPOS);
    const Position anchor = send(SCI_GETANCHOR);
    const auto line =
        static_cast<std::uintptr_t>(send(SCI_LINEFROMPOSITION, static_cast<std::uintptr_t>(caret)));
    const Position start = send(SCI_POSITIONFROMLINE, line);
    const Position end = send(SCI_GETLINEENDPOSITION, line);
    // A range pointer moves Scintilla's gap only when it lies inside the range; the whole
    // text's pointer would move it to the end, copying everything after the cursor.
    const Position length = send(SCI_GETLENGTH);
    const auto slice = [&](Position from, Position to) {
        from = std::clamp<Position>(from, 0, length);
        to = std::clamp<Position>(to, from, length);
        if (to == from)
            return QString();
        const auto* text = reinterpret_cast<const char*>(
            send(SCI_GETRANGEPOINTER, static_cast<std::uintptr_t>(from), to - from));
        return QString::fromUtf8(text, to - from);
    };
    switch (query) {
    case Qt::ImSurroundingText:
        return slice(start, end);
    case Qt::ImCursorPosition:
        return slice(start, caret).size();
    case Qt::ImAnchorPosition:
        return anchor < start || anchor > end ? slice(start, caret).size()
                                              : slice(start, anchor).size();
    default: {
        // A selection of the whole of a large text is not copied for the input method.
        constexpr Position kLargestSelection = 64 * 1024;
        const Position from = std::min(caret, anchor);
        const Position to = std::max(caret, anchor);
        return to - from > kLargestSelection ? QString() : slice(from, to);
    }
    }
}

void TextEditor::inputMethodEvent(QInputMethodEvent* event) {
    QsciScintilla::inputMethodEvent(event);
    rearm();
}

void TextEditor::mouseReleaseEvent(QMouseEvent* event) {
    QsciScintilla::mouseReleaseEvent(event);
    rearm();
}

void TextEditor::dropEvent(QDropEvent* event) {
    QsciScintilla::dropEvent(event);
    rearm();
}

} // namespace app
