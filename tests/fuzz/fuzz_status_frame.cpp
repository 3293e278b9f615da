// Any 12 bytes the controller may send, at any gear ratio: decoding and the
// display derived from it must hold together.
#include "exchange.h"
#include "frames.h"
#include "number_text.h"

#include <cstdlib>
#include <cstring>

namespace {
void check(bool condition)
{
    if (!condition)
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < kvx::FrameSize + sizeof(uint32_t))
        return 0;
    // Any ratio the dialog can hand over: never below 0.01.
    uint32_t ratioBits = 0;
    std::memcpy(&ratioBits, data + kvx::FrameSize, sizeof ratioBits);
    const double ratio = 0.01 + ratioBits / 1000.0;

    kvx::MotionState state;
    state.Demultiplication = ratio;
    std::memcpy(state.FrameBuffer.data(), data, kvx::FrameSize);
    const kvx::StatusFrame status = kvx::decodeStatusFrame(data);
    check(status.MotorPosition >= -kvx::PositionOffset && status.MotorPosition <= 3 * kvx::PositionOffset - 1);

    const kvx::PanelDisplay display = kvx::decodeStatusIntoDisplay(state);
    check(display.Text3 == QString::number(status.IdealPosition));
    check(display.Text1 == kvx::formatPosition(static_cast<double>(status.MotorPosition) / ratio));
    check((state.DriveBusy == -1) == bool(data[4] & kvx::StatusBit::Busy));
    check(display.alerts.Shape3 == bool(data[4] & 1) && display.alerts.Command3 == bool(data[4] & 32));

    // A frame re-encoded from its decoded fields reads back the same.
    const kvx::Frame again = kvx::encodeStatusFrame(status);
    check(kvx::decodeStatusFrame(again.data()).MotorPosition == status.MotorPosition);
    return 0;
}
