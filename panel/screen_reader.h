// What screen readers see of the program's windows beyond Qt's defaults:
// the two windows are windows (not anonymous panes), the lamps and the
// marker are pictures, and a text box can be kept from them altogether.
#pragma once

#include <QLineEdit>

namespace kvx {

// Installs the program's accessible interfaces; once is enough, more is
// harmless. Call it before the first window is made.
void installScreenReaderSupport();

// A text box that no screen reader reaches: its window leaves it out, and
// it offers no text to read, not even through its change notices.
class UnreadLineEdit : public QLineEdit {
    Q_OBJECT
public:
    using QLineEdit::QLineEdit;
};

} // namespace kvx
