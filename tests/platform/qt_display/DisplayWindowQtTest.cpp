#include "device/FrameQueue.h"
#include "display/DisplaySettings.h"
#include "display/DisplayWindowActions.h"
#include "display/FrameConversion.h"
#include "display/ScreenLayout.h"
#include "fakes/FakeControlWindow.h"
#include "platform/qt_display/DisplayWindow.h"
#include "platform/qt_display/QtDisplayManager.h"
#include "platform/sim/SimulatedBoard.h"

#include <QAction>
#include <QImage>
#include <QMenu>
#include <QScreen>
#include <QTest>
#include <QWindow>

#include <chrono>
#include <functional>
#include <memory>

using namespace tavrin;
using qt_display::DisplayWindow;

namespace {

// The image pixel (x, y) as 0xRRGGBB.
QRgb imagePixel(const device::CaptureFrame& f, int x, int y) {
    const uint8_t* p = f.image.data() + (static_cast<std::size_t>(y) * f.layout.width + x) * 4;
    return qRgb(p[2], p[1], p[0]) & 0xFFFFFF;
}

QRgb rgb(const QImage& img, int x, int y) {
    return img.pixel(x, y) & 0xFFFFFF;
}

constexpr QRgb kBlack = 0x000000;
constexpr QRgb kWhite = 0xFFFFFF;

// The test's own reference to a frame it keeps looking at, released however the test ends.
class Kept {
  public:
    explicit Kept(device::CaptureFrame* f) : frame_(f) { device::addFrameRef(*f); }
    ~Kept() { device::releaseFrame(*frame_); }
    Kept(const Kept&) = delete;
    Kept& operator=(const Kept&) = delete;
    device::CaptureFrame& operator*() const { return *frame_; }

  private:
    device::CaptureFrame* frame_;
};

// Number of pixels of `img` that differ from `expected(x, y)`.
int mismatches(const QImage& img, const std::function<QRgb(int, int)>& expected) {
    int bad = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (rgb(img, x, y) != (expected(x, y) & 0xFFFFFF))
                ++bad;
    return bad;
}

} // namespace

class DisplayWindowQtTest : public QObject {
    Q_OBJECT

  private:
    display::DisplaySettings settings;
    std::unique_ptr<tavrin::testing::FakeControlWindow> control;
    std::unique_ptr<app::ControlWindowLink> link;
    std::unique_ptr<device::FramePool> pool;
    std::unique_ptr<qt_display::QtDisplayManager> displays;
    uint64_t pictureNumber = 7;

    DisplayWindow* mainWindow() { return displays->mainWindow(); }

    // A frame as the control window hands it over: converted, with its first reference.
    device::CaptureFrame* simulatedFrame(int layoutId) {
        device::CaptureFrame* f = pool->queue().pop(std::chrono::milliseconds(0));
        if (!f)
            return nullptr;
        sim::SimulatedBoard::renderPicture(pictureNumber++, f->data.get());
        if (!display::convertFrame(*f, layoutId)) {
            pool->queue().push(f);
            return nullptr;
        }
        f->refCount = 1;
        return f;
    }

    device::CaptureFrame* filledFrame(int layoutId, const std::function<QRgb(int, int)>& colour) {
        device::CaptureFrame* f = pool->queue().pop(std::chrono::milliseconds(0));
        if (!f)
            return nullptr;
        f->layout = display::screenLayouts[layoutId];
        f->image.assign(static_cast<std::size_t>(f->layout.width) * f->layout.height * 4, 0);
        for (int y = 0; y < f->layout.height; ++y)
            for (int x = 0; x < f->layout.width; ++x) {
                const QRgb c = colour(x, y);
                uint8_t* p = f->image.data() + (static_cast<std::size_t>(y) * f->layout.width + x) * 4;
                p[0] = static_cast<uint8_t>(qBlue(c));
                p[1] = static_cast<uint8_t>(qGreen(c));
                p[2] = static_cast<uint8_t>(qRed(c));
                p[3] = 0;
            }
        f->refCount = 1;
        return f;
    }

    // Dispatch as the control window does: bottom window first with a reference of its own.
    void dispatch(device::CaptureFrame* f) {
        if (display::DisplayTarget* bottom = displays->bottomDisplay()) {
            device::addFrameRef(*f);
            bottom->present(f);
        }
        if (display::DisplayTarget* main = displays->mainDisplay())
            main->present(f);
        else
            device::releaseFrame(*f);
    }

