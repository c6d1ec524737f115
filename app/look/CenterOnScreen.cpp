#include "look/Look.h"

#include <QEvent>
#include <QGuiApplication>
#include <QMargins>
#include <QMetaObject>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <chrono>
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
// frames a window some time after it is mapped (openbox after Qt has handled the show), and the
// frame need not move the client area: openbox may keep the client where it was asked to be and
// put the frame around it, so no move event tells of the frame. Hence the frame is looked for
// at each move and on a short timer too, until it is known or a window manager would have drawn
// it long since (then there is none, and the page is already centred as it stands).
class RecentreOnShow : public QObject {
public:
    explicit RecentreOnShow(QWidget& page) : QObject(&page), page_(page) {
        setObjectName(QStringLiteral("tallowby_recentre_on_show"));
        page.installEventFilter(this);
        poll_.setInterval(kPollInterval);
        connect(&poll_, &QTimer::timeout, this, [this] {
            if (framed())
                recentre();
            else if (++polls_ * kPollInterval >= kFrameWait)
                finish();
        });
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        // A show off the screen (a page settling its size before it is filled) maps nothing, so
        // no window manager will frame it.
        if (watched != &page_ || page_.testAttribute(Qt::WA_DontShowOnScreen))
            return false;
        if (event->type() == QEvent::Show) {
            shown_ = true;
            poll_.start();
        }
        if (shown_ && (event->type() == QEvent::Show || event->type() == QEvent::Move)) {
            // After the event has been handled: the window manager may frame the window meanwhile.
            QMetaObject::invokeMethod(
                this, [this] { recentre(); }, Qt::QueuedConnection);
        }
        return false;
    }

private:
    bool framed() const {
        const QWindow* window = page_.windowHandle();
        return window != nullptr && !window->frameMargins().isNull();
    }

    void recentre() {
        if (done_)
            return;
        const bool withFrame = framed();
        CenterOnScreen(page_);
        if (withFrame)
            finish();
    }

    void finish() {
        done_ = true;
        poll_.stop();
        page_.removeEventFilter(this);
        deleteLater();
    }

    static constexpr std::chrono::milliseconds kPollInterval{20};
    static constexpr std::chrono::milliseconds kFrameWait{3000};
    QWidget& page_;
    QTimer poll_;
    bool shown_ = false;
    bool done_ = false;
    int polls_ = 0;
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
