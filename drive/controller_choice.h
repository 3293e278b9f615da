// Which controller `-d` names. A product string that equals the text always
// wins, so that a controller whose serial is "0001" is never mistaken for
// number 1; digits that match no product string are a number, and "#N" is
// always one. A text that fits several controllers chooses none.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace kvx::ctl {

struct ControllerChoice {
    std::optional<uint32_t> device;
    QString error; // when no device: what to tell the user, how to name one
};

// wanted empty: the only controller attached.
ControllerChoice chooseController(const QStringList& products, const QString& wanted);

} // namespace kvx::ctl
