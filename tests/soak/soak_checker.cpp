#include "soak_checker.h"

#include <cstdlib>

namespace kvx::soak {

namespace {

std::string describe(const char* what, int64_t got, int64_t wanted)
{
    return std::string(what) + ": " + std::to_string(got) + ", expected " + std::to_string(wanted);
}

uint8_t flagSum(const MotionState& s)
{
    return static_cast<uint8_t>(s.GoFlag + s.StopFlag + s.ZeroFlag + s.EnableFlag + s.JogModeFlag +
                                s.PositionModeFlag + s.RelativeFlag + s.ToggleFlag);
}

} // namespace

void SoakChecker::fail(const std::string& what)
{
    ++violations_;
    if (first_.size() < 20)
        first_.push_back("frame " + std::to_string(frames_) + ": " + what);
}

void SoakChecker::commandFrame(const Frame& written, const MotionState& state, const SliderValues& sliders,
                               double targetPosition)
{
    ++frames_;
    checkStatic(written, state, sliders, targetPosition);
    followMoves(decodeCommandFrame(written.data()), state);
}

void SoakChecker::checkStatic(const Frame& w, const MotionState& state, const SliderValues& sliders,
                              double targetPosition)
{
    const uint8_t options = OptionBit::Constant + state.LimitActiveHighFlag + state.ReverseLimitFlag +
                            state.ReverseMotorFlag;
    if ((w[7] & ~7) != OptionBit::Constant || w[7] != options)
        fail(describe("options byte", w[7], options));
    if (w[6] > 100 || w[6] != sliders.Slider5)
        fail(describe("idle percentage", w[6], sliders.Slider5));
    if (w[3] != flagSum(state))
        fail(describe("command byte", w[3], flagSum(state)));
    if (previousCommandByte_ && ((w[3] ^ *previousCommandByte_) & CommandBit::Toggle) == 0)
        fail("toggle bit did not alternate");
    previousCommandByte_ = w[3];
    if (w[0] != sliders.Slider2 || w[1] != sliders.Slider3)
        fail(describe("speed/acceleration", w[0] * 256 + w[1], sliders.Slider2 * 256 + sliders.Slider3));
    const int amplitude = reportedBusy_ ? sliders.Slider4 : idleAmplitude(sliders.Slider4, sliders.Slider5);
    if (w[2] != amplitude)
        fail(describe("amplitude", w[2], amplitude));
    const int jogWord = w[4] | w[5] << 8;
    if (jogWord != sliders.Slider1 + 32767)
        fail(describe("jog word", jogWord, sliders.Slider1 + 32767));
    const auto target = frameablePosition(targetPosition);
    if (!target || decodePosition(&w[8]) != *target)
        fail(describe("target", decodePosition(&w[8]), target.value_or(0)));
}

// Works out where a move now under way must end, or forgets it when the
// frame makes that unknowable (stop, new origin, jog, an axis on the move).
void SoakChecker::followMoves(const CommandFrame& frame, const MotionState& state)
{
    const uint8_t bits = frame.CommandByte;
    const uint8_t rising = bits & ~previousBits_;
    previousBits_ = bits;
    const bool jogAskedFor = (rising & CommandBit::JogMode)
                             || ((bits & CommandBit::JogMode) && frame.JogWord != previousJogWord_);
    previousJogWord_ = frame.JogWord;
    const bool acts = (bits & CommandBit::Enable) && !state.LimitActiveHighFlag;
    zeroSent_ = acts && (bits & CommandBit::Zero);
    if (!acts || (bits & (CommandBit::Stop | CommandBit::Zero))) {
        expectedEnd_.reset();
        return;
    }
    if (jogAskedFor) // takes over, unless a move request in this frame takes over in turn
        expectedEnd_.reset();
    if (rising & CommandBit::Relative)
        expectedEnd_ = reportedBusy_ ? std::nullopt : std::optional<int64_t>(lastIdeal_ + frame.TargetSteps);
    if (bits & CommandBit::Go)
        expectedEnd_ = frame.TargetSteps;
}

void SoakChecker::statusFrame(const Frame& read)
{
    const StatusFrame status = decodeStatusFrame(read.data());
    if (read[5] || read[6] || read[7] || (status.StatusByte & 0xC0))
        fail("status frame carries bits that are never sent");
    if (std::llabs(status.MotorPosition - status.IdealPosition) > 1)
        fail(describe("motor position trails the ideal one by more than a step", status.MotorPosition,
                      status.IdealPosition));
    if (std::llabs(status.IdealPosition) > ReachablePositions)
        fail(describe("position beyond the switches", status.IdealPosition, 0));
    if (zeroSent_) {
        ++zeroesSeen_;
        if (status.MotorPosition != 0 || status.IdealPosition != 0)
            fail(describe("position after ZERO", status.MotorPosition, 0));
    }
    reportedBusy_ = status.StatusByte & StatusBit::Busy;
    const bool onSwitch = status.StatusByte & (StatusBit::LowerLimit | StatusBit::UpperLimit);
    if (expectedEnd_ && !reportedBusy_) {
        // A move that ends on a switch ends short of its target.
        if (!onSwitch) {
            ++completedMoves_;
            if (status.IdealPosition != *expectedEnd_ || status.MotorPosition != *expectedEnd_)
                fail(describe("position after a completed move", status.IdealPosition, *expectedEnd_));
        }
        expectedEnd_.reset();
    }
    lastIdeal_ = status.IdealPosition;
}

} // namespace kvx::soak
