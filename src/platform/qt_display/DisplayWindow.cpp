#include "platform/qt_display/DisplayWindow.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QResizeEvent>
#include <QScreen>
#include <QWindow>

namespace tavrin::qt_display {

namespace {

constexpr int kSizingQuietMs = 600;
// How long the window system may take to bring back the size from before full screen.
constexpr int kRestoreLimitMs = 1000;

display::WindowRect toWindowRect(const QRect& r) {
    return {r.x(), r.y(), r.x() + r.width(), r.y() + r.height()};
}

bool onWayland() {
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

} // namespace

DisplayWindow::DisplayWindow(display::DisplaySettings& settings, const app::ControlWindowLink& controlWindow)
    : settings_(settings), actions_(settings, controlWindow, *this) {
    setAttribute(Qt::WA_DeleteOnClose, false);
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(false);
    sizingEnd_.setSingleShot(true);
    sizingEnd_.setInterval(kSizingQuietMs);
    connect(&sizingEnd_, &QTimer::timeout, this, [this] { setWindowTitle(title_); });
    restoreTimeout_.setSingleShot(true);
    restoreTimeout_.setInterval(kRestoreLimitMs);
    connect(&restoreTimeout_, &QTimer::timeout, this, [this] { stopRestoring(); });
}

DisplayWindow::~DisplayWindow() {
    destroy();
    // The base class destroys the context after this part of the object is gone.
    if (QOpenGLContext* c = context())
        disconnect(c, nullptr, this, nullptr);
}

DisplayWindow::InitResult DisplayWindow::init(const display::DisplayWindowPlan& plan) {
    title_ = QString::fromStdString(plan.title).left(49);
    part_ = plan.part;
    width_ = plan.width;
    height_ = plan.height;
    windowSlot_ = plan.windowSlot;
    tracker_ = std::make_unique<display::SizingTracker>(width_, height_);
    renderer_.setPart(part_, width_, height_);

    setWindowTitle(title_);
    setWindowFlag(Qt::WindowStaysOnTopHint, settings_.alwaysOnTop != 0);
    resize(plan.clientWidth, plan.clientHeight);
    show();
    if (!windowHandle())
        return InitResult::WindowFailed;
    // The OpenGL context is made while the window is shown.
    if (!isValid() || !graphicsReady_)
        return InitResult::GraphicsFailed;
    tracker_->settle(toWindowRect(clientRect(size())));
    return InitResult::Ok;
}

void DisplayWindow::present(device::CaptureFrame* frame) {
    held_.present(frame);
    update();
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

void DisplayWindow::bringToFront() {
    raise();
    activateWindow();
}

void DisplayWindow::destroy() {
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

void DisplayWindow::resizeEvent(QResizeEvent* event) {
    QOpenGLWidget::resizeEvent(event);
    if (!tracker_ || !isVisible() ||
        (windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)))
        return;
    if (restoring_) {
        // Back from full screen: sizes on the way are the window system's, not the user's.
        tracker_->settle(toWindowRect(clientRect(event->size())));
        if (event->size() == *restoring_)
            stopRestoring();
        return;
    }
    const auto step = tracker_->resized(toWindowRect(clientRect(event->size())));
    if (!step)
        return;
    settings_.clientWidth[windowSlot_] = step->size.width;
    settings_.clientHeight[windowSlot_] = step->size.height;
    setWindowTitle(QString::fromStdString(display::sizingTitle(step->size)));
    sizingEnd_.start();
    if (step->correct) {
        // Not from inside the resize event: the new size comes back as another one.
        const display::WindowRect target = step->target;
        QMetaObject::invokeMethod(
            this, [this, target] { applyCorrection(target); }, Qt::QueuedConnection);
    }
}

void DisplayWindow::applyCorrection(const display::WindowRect& target) {
    if (windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen))
        return;
    setGeometry(target.left, target.top, static_cast<int>(target.width()), static_cast<int>(target.height()));
}

// --- full screen ---

void DisplayWindow::enterFullScreen() {
    stopRestoring();
    normalGeometry_ = geometry();
    setTopmost(true);
    QScreen* monitor = screen();
    showFullScreen();
    // Without a window manager nothing else makes the window cover its monitor. Through
    // the QWindow: the widget's setGeometry() would drop the full-screen state again.
    if (monitor && windowHandle() && !onWayland())
        windowHandle()->setGeometry(monitor->geometry());
}

void DisplayWindow::leaveFullScreen(bool topmost) {
    const bool wasFullScreen = inFullScreen();
    showNormal();
    setTopmost(topmost);
    if (wasFullScreen && normalGeometry_.isValid()) {
        restoring_ = normalGeometry_.size();
        restoreTimeout_.start();
        if (!onWayland())
            setGeometry(normalGeometry_);
    }
    normalGeometry_ = QRect();
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
        if (onWayland() && windowHandle()) {
            // Wayland lets no client place its own window; the compositor moves it.
            windowHandle()->startSystemMove();
        } else {
            dragging_ = true;
            dragStart_ = event->position().toPoint();
        }
    }
    event->accept();
}

void DisplayWindow::mouseMoveEvent(QMouseEvent* event) {
    if (dragging_)
        move(pos() + (event->position().toPoint() - dragStart_));
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
