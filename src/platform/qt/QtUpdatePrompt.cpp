// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/qt/QtUpdatePrompt.h"

#include "base/Diagnostics.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <QUrl>

namespace tavrin::qt {

QtUpdatePrompt::QtUpdatePrompt(QWidget* owner) : QObject(nullptr), owner_(owner) {
    ask = [](QWidget* parent, const QString& text, const QString& caption) {
        return QMessageBox::question(parent, caption, text, QMessageBox::Yes | QMessageBox::No) ==
               QMessageBox::Yes;
    };
    open = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
}

void QtUpdatePrompt::offerUpdate(const std::string& url) {
    // Queued to this object's thread (the GUI thread), so the check thread never waits for the user.
    QMetaObject::invokeMethod(
        this, [this, url] { askNow(url); }, Qt::QueuedConnection);
}

void QtUpdatePrompt::askNow(const std::string& url) {
    const QUrl address(QString::fromStdString(url), QUrl::StrictMode);
    const QString scheme = address.scheme().toLower();
    if (!address.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        base::updateLog.warning("update offered with an address that is not http(s); not opened\n");
        return;
    }
    if (!ask(owner_.data(), QString::fromUtf8(update::kUpdatePromptText),
             QString::fromUtf8(update::kUpdatePromptCaption)))
        return;
    if (!open(address))
        base::updateLog.warning("could not open %s\n", url.c_str());
}

} // namespace tavrin::qt
