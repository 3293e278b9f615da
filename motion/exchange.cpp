#include "exchange.h"

#include "frames.h"
#include "number_text.h"

namespace kvx {
namespace {

constexpr uint32_t FrameBytes = FrameSize;

// Counts in the failure messages stand where a plus sign would: " 7".
QString countText(uint32_t count) { return QStringLiteral(" %1").arg(count); }

QString transferFailure(const char* verb, uint32_t done)
{
    return QStringLiteral("Error writing to USB. %1 %2 of %3 bytes. Application is aborting. "
                          "Reset hardware and try again.")
        .arg(QLatin1String(verb), countText(done), countText(FrameBytes));
}

TickResult failure(const QString& message)
{
    TickResult result;
    result.failed = true;
    result.failureMessage = message;
    return result;
}

} // namespace

bool composeCommandFrame(MotionState& state, const SliderValues& sliders, double targetPosition)
{
    const auto target = frameablePosition(targetPosition);
    if (!target)
        return false;

    state.ToggleFlag = state.ToggleFlag == 0 ? CommandBit::Toggle : 0;
    const uint8_t amplitude = state.DriveBusy ? static_cast<uint8_t>(sliders.Slider4)
                                              : idleAmplitude(sliders.Slider4, sliders.Slider5);
    state.CommandByte = static_cast<uint8_t>(state.GoFlag + state.StopFlag + state.ZeroFlag + state.EnableFlag +
                                             state.JogModeFlag + state.PositionModeFlag + state.RelativeFlag +
                                             state.ToggleFlag);
    state.JogWord = sliders.Slider1 + 32767;

    CommandFrame frame;
    frame.MaxSpeed = static_cast<uint8_t>(sliders.Slider2);
    frame.Acceleration = static_cast<uint8_t>(sliders.Slider3);
    frame.Amplitude = amplitude;
    frame.CommandByte = state.CommandByte;
    frame.JogWord = static_cast<uint16_t>(state.JogWord);
    frame.IdlePercent = static_cast<uint8_t>(sliders.Slider5);
    frame.OptionsByte = static_cast<uint8_t>(OptionBit::Constant + state.LimitActiveHighFlag +
                                             state.ReverseLimitFlag + state.ReverseMotorFlag);
    frame.TargetSteps = *target;
    const Frame bytes = encodeCommandFrame(frame);
    std::copy(bytes.begin(), bytes.end(), state.FrameBuffer.begin());
    return true;
}

PanelDisplay decodeStatusIntoDisplay(MotionState& state)
{
    const StatusFrame status = decodeStatusFrame(state.FrameBuffer.data());
    PanelDisplay display;
    display.Text1 = formatPosition(static_cast<double>(status.MotorPosition) / state.Demultiplication);
    display.Text3 = QString::number(status.IdealPosition);

    const uint8_t bits = status.StatusByte;
    display.alerts.Shape3 = bits & StatusBit::LowerLimit;
    display.alerts.Shape4 = bits & StatusBit::UpperLimit;
    display.alerts.Command6 = bits & StatusBit::ReverseLimit;
    display.alerts.Label3 = bits & StatusBit::MaxSpeed;
    display.alerts.Shape2 = bits & StatusBit::Busy;
    display.alerts.Command3 = bits & StatusBit::ActiveHigh;
    state.DriveBusy = display.alerts.Shape2 ? -1 : 0;
    return display;
}

TickResult runExchange(MotionState& state, const SliderValues& sliders, double targetPosition, UsbLink& link)
{
    if (!composeCommandFrame(state, sliders, targetPosition))
        return failure(QStringLiteral("The target position cannot be sent to the controller. "
                                      "Application is aborting."));
    try {
        uint32_t written = 0;
        state.LinkStatus = link.SI_Write(state.DeviceHandle, state.FrameBuffer.data(), FrameBytes, &written);
        if (state.LinkStatus != 0 || written != FrameBytes)
            return failure(transferFailure("Wrote", written));

        uint32_t read = 0;
        FillBuffer(state.FrameBuffer.data(), 0, FrameSize);
        state.LinkStatus = link.SI_Read(state.DeviceHandle, state.FrameBuffer.data(), FrameBytes, &read);
        if (state.LinkStatus != 0 || read != FrameBytes)
            return failure(transferFailure("Read", read));
    } catch (const LinkUnavailable& missing) {
        return failure(QString::fromStdString(missing.what()));
    }

    TickResult result;
    result.display = decodeStatusIntoDisplay(state);
    return result;
}

} // namespace kvx
