// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/qt_display/DisplayWindow.h"

#include "base/Diagnostics.h"
#include "base/EventSlots.h"
#include "display/WindowPlacement.h"
#include "platform/qt_display/QtDisplayManager.h"
#include "platform/qt_display/X11Window.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QMoveEvent>
#include <QOpenGLContext>
#include <QResizeEvent>
#include <QScreen>
#include <QWindow>

#include <cstddef>
#include <utility>

namespace tavrin::qt_display {

namespace {

// How often to look whether the mouse button that drives a window manager's resize
// is still down (X11).
constexpr int kSizingPollMs = 100;
// Sizes arriving this long after a request are the window system's answer to it.
constexpr int kAnswerMs = 500;
// How long the window system may take to bring back the place from before full screen.
constexpr int kRestoreLimitMs = 1000;
// How long the window manager has to maximise the window anew (off, then on again)
// before a normal state it reports is taken as the user's restore.
constexpr int kRemaximizeMs = 1000;
constexpr Qt::WindowStates kNotNormal = Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen;

display::WindowRect toWindowRect(const QRect& r) {
    return {r.x(), r.y(), r.x() + r.width(), r.y() + r.height()};
}

bool onWayland() {
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

// A Wayland compositor owns the screen, also for the program's X11 windows (XWayland).
bool underCompositor() {
    return onWayland() || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// Nobody but the program places and sizes its windows.
bool noWindowManager() {
    return x11::available() && !x11::windowManagerRunning();
}

std::optional<QMargins> gFrameMargins;

// Asks a display window to paint the frame it holds now.
class RepaintEvent : public QEvent {
  public:
    RepaintEvent() : QEvent(eventType()) {}
    static QEvent::Type eventType() {
        static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }
    static void* operator new(std::size_t size);
    static void operator delete(void* event) noexcept;
};

// One a window at a time; room for both windows and a window being replaced.
using RepaintSlots = base::EventSlots<RepaintEvent, 4>;

void* RepaintEvent::operator new(std::size_t size) {
    return RepaintSlots::take(size);
}

void RepaintEvent::operator delete(void* event) noexcept {
    RepaintSlots::give(event);
}

} // namespace

std::optional<QMargins> DisplayWindow::frameMarginsSeen() {
    return gFrameMargins;
}

void DisplayWindow::noteFrameMargins() {
    if (const QWindow* w = windowHandle(); w && !w->frameMargins().isNull())
        gFrameMargins = w->frameMargins();
}

DisplayWindow::DisplayWindow(base::Settings& settings, display::PictureOptions& picture,
                             const base::MessageLink& controlWindow, std::function<void(bool)> rearrangeAll,
                             base::ProgramOptions* options)
    : settings_(settings), picture_(picture), rearrangeAll_(std::move(rearrangeAll)),
      actions_(settings, picture, controlWindow, *this, options) {
    setAttribute(Qt::WA_DeleteOnClose, false);
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(false);
    sizingEnd_.setSingleShot(true);
    sizingEnd_.setInterval(kSizingPollMs);
    connect(&sizingEnd_, &QTimer::timeout, this, &DisplayWindow::sizingQuiet);
    answerWindow_.setSingleShot(true);
    answerWindow_.setInterval(kAnswerMs);
    connect(&answerWindow_, &QTimer::timeout, this, [this] {
        if (tracker_)
            tracker_->answerWindowClosed();
        // A paint made while the window manager was still answering can be lost
        // with the old contents of the window; the picture must not wait for the next frame.
        update();
    });
    remaximizing_.setSingleShot(true);
    remaximizing_.setInterval(kRemaximizeMs);
    connect(&remaximizing_, &QTimer::timeout, this, &DisplayWindow::followWindowState);
    restoreTimeout_.setSingleShot(true);
    restoreTimeout_.setInterval(kRestoreLimitMs);
    connect(&restoreTimeout_, &QTimer::timeout, this, [this] {
        // The window system did not bring the place back by itself: ask once.
        const std::optional<QRect> to = restoring_;
        stopRestoring();
        if (to && normalState() && geometry() != *to)
            setGeometry(*to);
    });
}

DisplayWindow::~DisplayWindow() {
    destroy();
    x11::forgetWindow(windowHandle());
    // The base class destroys the context after this part of the object is gone.
    if (QOpenGLContext* c = context())
        disconnect(c, nullptr, this, nullptr);
}

DisplayWindow::InitResult DisplayWindow::init(const display::DisplayWindowPlan& plan) {
    title_ = QString::fromStdString(plan.title).left(49);
    part_ = plan.part;
    width_ = plan.width;
    height_ = plan.height;
    partWidth_ = plan.partWidth > 0 ? plan.partWidth : plan.width;
    partHeight_ = plan.partHeight > 0 ? plan.partHeight : plan.height;
    twoScreens_ = plan.twoScreens;
    windowSlot_ = plan.windowSlot;
    tracker_ = std::make_unique<display::SizingTracker>(width_, height_);
    renderer_.setPart(part_, partWidth_, partHeight_);
    renderer_.setArrangement(display::arrangePicture(picture_, twoScreens_, partWidth_, partHeight_),
                             picture_.integerScale);

    setWindowTitle(title_);
    setWindowFlag(Qt::WindowStaysOnTopHint, settings_.alwaysOnTop != 0);
    if (static bool told = false; !told && !topmostUnavailable().empty()) {
        told = true;
        base::displayLog.info("display: always on top is not available: %s\n", topmostUnavailable().c_str());
    }
    applySizeHints();
    QSize size(plan.clientWidth, plan.clientHeight);
    const DrawingLimits limits = DisplayRenderer::drawingLimits();
    if (limits.known()) {
        // A window larger than the driver can draw into would get no picture at all.
        const qreal ratio = screen() ? screen()->devicePixelRatio() : 1.0;
        const auto maxW = static_cast<int64_t>(limits.maxWidth() / ratio);
        const auto maxH = static_cast<int64_t>(limits.maxHeight() / ratio);
        const display::ClientSize largest =
            display::fitClientSize(width_, height_, {INT32_MAX / 2, INT32_MAX / 2}, maxW, maxH);
        setMaximumSize(largest.width, largest.height);
        const display::ClientSize fitted =
            display::fitClientSize(width_, height_, {size.width(), size.height()}, maxW, maxH);
        if (fitted.width != size.width() || fitted.height != size.height()) {
            base::displayLog.warning(
                "display: %d x %d is more than the graphics driver can draw (%d x %d); using %d x %d\n",
                size.width(), size.height(), limits.maxWidth(), limits.maxHeight(), fitted.width,
                fitted.height);
            size = QSize(fitted.width, fitted.height);
        }
    }
    if (plan.positioned)
        setGeometry(QRect(QPoint(plan.position.x, plan.position.y), size));
    else
        resize(size);
    create();
    applySizeHints();
    show();
    if (!windowHandle())
        return InitResult::WindowFailed;
    // The OpenGL context is made while the window is shown.
    if (!isValid() || !graphicsReady_)
        return InitResult::GraphicsFailed;
    tracker_->settle(toWindowRect(clientRect(this->size())));
    lastNormalGeometry_ = geometry();
    saveSize(this->size());
    return InitResult::Ok;
}

void DisplayWindow::present(device::FrameRef frame) {
    held_.present(std::move(frame));
    requestRepaint();
}

// One paint for however many frames arrive before the window gets to it, and after
// them (at low priority, as Qt's own update requests): the newest frame is shown
// and no paint is owed for a frame already replaced. update() would do the same but
// post a request from the heap for every frame; this event comes from fixed slots.
void DisplayWindow::requestRepaint() {
    if (repaintPosted_)
        return;
    repaintPosted_ = true;
    QCoreApplication::postEvent(this, new RepaintEvent, Qt::LowEventPriority);
}

bool DisplayWindow::event(QEvent* event) {
    if (event->type() != RepaintEvent::eventType())
        return QOpenGLWidget::event(event);
    repaintPosted_ = false;
    repaint();
    return true;
}

void DisplayWindow::setTopmost(bool on) {
    Qt::WindowFlags flags = windowFlags();
    if (flags.testFlag(Qt::WindowStaysOnTopHint) == on)
        return;
    flags.setFlag(Qt::WindowStaysOnTopHint, on);
    if (QWindow* window = windowHandle()) {
        // setWindowFlags() would hide the window and make it anew; tell the window
        // system directly instead.
        overrideWindowFlags(flags);
        window->setFlags(flags);
    } else {
        setWindowFlags(flags);
    }
}

std::string DisplayWindow::topmostUnavailable() const {
    if (!onWayland())
        return {};
    return "Wayland lets no program keep its windows above others; use the desktop's own "
           "\"Keep above\" command.";
}

void DisplayWindow::bringToFront() {
    raise();
    activateWindow();
}

void DisplayWindow::destroy() {
    sizingEnd_.stop();
    answerWindow_.stop();
    stopRestoring();
    releaseGraphics();
    held_.clear();
}

void DisplayWindow::releaseGraphics() {
    if (!graphicsReady_)
        return;
    if (context() && context()->isValid()) {
        makeCurrent();
        renderer_.releaseSurfaces();
        doneCurrent();
    }
    graphicsReady_ = false;
}

bool DisplayWindow::inFullScreen() const {
    return (windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)) != 0;
}

bool DisplayWindow::sizingSettled() const {
    return !sizingEnd_.isActive() && !answerWindow_.isActive() && !restoring_ &&
           !(tracker_ && tracker_->sizing());
}

bool DisplayWindow::normalState() const {
    return (windowState() & kNotNormal) == 0;
}

bool DisplayWindow::keepAspect(bool on) {
    return x11::setAspectHint(windowHandle(), on ? width_ : 0, on ? height_ : 0);
}

void DisplayWindow::applySizeHints() {
    // Never below 1x, as the sizing rule says; the window manager is told as well.
    setMinimumSize(width_, height_);
    // Whole multiples only: an X11 window manager's drag then lands on them.
    const QSize step = picture_.integerScale ? QSize(width_, height_) : QSize(0, 0);
    setBaseSize(0, 0);
    setSizeIncrement(step);
    if (QWindow* window = windowHandle()) {
        // A step set before the window existed does not reach it, and the widget
        // then takes the same step again for no change.
        window->setBaseSize({0, 0});
        window->setSizeIncrement(step);
        keepAspect(!inFullScreen());
    }
}

void DisplayWindow::pictureChanged(bool shape) {
    if (rearrangeAll_)
        rearrangeAll_(shape);
    else
        rearrange(shape);
}

void DisplayWindow::rearrange(bool shape) {
    const display::ArrangedPicture arranged =
        display::arrangePicture(picture_, twoScreens_, partWidth_, partHeight_);
    renderer_.setArrangement(arranged, picture_.integerScale);
    const int32_t oldWidth = width_;
    const int32_t oldHeight = height_;
    width_ = arranged.width;
    height_ = arranged.height;
    if (!shape || (width_ == oldWidth && height_ == oldHeight)) {
        applySizeHints();
        update();
        return;
    }
    // The picture keeps the scale it was shown at, in its new shape, within the screen.
    const QSize room = roomOnScreen();
    const display::ClientSize wanted = display::reshapedClientSize(
        oldWidth, oldHeight, width_, height_, {width(), height()}, {room.width(), room.height()});
    tracker_ = std::make_unique<display::SizingTracker>(width_, height_);
    tracker_->settle(toWindowRect(clientRect(size())));
    applySizeHints();
    if (normalState()) {
        tracker_->requested();
        answerWindow_.start();
        resize(wanted.width, wanted.height);
        saveSize(QSize(wanted.width, wanted.height));
    }
    update();
}

QRect DisplayWindow::clientRect(const QSize& size) const {
    // The window's own idea of where it is: up to date already when the resize
    // event arrives, unlike the widget's position.
    const QPoint topLeft = windowHandle() ? windowHandle()->geometry().topLeft() : pos();
    return {topLeft, size};
}

// --- OpenGL ---

void DisplayWindow::initializeGL() {
    graphicsReady_ = renderer_.createSurfaces();
    // A new context comes with a reparent; the old one's resources go with it.
    connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, &DisplayWindow::releaseGraphics,
            Qt::UniqueConnection);
}

void DisplayWindow::resizeGL(int w, int h) {
    const qreal ratio = devicePixelRatioF();
    renderer_.resetRenderer(qRound(w * ratio), qRound(h * ratio));
}

void DisplayWindow::paintGL() {
    if (!graphicsReady_)
        return;
    DisplayRenderer::Options options;
    options.pointScaling = settings_.pointScaling != 0;
    options.shrink = settings_.shrinkWhenMaximized != 0 && inFullScreen();
    options.maximizedShrink = settings_.maximizedShrink;
    if (!held_.withFrame([&](const device::CaptureFrame& frame) { renderer_.renderFrame(frame, options); }))
        renderer_.clearToBlack();
}

// --- sizing ---

// What is kept is the picture the window showed, within the screen: a tile or a
// wide request from the window system leaves a size that opens well anywhere.
void DisplayWindow::saveSize(const QSize& size) {
    const QSize room = roomOnScreen();
    const display::ClientSize kept = display::keptClientSize(width_, height_, {size.width(), size.height()},
                                                             {room.width(), room.height()});
    settings_.clientWidth[windowSlot_] = kept.width;
    settings_.clientHeight[windowSlot_] = kept.height;
}

QSize DisplayWindow::roomOnScreen() const {
    const QScreen* monitor = screen();
    if (!monitor)
        return {INT32_MAX / 2, INT32_MAX / 2};
    const QRect area = monitor->availableGeometry();
    const QRect frame = QtDisplayManager::withFrame(QRect(0, 0, 0, 0));
    return {area.width() - frame.width(), area.height() - frame.height()};
}

void DisplayWindow::resizeEvent(QResizeEvent* event) {
    QOpenGLWidget::resizeEvent(event);
    sizeChanged();
}

// The event's size can be older than the widget's own: Qt hands on the window
// system's events in order but updates the size to the newest at the first of them.
void DisplayWindow::sizeChanged() {
    sizeSeen_ = size();
    if (!tracker_ || !isVisible() || !normalState())
        return;
    const display::WindowRect rect = toWindowRect(clientRect(size()));
    lastNormalGeometry_ = clientRect(size());
    if (restoring_) {
        // Back from full screen: sizes on the way are the window system's, not the user's.
        tracker_->settle(rect);
        arrivedAt(size());
        return;
    }
    const bool buttonHeld = x11::pointerButtonsDown();
    if (tracker_->awaitingAnswer() && buttonHeld) {
        // The user is at it again: this is no answer.
        answerWindow_.stop();
        tracker_->answerWindowClosed();
    }
    if (!buttonHeld && !tracker_->sizing() && !tracker_->awaitingAnswer()) {
        // Only a drag whose end can be seen (a button held on X11) goes by the rule.
        takeGivenSize(rect);
        return;
    }
    switch (tracker_->resized(rect)) {
    case display::SizingTracker::Report::Unchanged:
        return;
    case display::SizingTracker::Report::Answer:
        saveSize(size());
        return;
    case display::SizingTracker::Report::Sizing:
        // What the window has now is what is shown, titled and saved.
        saveSize(size());
        setWindowTitle(QString::fromStdString(display::sizingTitle({size().width(), size().height()})));
        sizingEnd_.start();
        return;
    }
}

// The window system set this size (a tile, a snap, maximise undone, a size sent
// again on focus, a script): it is final, and the picture is fitted into it.
void DisplayWindow::takeGivenSize(const display::WindowRect& rect) {
    tracker_->settle(rect);
    saveSize(size());
    const QSize screenSize = screen() ? screen()->availableGeometry().size() : size();
    if (!x11::available() || (width() <= screenSize.width() && height() <= screenSize.height()))
        return;
    // Grown past the screen (an X11 window manager that keeps the aspect of a wide
    // request by growing downwards): asked once for the largest size that fits. A
    // compositor's size is never answered.
    const QSize room = roomOnScreen();
    const display::ClientSize fitted =
        display::fitClientSize(width_, height_, {width(), height()}, room.width(), room.height());
    tracker_->requested();
    answerWindow_.start();
    resize(fitted.width, fitted.height);
}

void DisplayWindow::moveEvent(QMoveEvent* event) {
    QOpenGLWidget::moveEvent(event);
    noteFrameMargins();
    if (size() != sizeSeen_ && sizeSeen_.isValid()) {
        // Qt took a new size along with a move and sent no resize event for it; the
        // title and the saved size must follow all the same (the drawing does).
        sizeChanged();
        return;
    }
    if (tracker_ && isVisible() && normalState() && !restoring_) {
        lastNormalGeometry_ = geometry();
        tracker_->moved(toWindowRect(geometry()));
    }
}

void DisplayWindow::sizingQuiet() {
    // The window manager holds the pointer while its frame is dragged.
    if (x11::pointerButtonsDown()) {
        sizingEnd_.start();
        return;
    }
    finishSizing();
}

void DisplayWindow::finishSizing() {
    sizingEnd_.stop();
    setWindowTitle(title_);
    const QSize room = roomOnScreen();
    const auto step =
        tracker_ ? tracker_->finish(room.width(), room.height(), picture_.integerScale) : std::nullopt;
    if (!step || !step->correct || !normalState())
        return;
    // Once, as a request: whatever the window system grants is kept.
    answerWindow_.start();
    setGeometry(step->target.left, step->target.top, static_cast<int>(step->target.width()),
                static_cast<int>(step->target.height()));
}

// --- full screen ---

void DisplayWindow::enterFullScreen() {
    if (sizingEnd_.isActive())
        finishSizing();
    stopRestoring();
    normalGeometry_ = geometry();
    // The monitor's shape is not the picture's.
    keepAspect(false);
    QScreen* monitor = screen();
    showFullScreen();
    // Above everything, whatever alwaysOnTop says, as long as it covers the monitor.
    setTopmost(true);
    // Without a window manager nothing else makes the window cover its monitor. Through
    // the QWindow: the widget's setGeometry() would drop the full-screen state again.
    if (monitor && windowHandle() && noWindowManager())
        windowHandle()->setGeometry(monitor->geometry());
}

void DisplayWindow::leaveFullScreen(bool topmost) {
    showNormal();
    setTopmost(topmost);
}

void DisplayWindow::changeEvent(QEvent* event) {
    QOpenGLWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        followWindowState();
}

void DisplayWindow::followWindowState() {
    if (!tracker_)
        return;
    const bool full = inFullScreen();
    if (full && !hadFullScreen_) {
        // Also when the window manager maximized it: the place to come back to.
        if (!normalGeometry_.isValid())
            normalGeometry_ = lastNormalGeometry_;
        sizingEnd_.stop();
        tracker_->settle(toWindowRect(normalGeometry_));
        // Maximised by the window manager while the aspect was on: it may have kept the
        // picture's shape in the size it gave (KWin does), and does not size the window
        // again when the aspect goes. Maximised anew, the window fills the screen.
        if (keepAspect(false) && !(windowState() & Qt::WindowFullScreen)) {
            x11::remaximize(windowHandle());
            remaximizing_.start();
        }
    } else if (full && remaximizing_.isActive()) {
        remaximizing_.stop(); // maximised anew
    } else if (!full && hadFullScreen_ && remaximizing_.isActive()) {
        return; // on the way back to maximised: no restore
    } else if (!full && hadFullScreen_ && normalState()) {
        keepAspect(true);
        if (normalGeometry_.isValid())
            startRestoring(normalGeometry_);
        normalGeometry_ = QRect();
    }
    hadFullScreen_ = full;
}

void DisplayWindow::startRestoring(const QRect& to) {
    restoring_ = to;
    restoreTimeout_.start();
    // Without a window manager nothing brings the old place back but the program;
    // with one, it may have done so before it told the new state.
    if (noWindowManager())
        setGeometry(to);
    if (restoring_ && size() == to.size())
        arrivedAt(size());
}

void DisplayWindow::arrivedAt(const QSize& size) {
    if (!restoring_ || size != restoring_->size())
        return;
    const QRect to = *restoring_;
    stopRestoring();
    if (geometry().topLeft() != to.topLeft())
        setGeometry(to);
    tracker_->settle(toWindowRect(geometry()));
    lastNormalGeometry_ = geometry();
    saveSize(size);
}

void DisplayWindow::stopRestoring() {
    restoring_.reset();
    restoreTimeout_.stop();
}

// --- input ---

void DisplayWindow::postCommand(int32_t id) {
    QMetaObject::invokeMethod(
        this, [this, id] { actions_.command(id); }, Qt::QueuedConnection);
}

void DisplayWindow::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Escape:
        actions_.keyDown(display::DisplayKey::Escape);
        break;
    case Qt::Key_F3:
        actions_.keyDown(display::DisplayKey::F3);
        break;
    case Qt::Key_F4:
        actions_.keyDown(display::DisplayKey::F4);
        break;
    case Qt::Key_F6:
        actions_.keyDown(display::DisplayKey::F6);
        break;
    case Qt::Key_F7:
        actions_.keyDown(display::DisplayKey::F7);
        break;
    case Qt::Key_F12:
        actions_.keyDown(display::DisplayKey::F12);
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (event->modifiers() & Qt::AltModifier)
            actions_.keyDown(display::DisplayKey::AltEnter);
        break;
    default:
        break;
    }
    QOpenGLWidget::keyPressEvent(event);
}

