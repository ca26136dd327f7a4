// SPDX-License-Identifier: GPL-2.0-or-later
// Runs without OpenGL (QT_XCB_GL_INTEGRATION=none): the display window cannot draw,
// and the program must say so rather than show empty windows.
#include "base/Settings.h"
#include "fakes/FakeControlWindow.h"
#include "platform/qt_display/QtDisplayManager.h"

#include <QTest>

#include <string>
#include <vector>

using namespace tavrin;

class DisplayFailureQtTest : public QObject {
    Q_OBJECT

  private slots:
    void withoutOpenGlTheProgramEndsWithDxInitFailed() {
        base::Settings settings;
        tavrin::testing::FakeControlWindow control;
        base::MessageLink link;
        link.set(&control);
        std::vector<std::string> fatal;
        // The real handler never returns; this one records and lets the test go on.
        qt_display::QtDisplayManager displays(settings, link,
                                              [&](std::string_view text) { fatal.emplace_back(text); });
        displays.applyDisplayMode(6, false);
        QVERIFY(!fatal.empty());
        QCOMPARE(fatal.front(), std::string("dx.init() failed"));
        QVERIFY(!displays.mainDisplay());
    }
};

QTEST_MAIN(DisplayFailureQtTest)
#include "DisplayFailureQtTest.moc"
