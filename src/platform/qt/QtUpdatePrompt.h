// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "update/UpdatePrompt.h"

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>

namespace tavrin::qt {

// Asks about a newer release on the owner window's thread: a Yes/No box, and Yes
// opens the download page in the desktop's browser. Only http and https
// addresses are ever opened.
class QtUpdatePrompt final : public QObject, public update::UpdatePrompt {
    Q_OBJECT
  public:
    // `owner` is the window the question belongs to (may go away before it is asked).
    explicit QtUpdatePrompt(QWidget* owner);

    // Any thread; returns at once.
    void offerUpdate(const std::string& url) override;

    // How the question is asked and the page opened; tests replace them.
    std::function<bool(QWidget* owner, const QString& text, const QString& caption)> ask;
    std::function<bool(const QUrl& url)> open;

  private:
    void askNow(const std::string& url);

    QPointer<QWidget> owner_;
};

} // namespace tavrin::qt
