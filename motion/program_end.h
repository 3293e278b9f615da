// How a window ends the program. The windows decide when; the application
// decides how (message box, stopping everything at once). Tests record it.
#pragma once

#include <QString>

namespace kvx {

class ProgramEnd {
public:
    virtual ~ProgramEnd() = default;
    // Shows the message in the program's modal box (OK only, no icon, the
    // application's name as title) and then ends the program at once.
    virtual void abortWith(const QString& message) = 0;
    // Ends the program at once, without a message.
    virtual void endNow() = 0;
    // True from the moment the program is ending: every handler and every
    // timer tick then returns at once.
    virtual bool isEnding() const = 0;
};

} // namespace kvx
