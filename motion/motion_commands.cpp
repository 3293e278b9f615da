#include "motion_commands.h"

#include "frames.h"
#include "number_text.h"


namespace kvx {

std::optional<PositionEntry> readPositionEntry(const QString& text, double demultiplication)
{
    const std::optional<double> typed = leadingNumber(text);
    if (!typed)
        return std::nullopt;
    // The target is taken from the general form, not from the typed digits:
    // that is what limits it to 15 significant digits.
    const std::optional<double> reread = leadingNumber(generalForm(*typed));
    if (!reread)
        return std::nullopt;
    const double target = *reread * demultiplication;
    if (!frameablePosition(target))
        return std::nullopt;
    return PositionEntry{formatPosition(*reread), target};
}

namespace {

// A bound as the operator would type it, two decimals, moved towards zero
// until the frame can carry it: every value in the stated range is accepted.
QString boundText(int64_t steps, double demultiplication)
{
    const double towardsZero = steps < 0 ? 0.01 : -0.01;
    double units = static_cast<double>(steps) / demultiplication;
    QString text = formatPosition(units);
    for (int i = 0; i < 100 && !frameablePosition(leadingNumber(text).value_or(units) * demultiplication); ++i) {
        units += towardsZero;
        text = formatPosition(units);
    }
    return text;
}

} // namespace

QString positionOutOfRangeMessage(double demultiplication)
{
    return QStringLiteral("Position out of range. Enter a position from %1 to %2.")
        .arg(boundText(MinPosition, demultiplication), boundText(MaxPosition, demultiplication));
}

void pressStop(MotionState& state)
{
    state.StopFlag = CommandBit::Stop;
    state.JogModeFlag = 0;
}

void releaseStop(MotionState& state) { state.StopFlag = 0; }
void pressZero(MotionState& state) { state.ZeroFlag = CommandBit::Zero; }
void releaseZero(MotionState& state) { state.ZeroFlag = 0; }
void holdGo(MotionState& state) { state.GoFlag = CommandBit::Go; }
void releaseGo(MotionState& state) { state.GoFlag = 0; }
void holdRelative(MotionState& state) { state.RelativeFlag = CommandBit::Relative; }
void releaseRelative(MotionState& state) { state.RelativeFlag = 0; }

void selectPositionMode(MotionState& state)
{
    state.PositionModeFlag = CommandBit::PositionMode;
    state.JogModeFlag = 0;
}

void selectJogMode(MotionState& state) { state.JogModeFlag = CommandBit::JogMode; }

} // namespace kvx
