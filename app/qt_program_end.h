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
    // Closes the failure message if one is open, as if the operator had
    // pressed OK; the failure path then ends the program as usual.
    void closeMessage();
    // 0 after an orderly end, 1 after a failure message.
    int exitCode() const { return exitCode_; }

private:
    void finish(int code);

    bool ending_ = false;
    bool messageOpen_ = false;
    int exitCode_ = 0;
};

} // namespace kvx