    static QAction* findAction(QMenu* menu, const QString& text) {
        for (QAction* a : menu->actions()) {
            if (a->text() == text)
                return a;
            if (a->menu())
                if (QAction* inner = findAction(a->menu(), text))
                    return inner;
        }
        return nullptr;
    }

  private slots:
    void init() {
        settings = display::DisplaySettings{};
        control = std::make_unique<tavrin::testing::FakeControlWindow>();
        link = std::make_unique<app::ControlWindowLink>();
        link->set(control.get());
        pool = std::make_unique<device::FramePool>();
        QVERIFY(pool->setup());
        displays = std::make_unique<qt_display::QtDisplayManager>(settings, *link);
    }

    void cleanup() {
        displays.reset();
        QCOMPARE(pool->queue().count(), 12); // every frame went back
        pool.reset();
        link.reset();
        control.reset();
    }

    void singleWindowIsBlackUntilItsFirstFrameThenShowsTheWhiteErrorFrame() {
        displays->applyDisplayMode(6, false);
        DisplayWindow* w = mainWindow();
        QVERIFY(w);
        QCOMPARE(w->windowTitle(), QStringLiteral("Tavrin Capture - Single"));
        QCOMPARE(w->size(), QSize(256, 384));
        QCOMPARE(w->renderer().textureWidth(), 256u);
        QCOMPARE(w->renderer().textureHeight(), 512u);
        QCOMPARE(mismatches(w->grabFramebuffer(), [](int, int) { return kBlack; }), 0);

        dispatch(filledFrame(6, [](int, int) { return kWhite; }));
        const QImage img = w->grabFramebuffer();
        QCOMPARE(img.size(), QSize(256, 384));
        QCOMPARE(mismatches(img, [](int, int) { return kWhite; }), 0);
    }

    void simulatedPictureIsShownPixelForPixelWithEitherFilter() {
        displays->applyDisplayMode(6, false);
        DisplayWindow* w = mainWindow();
        device::CaptureFrame* frame = simulatedFrame(6);
        Kept f(frame);
        dispatch(frame);
        for (uint8_t point : {uint8_t{1}, uint8_t{0}}) {
            settings.pointScaling = point;
            QCOMPARE(mismatches(w->grabFramebuffer(), [&](int x, int y) { return imagePixel(*f, x, y); }), 0);
        }
    }

    void splitWindowsShowTopAndBottomRows() {
        displays->applyDisplayMode(6, true);
        DisplayWindow* top = displays->mainWindow();
        DisplayWindow* bottom = displays->bottomWindow();
        QVERIFY(top && bottom);
        QCOMPARE(top->windowTitle(), QStringLiteral("Tavrin Capture - Top"));
        QCOMPARE(bottom->windowTitle(), QStringLiteral("Tavrin Capture - Bottom"));
        QCOMPARE(top->size(), QSize(256, 192));
        QCOMPARE(bottom->size(), QSize(256, 192));
        QCOMPARE(bottom->renderer().textureHeight(), 256u);

        device::CaptureFrame* frame = simulatedFrame(6);
        Kept f(frame);
        dispatch(frame);
        settings.pointScaling = 1;
        QCOMPARE(mismatches(top->grabFramebuffer(), [&](int x, int y) { return imagePixel(*f, x, y); }), 0);
        QCOMPARE(
            mismatches(bottom->grabFramebuffer(), [&](int x, int y) { return imagePixel(*f, x, 192 + y); }),
            0);
    }

    void singleScreenLayoutUsesPartOfItsTexture() {
        displays->applyDisplayMode(7, false);
        DisplayWindow* w = mainWindow();
        QVERIFY(w);
        QVERIFY(!displays->bottomWindow());
        QCOMPARE(w->windowTitle(), QStringLiteral("Pellan Capture"));
        QCOMPARE(w->size(), QSize(240, 160));
        QCOMPARE(w->renderer().textureWidth(), 256u);
        QCOMPARE(w->renderer().textureHeight(), 256u);
        device::CaptureFrame* frame = simulatedFrame(7);
        Kept f(frame);
        dispatch(frame);
        settings.pointScaling = 1;
        QCOMPARE(mismatches(w->grabFramebuffer(), [&](int x, int y) { return imagePixel(*f, x, y); }), 0);
        QCOMPARE(w->renderer().quad()[3].u, 0.9375f);
        QCOMPARE(w->renderer().quad()[0].v, 0.625f);
    }

