// The program's one kind of message box: modal, OK only, no icon, the
// application's name as title. Failures and refusals alike use it.
#pragma once

#include <QString>

class QWidget;

namespace kvx {

void showProgramMessage(const QString& message, QWidget* parent = nullptr);

} // namespace kvx
