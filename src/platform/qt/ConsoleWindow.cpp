// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/qt/ConsoleWindow.h"

#include "base/Diagnostics.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QScrollBar>
#include <QTextCursor>

namespace tavrin::qt {

namespace {
QEvent::Type wakeEventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}
} // namespace

ConsoleWindow::ConsoleWindow(QWidget* parent) : QPlainTextEdit(parent) {
    setWindowFlag(Qt::Window);
    setWindowTitle(QStringLiteral("Tavrin Capture - Debug"));
    setReadOnly(true);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setUndoRedoEnabled(false);
    // One block more than the lines kept: the line being written is a block of its own.
    setMaximumBlockCount(kLines + 1);
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    QPalette colours = palette();
    colours.setColor(QPalette::Base, QColor(0x10, 0x10, 0x10));
    colours.setColor(QPalette::Text, QColor(0xd0, 0xd0, 0xd0));
    setPalette(colours);
    // Room for the longest statistics line (every data line stuck) without scrolling.
    const QFontMetrics metrics(font());
    resize(metrics.horizontalAdvance(QLatin1Char('M')) * 100 + 32, metrics.lineSpacing() * 25 + 12);
}

ConsoleWindow::~ConsoleWindow() {
    if (mirrorId_)
        base::removeDiagnosticMirror(mirrorId_);
}

bool ConsoleWindow::createConsole() {
    if (mirrorId_)
        return false;
    clear();
    pending_.clear();
    mirrorId_ = base::addDiagnosticMirror([this](const base::LogLine& line) {
        // Any thread: keep the text and wake the window once per batch.
        if (pending_.append(line.text))
            QCoreApplication::postEvent(this, new QEvent(wakeEventType()));
    });
    show();
    raise();
    return true;
}

void ConsoleWindow::destroyConsole() {
    if (mirrorId_) {
        // Once this returns no writer is inside the mirror any more.
        base::removeDiagnosticMirror(mirrorId_);
        mirrorId_ = 0;
    }
    pending_.clear();
    hide();
}

bool ConsoleWindow::event(QEvent* event) {
    if (event->type() == wakeEventType()) {
        appendPending();
        return true;
    }
    return QPlainTextEdit::event(event);
}

void ConsoleWindow::appendPending() {
    const std::string text = pending_.take();
    if (!mirrorId_ || text.empty())
        return;
    QScrollBar* bar = verticalScrollBar();
    const bool following = bar->value() == bar->maximum();
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    if (following)
        bar->setValue(bar->maximum());
}

void ConsoleWindow::closeEvent(QCloseEvent* event) {
    // Closing the console closes only the console, never the program.
    event->accept();
    if (closedHandler_)
        closedHandler_();
    else
        destroyConsole();
}

} // namespace tavrin::qt