    void pointScalingGivesSharpPixelsAtTwiceTheSizeAndBilinearDoesNot() {
        displays->applyDisplayMode(6, false);
        DisplayWindow* w = mainWindow();
        w->resize(512, 768);
        QTRY_COMPARE(w->size(), QSize(512, 768));
        device::CaptureFrame* frame = simulatedFrame(6);
        Kept f(frame);
        dispatch(frame);

        settings.pointScaling = 1;
        QImage img = w->grabFramebuffer();
        QCOMPARE(img.size(), QSize(512, 768));
        QCOMPARE(mismatches(img, [&](int x, int y) { return imagePixel(*f, x / 2, y / 2); }), 0);

        settings.pointScaling = 0;
        img = w->grabFramebuffer();
        // Bilinear blends across the colour bars' and the checkerboard's edges.
        const int blended = mismatches(img, [&](int x, int y) { return imagePixel(*f, x / 2, y / 2); });
        QVERIFY2(blended > 1000, qPrintable(QString::number(blended)));
        // Away from edges the colours are the picture's own.
        QCOMPARE(rgb(img, 2 * 40 + 1, 2 * 100), imagePixel(*f, 40, 100));
    }

    void f4TwiceBringsTheFilterBackAndTheMenuFollows() {
        displays->applyDisplayMode(6, false);
        DisplayWindow* w = mainWindow();
        w->resize(512, 768);
        QTRY_COMPARE(w->size(), QSize(512, 768));
        device::CaptureFrame* frame = simulatedFrame(6);
        Kept f(frame);
        dispatch(frame);
        auto sharp = [&] {
            return mismatches(w->grabFramebuffer(),
                              [&](int x, int y) { return imagePixel(*f, x / 2, y / 2); }) == 0;
        };
        QVERIFY(!sharp());

        QTest::keyClick(w, Qt::Key_F4);
        QTRY_COMPARE(settings.pointScaling, uint8_t{1});
        QVERIFY(sharp());
        std::unique_ptr<QMenu> menu(w->createContextMenu());
        QVERIFY(findAction(menu.get(), "Point")->isChecked());
        QVERIFY(!findAction(menu.get(), "Bilinear")->isChecked());

        QTest::keyClick(w, Qt::Key_F4);
        QTRY_COMPARE(settings.pointScaling, uint8_t{0});
        QVERIFY(!sharp());
        menu.reset(w->createContextMenu());
        QVERIFY(!findAction(menu.get(), "Point")->isChecked());
        QVERIFY(findAction(menu.get(), "Bilinear")->isChecked());
        QVERIFY(control->messages().empty());
    }