void DisplayWindow::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && actions_.dragAllowed()) {
        // Under a compositor (natively or through XWayland) the window system must move
        // the window: it may ignore a client that moves itself. X11 window managers
        // honour a client's own move, and do not all take the move from Qt's hand.
        if (!underCompositor() || !windowHandle() || !windowHandle()->startSystemMove()) {
            dragging_ = true;
            dragStart_ = event->globalPosition().toPoint();
            dragOrigin_ = geometry().topLeft();
        }
    }
    event->accept();
}

void DisplayWindow::mouseMoveEvent(QMouseEvent* event) {
    // Measured on the screen, not in the window: a window manager moves the window
    // some time after it is asked, so positions within it are no steady reference.
    if (dragging_)
        setGeometry(QRect(dragOrigin_ + (event->globalPosition().toPoint() - dragStart_), size()));
    event->accept();
}

void DisplayWindow::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        dragging_ = false;
    else if (event->button() == Qt::RightButton)
        showContextMenu(event->globalPosition().toPoint());
    event->accept();
}

void DisplayWindow::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        dragging_ = false;
        actions_.toggleFullScreen();
    }
    QOpenGLWidget::mouseDoubleClickEvent(event);
}

void DisplayWindow::contextMenuEvent(QContextMenuEvent* event) {
    // The mouse opens the menu on the button's release; here only the keyboard.
    if (event->reason() == QContextMenuEvent::Keyboard) {
        showContextMenu(mapToGlobal(QPoint(0, 0)));
        event->accept();
    } else {
        event->ignore();
    }
}

