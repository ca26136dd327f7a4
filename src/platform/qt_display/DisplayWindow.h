// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/Messages.h"
#include "base/Settings.h"
#include "display/DisplayWindowActions.h"
#include "display/DisplayWindowSet.h"
#include "display/HeldFrame.h"
#include "display/SizingTracker.h"
#include "platform/qt_display/DisplayRenderer.h"

#include <QMargins>
#include <QOpenGLWidget>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <string>

class QMenu;

namespace tavrin::qt_display {

// One display window: a top-level OpenGL window showing one part of the newest
// frame, scaled with its aspect kept and centred on black. Lives on the GUI thread.
class DisplayWindow final : public QOpenGLWidget,
                            public display::DisplayWindowHandle,
                            private display::DisplayWindowHost {
    Q_OBJECT

  public:
    enum class InitResult { Ok, WindowFailed, GraphicsFailed };

    // `rearrangeAll` is called when the picture options change from this window's
    // menu or keys: every picture window then follows them (rearrange()).
    // `options`: the program's own options for the menu's items; may be null.
    DisplayWindow(base::Settings& settings, display::PictureOptions& picture,
                  const base::MessageLink& controlWindow, std::function<void(bool shape)> rearrangeAll,
                  base::ProgramOptions* options = nullptr);
    ~DisplayWindow() override;

    // Creates and shows the window at the plan's client size, topmost as the settings say.
    InitResult init(const display::DisplayWindowPlan& plan);

    // display::DisplayWindowHandle
    void present(device::FrameRef frame) override;
    void setTopmost(bool on) override;
    void bringToFront() override;

    // Releases the held frame and the drawing resources.
    void destroy();
    // Takes up the picture options as they are now; with `shape`, the picture's size
    // changed: the window takes the new shape at the scale the picture had.
    void rearrange(bool shape);

    bool inFullScreen() const override;
    // No resize or return from full screen under way, no answer to a request awaited.
    bool sizingSettled() const;
    bool holdsFrame() const { return held_.holdsFrame(); }
    const QString& title() const { return title_; }
    const DisplayRenderer& renderer() const { return renderer_; }
    // The context menu with its check marks as they are now; triggering an item runs
    // its command. Owned by this window.
    QMenu* createContextMenu();
    void showContextMenu(const QPoint& globalPos);

    // The window manager's frame around the last display window that had one.
    static std::optional<QMargins> frameMarginsSeen();

  protected:
    bool event(QEvent* event) override;
    void initializeGL() override;
    void resizeGL(int w, int h) override;
    void paintGL() override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

  private:
    // display::DisplayWindowHost
    void postCommand(int32_t id) override;
    void enterFullScreen() override;
    void leaveFullScreen(bool topmost) override;
    std::string topmostUnavailable() const override;
    void pictureChanged(bool shape) override;

    void requestRepaint();
    void releaseGraphics();
    void noteFrameMargins();
    bool normalState() const;
    bool keepAspect(bool on);
    void followWindowState();
    void applySizeHints();
    void saveSize(const QSize& size);
    void sizeChanged();
    void takeGivenSize(const display::WindowRect& rect);
    void sizingQuiet();
    void finishSizing();
    void startRestoring(const QRect& to);
    void arrivedAt(const QSize& size);
    void stopRestoring();
    QRect clientRect(const QSize& size) const;
    // The largest client area the window's screen has room for.
    QSize roomOnScreen() const;

    base::Settings& settings_;
    display::PictureOptions& picture_;
    std::function<void(bool)> rearrangeAll_;
    display::DisplayWindowActions actions_;
    display::HeldFrame held_;
    DisplayRenderer renderer_;
    std::unique_ptr<display::SizingTracker> tracker_;
    QString title_;
    display::ImagePart part_ = display::PART_WHOLE;
    int32_t width_ = 0; // the picture as arranged: what sizes keep the shape of
    int32_t height_ = 0;
    int32_t partWidth_ = 0; // the part of the image shown
    int32_t partHeight_ = 0;
    bool twoScreens_ = false;
    int32_t windowSlot_ = 0;
    bool graphicsReady_ = false;
    bool dragging_ = false;
    QPoint dragStart_;               // cursor on the screen at the press
    QPoint dragOrigin_;              // client area's corner then
    QSize sizeSeen_;                 // the size of the last resize event
    QRect lastNormalGeometry_;       // where the window was when last normal
    QRect normalGeometry_;           // the place to come back to from full screen
    QTimer sizingEnd_;               // looks for the end of a resize the window manager runs
    QTimer answerWindow_;            // sizes until then answer our request
    std::optional<QRect> restoring_; // leaving full screen, until this place is reached
    QTimer restoreTimeout_;
    QTimer remaximizing_; // maximised anew without the aspect, until the manager did
    bool hadFullScreen_ = false;
    bool repaintPosted_ = false; // a RepaintEvent is on its way
};

} // namespace tavrin::qt_display
