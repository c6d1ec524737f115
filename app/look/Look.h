#pragma once

// What every wizard page shares of its look: placement on the screen, the page pointer with its
// hand and busy forms, the white progress-bar background, and the reading of cursor files.

#include <QCursor>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWindow>
#include <optional>
#include <vector>

class QEvent;
class QProgressBar;
class QWidget;

namespace Main {

// Centres the page's outer rectangle (frame and title bar included) on the whole screen that
// holds it, task bars included. Nothing is clamped: a page larger than the screen gets a negative
// position. A page whose frame the window system has not yet reported (not shown yet) is placed
// with the frame of pages shown before it, and centred again once, just after it is first shown.
void CenterOnScreen(QWidget& page);

} // namespace Main

namespace look {

// The page's pointer setting; other values show the default pointer.
enum Pointer : int { Default = 0, Busy = 11, Custom = 99 };

// The page pointer of one page. The setting decides what the mouse shows over the page:
//   Default  every control's own pointer (the arrow; the I-beam over text boxes),
//   Custom   the hand over the page and its controls (the arrow when no hand was loaded),
//   Busy     the wait cursor over the page and all its controls, text boxes included,
// except over the boxes given to keepOwnPointer, which always show the I-beam.
//
// A mouse move over a bound control, or over the bare page when the page itself is bound, sets
// the setting to the bound value unless it is Busy: only the long operations end Busy. A move
// over a control that is not bound changes nothing. A disabled control takes no mouse input, so
// a move over it counts for what lies beneath it (usually the page); the inner parts of a
// control (a list's viewport, its scroll bars) count as the control.
class PagePointer : public QObject {
    Q_OBJECT

public:
    // Parented to the page, so it lives as long as the page.
    explicit PagePointer(QWidget& page);
    ~PagePointer() override;

    // Loads the hand from HAND-M.CUR in the executable's folder, or from `folder`. A file that is
    // missing or cannot be read as a cursor leaves the page without a hand, silently.
    void loadCustomImage();
    void loadCustomImage(const QString& folder);

    int setting() const { return setting_; }
    // Takes effect at once: the pointer changes on the next turn of the event loop, also while a
    // long operation serves the window system with QCoreApplication::processEvents.
    void setSetting(int value);

    // A mouse move over `control` (the page itself stands for its bare background) sets `value`.
    void bind(QWidget* control, int value);
    // The box shows the I-beam whatever the page's setting.
    void keepOwnPointer(QWidget* textBox);

Q_SIGNALS:
    // For controls that choose their pointer themselves on every move (a Scintilla editor): they
    // follow the page's setting through this.
    void settingChanged(int setting);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void watchWindow();
    void mouseMovedTo(QPoint position);
    void apply();
    void cover(const QCursor& cursor);
    void restore();
    bool keepsOwnPointer(const QWidget* widget) const;

    QWidget& page_;
    int setting_ = Default;
    std::optional<QCursor> custom_;
    QHash<const QWidget*, int> bound_;
    std::vector<QPointer<QWidget>> ownPointer_;
    // The page's window, where every mouse move arrives whichever widget it is for.
    QPointer<QWindow> window_;
    // Widgets whose cursor is covered while the page is busy or shows the hand, with the cursor
    // of their own to give back (none: they inherited their parent's).
    std::vector<std::pair<QPointer<QWidget>, std::optional<QCursor>>> covered_;
};

// A white background behind the bar; the filled part keeps the style's colour.
void setWhiteBackground(QProgressBar& bar);

// A Windows cursor file (.CUR): its first image, with the hot spot of its directory entry (x and
// y little-endian in bytes 10 to 13). nullopt for a file that is missing, truncated, not a cursor
// file, or whose image cannot be decoded.
std::optional<QCursor> loadCursorFile(const QString& path);

} // namespace look
