// Ends the program the way an operator's program must end: at once. A flag
// that every handler and tick checks, then the event loop is told to exit.
#pragma once

#include "program_end.h"

namespace kvx {

class QtProgramEnd final : public ProgramEnd {
public:
    void abortWith(const QString& message) override;
    void endNow() override;
    bool isEnding() const override { return ending_; }
    // 0 after an orderly end, 1 after a failure message.
    int exitCode() const { return exitCode_; }

private:
    void finish(int code);

    bool ending_ = false;
    int exitCode_ = 0;
};

} // namespace kvx
