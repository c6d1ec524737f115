#include "look/Look.h"

#include <QEvent>
#include <QGuiApplication>
#include <QMargins>
#include <QMetaObject>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <cmath>

namespace Main {

namespace {

// The frame the window manager drew around the last page it had framed. All pages have the same
// kind of frame, so it stands in for the frame of a page that is not shown yet, whose frame the
// window system cannot tell before it maps the window.
QMargins& lastKnownFrame() {
    static QMargins frame;
    return frame;
}

QMargins frameOf(const QWidget& page) {
    const QWindow* window = page.windowHandle();
    if (page.isVisible() && window != nullptr) {
        const QMargins frame = window->frameMargins();
        if (!frame.isNull()) {
            lastKnownFrame() = frame;
            return frame;
        }
    }
    return lastKnownFrame();
}

// Centres the page once more once it is shown and its own frame is known. A window manager
// frames a window some time after it is mapped (openbox after Qt has handled the show), so the
// page is centred again at each move until a frame was known when it was centred.
class RecentreOnShow : public QObject {
public:
    explicit RecentreOnShow(QWidget& page) : QObject(&page), page_(page) {
        setObjectName(QStringLiteral("tallowby_recentre_on_show"));
        page.installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != &page_)
            return false;
        if (event->type() == QEvent::Show) {
            shown_ = true;
            // After the show has been handled: the window manager may frame the window meanwhile.
            QMetaObject::invokeMethod(
                this, [this] { recentre(); }, Qt::QueuedConnection);
        } else if (shown_ && event->type() == QEvent::Move) {
            QMetaObject::invokeMethod(
                this, [this] { recentre(); }, Qt::QueuedConnection);
        }
        return false;
    }

private:
    void recentre() {
        if (done_)
            return;
        const QWindow* window = page_.windowHandle();
        const bool framed = window != nullptr && !window->frameMargins().isNull();
        CenterOnScreen(page_);
        // Not framed yet (or no window manager at all): a later move may bring the frame. Each
        // move is the window system's answer to one, so this ends when the moves do.
        if (framed || ++unframedTries_ > kMaxUnframedTries) {
            done_ = true;
            page_.removeEventFilter(this);
            deleteLater();
        }
    }

    static constexpr int kMaxUnframedTries = 8;
    QWidget& page_;
    bool shown_ = false;
    bool done_ = false;
    int unframedTries_ = 0;
};

} // namespace

void CenterOnScreen(QWidget& page) {
    const QScreen* screen = page.screen();
    if (screen == nullptr)
        screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return;
    const QRect whole = screen->geometry();
    const QMargins frame = frameOf(page);
    const QSize outer = page.size().grownBy(frame);

    // Halves in single precision, as the window system's positions are; not clamped, so a page
    // larger than the screen gets a negative position.
    const float left = (static_cast<float>(whole.width()) - static_cast<float>(outer.width())) / 2;
    const float top = (static_cast<float>(whole.height()) - static_cast<float>(outer.height())) / 2;
    // move() places a window's frame, not its client area.
    page.move(whole.x() + static_cast<int>(std::lround(left)),
              whole.y() + static_cast<int>(std::lround(top)));

    if (!page.isVisible() &&
        page.findChild<RecentreOnShow*>(QStringLiteral("tallowby_recentre_on_show"),
                                        Qt::FindDirectChildrenOnly) == nullptr)
        new RecentreOnShow(page);
}

} // namespace Main