    void fullScreenCoversTheMonitorWithBlackBarsAndEscapeComesBack() {
        displays->applyDisplayMode(6, false);
        DisplayWindow* w = mainWindow();
        const QRect screen = w->screen()->geometry();
        QCOMPARE(screen.size(), QSize(1920, 1080));
        const QRect normal = w->geometry();
        dispatch(filledFrame(6, [](int, int) { return kWhite; }));

        QTest::keyClick(w, Qt::Key_Return, Qt::AltModifier);
        QVERIFY(w->inFullScreen());
        QTRY_COMPARE(w->geometry(), screen);
        QVERIFY(w->windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
        std::unique_ptr<QMenu> menu(w->createContextMenu());
        QVERIFY(findAction(menu.get(), "Full Screen\tAlt+Enter")->isChecked());

        // 1080 / 384 = 2.8125: the picture is 720 wide, pixels 600 to 1319.
        QImage img = w->grabFramebuffer();
        QCOMPARE(img.size(), QSize(1920, 1080));
        QCOMPARE(rgb(img, 0, 540), kBlack);
        QCOMPARE(rgb(img, 599, 540), kBlack);
        QCOMPARE(rgb(img, 600, 0), kWhite);
        QCOMPARE(rgb(img, 1319, 1079), kWhite);
        QCOMPARE(rgb(img, 1320, 540), kBlack);
        QCOMPARE(rgb(img, 1919, 540), kBlack);

        // Shrunk by 4 %: 691.2 pixels wide, 1036.8 high, still centred.
        settings.shrinkWhenMaximized = 1;
        img = w->grabFramebuffer();
        QCOMPARE(rgb(img, 610, 540), kBlack);
        QCOMPARE(rgb(img, 620, 540), kWhite);
        QCOMPARE(rgb(img, 1300, 540), kWhite);
        QCOMPARE(rgb(img, 1310, 540), kBlack);
        QCOMPARE(rgb(img, 960, 10), kBlack);
        QCOMPARE(rgb(img, 960, 30), kWhite);

        // A press in full screen starts no drag.
        QTest::mousePress(w, Qt::LeftButton, {}, QPoint(100, 100));
        QTest::mouseMove(w, QPoint(300, 300));
        QTest::mouseRelease(w, Qt::LeftButton, {}, QPoint(300, 300));
        QCOMPARE(w->geometry(), screen);

        QTest::keyClick(w, Qt::Key_Escape);
        QVERIFY(!w->inFullScreen());
        QTRY_COMPARE(w->geometry(), normal);
        QVERIFY(!w->windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
        QCOMPARE(w->windowTitle(), QStringLiteral("Tavrin Capture - Single"));
        QCOMPARE(settings.clientWidth[0], 256);
        QCOMPARE(settings.clientHeight[0], 384);

        // Esc in a normal window keeps it normal and applies alwaysOnTop.
        settings.alwaysOnTop = 1;
        QTest::keyClick(w, Qt::Key_Escape);
        QVERIFY(!w->inFullScreen());
        QVERIFY(w->windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
        QCOMPARE(w->geometry(), normal);
    }

    void doubleClickTogglesFullScreen() {
        displays->applyDisplayMode(7, false);
        DisplayWindow* w = mainWindow();
        const QRect normal = w->geometry();
        QTest::mouseDClick(w, Qt::LeftButton, {}, QPoint(20, 20));
        QVERIFY(w->inFullScreen());
        QTRY_COMPARE(w->geometry(), w->screen()->geometry());

        // 1080 / 160 = 6.75: 1620 pixels wide from pixel 150. Bilinear filtering keeps
        // the picture's last column and row at full colour (no fade into the texture's
        // unused texels).
        dispatch(filledFrame(7, [](int, int) { return kWhite; }));
        const QImage img = w->grabFramebuffer();
        QCOMPARE(rgb(img, 149, 540), kBlack);
        QCOMPARE(rgb(img, 150, 0), kWhite);
        QCOMPARE(rgb(img, 1769, 1079), kWhite);
        QCOMPARE(rgb(img, 1769, 540), kWhite);
        QCOMPARE(rgb(img, 960, 1079), kWhite);
        QCOMPARE(rgb(img, 1770, 540), kBlack);
        QTest::mouseDClick(w, Qt::LeftButton, {}, QPoint(20, 20));
        QVERIFY(!w->inFullScreen());
        QTRY_COMPARE(w->geometry(), normal);
    }

    void resizingFollowsTheSizingRuleAndShowsTheSizeInTheTitle() {
        displays->applyDisplayMode(6, false);
        DisplayWindow* w = mainWindow();
        const QPoint origin = w->geometry().topLeft();

        w->resize(500, 384); // right edge dragged to 500
        QTRY_COMPARE(w->size(), QSize(512, 768));
        QCOMPARE(w->windowTitle(), QStringLiteral("512 x 768"));
        QCOMPARE(w->geometry().topLeft(), origin);
        QCOMPARE(settings.clientWidth[0], 512);
        QCOMPARE(settings.clientHeight[0], 768);
        QTRY_COMPARE_WITH_TIMEOUT(w->windowTitle(), QStringLiteral("Tavrin Capture - Single"), 3000);

        w->resize(512, 700); // bottom edge up to 700
        QTRY_COMPARE(w->size(), QSize(466, 699));
        QCOMPARE(settings.clientWidth[0], 466);
        QCOMPARE(settings.clientHeight[0], 699);

        w->resize(100, 100); // below native: native
        QTRY_COMPARE(w->size(), QSize(256, 384));
        QCOMPARE(w->windowTitle(), QStringLiteral("256 x 384"));

        // A size the rule accepts stays exactly as it is: no oscillation.
        w->resize(540, 810);
        QTest::qWait(200);
        QCOMPARE(w->size(), QSize(540, 810));
        QCOMPARE(settings.clientWidth[0], 540);

        // The saved size is used by the next window of the same layout.
        displays->applyDisplayMode(6, false);
        QCOMPARE(mainWindow()->size(), QSize(540, 810));
        displays->applyDisplayMode(6, true);
        QCOMPARE(displays->mainWindow()->size(), QSize(256, 192));
    }

    void draggingThePictureMovesTheWindow() {
        displays->applyDisplayMode(6, false);
        DisplayWindow* w = mainWindow();
        w->move(100, 100);
        QTRY_COMPARE(w->pos(), QPoint(100, 100));
        QTest::mousePress(w, Qt::LeftButton, {}, QPoint(50, 50));
        QTest::mouseMove(w, QPoint(80, 70));
        QTRY_COMPARE(w->pos(), QPoint(130, 120));
        QTest::mouseRelease(w, Qt::LeftButton, {}, QPoint(80, 70));
        QTest::mouseMove(w, QPoint(10, 10));
        QTest::qWait(50);
        QCOMPARE(w->pos(), QPoint(130, 120));
        QCOMPARE(w->size(), QSize(256, 384));
    }

    void keysAndClosingTalkToTheControlWindow() {
        displays->applyDisplayMode(6, true);
        DisplayWindow* w = displays->bottomWindow();
        QTest::keyClick(w, Qt::Key_F12);
        QTest::keyClick(w, Qt::Key_F3);
        QTRY_COMPARE(settings.alwaysOnTop, uint8_t{1});
        w->close();
        QVERIFY(w->isVisible()); // the control window decides
        auto msgs = control->messages();
        QCOMPARE(msgs.size(), std::size_t{3});
        QCOMPARE(msgs[0].message, app::WM_SYSCOMMAND);
        QCOMPARE(msgs[0].wParam, uintptr_t{0});
        QCOMPARE(msgs[1].message, app::UM_TOPMOST);
        QCOMPARE(msgs[2].message, app::WM_CLOSE);

        // The control window's UM_TOPMOST handling.
        displays->applyTopmost();
        QVERIFY(displays->mainWindow()->windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(w->windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
        // A window made later starts on top.
        displays->applyDisplayMode(7, false);
        QVERIFY(mainWindow()->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    }

    void contextMenuHasItsTextsAndRunsItsCommands() {
        displays->applyDisplayMode(6, false);
        DisplayWindow* w = mainWindow();
        std::unique_ptr<QMenu> menu(w->createContextMenu());
        const QList<QAction*> items = menu->actions();
        QCOMPARE(items.size(), 4);
        QCOMPARE(items[0]->text(), QStringLiteral("Always on top\tF3"));
        QVERIFY(!items[0]->isChecked());
        QVERIFY(items[1]->menu());
        QCOMPARE(items[1]->text(), QStringLiteral("Scaling\tF4"));
        QCOMPARE(items[1]->menu()->actions().size(), 2);
        QCOMPARE(items[1]->menu()->actions()[0]->text(), QStringLiteral("Bilinear"));
        QCOMPARE(items[1]->menu()->actions()[1]->text(), QStringLiteral("Point"));
        QVERIFY(items[2]->isSeparator());
        QCOMPARE(items[3]->text(), QStringLiteral("Full Screen\tAlt+Enter"));
        QVERIFY(!items[3]->isChecked());

        findAction(menu.get(), "Point")->trigger();
        QCOMPARE(settings.pointScaling, uint8_t{1});
        items[0]->trigger();
        QCOMPARE(settings.alwaysOnTop, uint8_t{1});
        QCOMPARE(control->messages().size(), std::size_t{1});
        items[3]->trigger();
        QVERIFY(w->inFullScreen());
        QTest::keyClick(w, Qt::Key_Escape);
        QVERIFY(!w->inFullScreen());
    }

    void framesGoBackToThePoolWhenWindowsAreReplaced() {
        displays->applyDisplayMode(6, true);
        for (int i = 0; i < 40; ++i) {
            device::CaptureFrame* f = simulatedFrame(6);
            QVERIFY(f);
            dispatch(f);
            if (i % 10 == 0)
                QTest::qWait(20); // let some paints happen
        }
        QCOMPARE(pool->queue().count(), 11); // both windows hold the newest frame
        displays->applyDisplayMode(7, false);
        QCOMPARE(pool->queue().count(), 12);
        dispatch(simulatedFrame(7));
        QCOMPARE(pool->queue().count(), 11);
        displays->destroyDisplayWindows();
        QCOMPARE(pool->queue().count(), 12);
        QVERIFY(!displays->mainDisplay());
    }
};

QTEST_MAIN(DisplayWindowQtTest)
#include "DisplayWindowQtTest.moc"
