// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/qt_record/DialogTextFit.h"

#include <QAbstractButton>
#include <QLabel>
#include <QRadioButton>
#include <QWidget>

#include <algorithm>

namespace tavrin::qt_record {

void fitTexts(QWidget* dialog) {
    const auto children = dialog->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    for (QWidget* w : children) {
        if (!qobject_cast<QLabel*>(w) && !qobject_cast<QRadioButton*>(w))
            continue;
        const QRect r = w->geometry();
        const int needed = w->sizeHint().width();
        if (needed <= r.width())
            continue;
        int limit = dialog->width() - 4;
        for (QWidget* other : children) {
            const QRect o = other->geometry();
            if (other != w && o.left() > r.left() && o.top() < r.bottom() && o.bottom() > r.top())
                limit = std::min(limit, o.left() - 2);
        }
        w->resize(std::max(r.width(), std::min(needed, limit - r.left())), r.height());
    }
}

} // namespace tavrin::qt_record
