// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

class QWidget;

namespace tavrin::qt_record {

// The dialogs keep the resource's positions, but the desktop's font may be wider
// than the one they were measured with: a label or radio button whose text does not
// fit grows to the right, up to the next control on its row.
void fitTexts(QWidget* dialog);

} // namespace tavrin::qt_record
