// A ProgramEnd for tests: remembers how the program would have ended.
#pragma once

#include "program_end.h"

#include <QStringList>

namespace kvx::test {

class RecordingEnd : public ProgramEnd {
public:
    QStringList messages;
    int ends = 0;

    void abortWith(const QString& message) override
    {
        messages << message;
        ++ends;
    }
    void endNow() override { ++ends; }
    bool isEnding() const override { return ends > 0; }
};

} // namespace kvx::test