void DisplayWindow::closeEvent(QCloseEvent* event) {
    // The window stays; the control window closes the program and with it the windows.
    actions_.closeRequested();
    event->ignore();
}

QMenu* DisplayWindow::createContextMenu() {
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("Context Menu"));
    menu->setToolTipsVisible(true);
    auto fill = [this](QMenu* target, const std::vector<display::MenuEntry>& entries, auto& self) -> void {
        for (const display::MenuEntry& entry : entries) {
            const QString text = QString::fromStdString(entry.text);
            switch (entry.kind) {
            case display::MenuEntry::Separator:
                target->addSeparator();
                break;
            case display::MenuEntry::Submenu:
                self(target->addMenu(text), entry.children, self);
                break;
            case display::MenuEntry::Item: {
                QAction* action = target->addAction(text);
                action->setCheckable(true);
                action->setChecked(entry.checked);
                action->setEnabled(entry.enabled);
                action->setToolTip(QString::fromStdString(entry.tip));
                action->setData(entry.id);
                const int32_t id = entry.id;
                connect(action, &QAction::triggered, this, [this, id] { actions_.command(id); });
                break;
            }
            }
        }
    };
    fill(menu, actions_.contextMenu(), fill);
    return menu;
}

void DisplayWindow::showContextMenu(const QPoint& globalPos) {
    QMenu* menu = createContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(globalPos);
}

} // namespace tavrin::qt_display
