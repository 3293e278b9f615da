#include "axis_drive.h"

#include "controller_choice.h"
#include "device_list.h"
#include "exit_status.h"
#include "frames.h"
#include "motion_commands.h"
#include "status_words.h"
#include "usbxpress.h"

#include <chrono>

namespace kvx::ctl {

double wallClockSeconds()
{
    using namespace std::chrono;
    const auto micros = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
    return static_cast<double>(micros) / 1e6;
}

AxisDrive::AxisDrive(UsbLink& link, const Settings& settings) : link_(link), settings_(settings)
{
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(ExchangePeriodMs);
    connect(&timer_, &QTimer::timeout, this, &AxisDrive::tick);
    sliders_ = settings.sliders;
    sliders_.Slider1 = 0;
    state_.Demultiplication = settings.demultiplication;
    state_.ReverseMotorFlag = settings.reverseMotor ? OptionBit::ReverseMotor : 0;
    state_.ReverseLimitFlag = settings.reverseLimit ? OptionBit::ReverseLimit : 0;
    state_.LimitActiveHighFlag = settings.limitActiveHigh ? OptionBit::LimitActiveHigh : 0;
    reading_.demultiplication = settings.demultiplication;
}

bool AxisDrive::list(QString& failure)
{
    try {
        const DeviceListing listing = listDevices(link_, state_);
        if (!listing.counted) {
            failure = noDeviceMessage();
            return false;
        }
        products_ = listing.entries;
        return true;
    } catch (const LinkUnavailable& missing) {
        failure = QString::fromStdString(missing.what());
        return false;
    }
}

OpenResult AxisDrive::open(const QString& wanted)
{
    const ControllerChoice choice = chooseController(products_, wanted);
    if (!choice.device)
        return {ExitStatus::NoController, choice.error, false, 0};
    const uint32_t device = *choice.device;
    const QString product = products_[int(device)];
    try {
        if (!openDevice(link_, state_, device)) {
            // Another program holds it: nothing to reset, so not the panel's advice.
            if (state_.LinkStatus == SiStatus::DeviceBusy)
                return {ExitStatus::ControllerInUse,
                        QStringLiteral("controller %1 (%2) is in use by another program; end that program first")
                            .arg(device).arg(product),
                        false, device};
            return {ExitStatus::LinkFailure, openFailureMessage(product), true, device};
        }
    } catch (const LinkUnavailable& missing) {
        return {ExitStatus::LinkFailure, QString::fromStdString(missing.what()), true, device};
    }
    open_ = true;
    clock_.start();
    return {ExitStatus::Done, {}, false, device};
}

void AxisDrive::start()
{
    if (!open_)
        return;
    // From the panel's activation on, every frame enables the drive.
    state_.EnableFlag = CommandBit::Enable;
    tick();
    if (open_ && !failed_)
        timer_.start();
}

void AxisDrive::begin(const Step& step)
{
    if (stopDone_)
        endHold();
    if (motion_) {
        const MotionEnding why = step.command == Command::Stop ? MotionEnding::Stopped : MotionEnding::Preempted;
        const MotionOutcome outcome = endedByAnother(*motion_, why, reading_, state_.Demultiplication);
        motion_.reset();
        // The first click comes up before the second goes down.
        releaseHeld(controls());
        emit motionEnded(outcome);
    }
    motion_ = beginMotion(step, controls(), clock_.elapsed());
}

void AxisDrive::cancelMotion()
{
    motion_.reset();
    releaseHeld(controls());
}

void AxisDrive::holdStopThen(std::function<void()> done, bool reportMotion)
{
    if (stopDone_) {
        // Already holding: the same STOP, the same bound, both endings.
        stopDone_ = [first = std::move(stopDone_), then = std::move(done)] {
            first();
            then();
        };
        return;
    }
    std::optional<Motion> ended = std::move(motion_);
    motion_.reset();
    pressStopInPlaceOfHeld(controls());
    stopDone_ = std::move(done);
    stopSinceMs_ = clock_.elapsed();
    stopFramesWritten_ = 0;
    hurried_ = false;
    // Told while the STOP is already held, so that nobody closes before it.
    if (ended && reportMotion)
        emit motionEnded(endedByAnother(*ended, MotionEnding::Stopped, reading_, state_.Demultiplication));
}

void AxisDrive::hurry()
{
    hurried_ = true;
    if (stopDone_ && stopFramesWritten_ > 0)
        endHold();
}

void AxisDrive::endHold()
{
    const std::function<void()> done = std::move(stopDone_);
    stopDone_ = nullptr;
    releaseStop(state_);
    if (done)
        done();
}

void AxisDrive::close()
{
    timer_.stop();
    if (!open_)
        return;
    open_ = false;
    try {
        link_.SI_Close(state_.DeviceHandle);
    } catch (const LinkUnavailable&) {
        // The program ends regardless.
    }
}

void AxisDrive::abandon()
{
    timer_.stop();
    if (!open_)
        return;
    open_ = false;
    motion_.reset();
    pressStopInPlaceOfHeld(controls());
    try {
        if (composeCommandFrame(state_, sliders_, targetPosition_)) {
            uint32_t written = 0;
            link_.SI_Write(state_.DeviceHandle, state_.FrameBuffer.data(), FrameSize, &written);
        }
        link_.SI_Close(state_.DeviceHandle);
    } catch (const LinkUnavailable&) {
        // Nothing more can be tried.
    }
}

void AxisDrive::setSliders(const SliderValues& sliders)
{
    const int jog = sliders_.Slider1;
    sliders_ = sliders;
    sliders_.Slider1 = jog;
    settings_.sliders = sliders;
    settings_.sliders.Slider1 = 0;
}

void AxisDrive::tick()
{
    if (!open_ || failed_)
        return;
    const TickResult result = runExchange(state_, sliders_, targetPosition_, link_);
    if (result.failed) {
        failed_ = true;
        timer_.stop();
        emit linkFailed(result.failureMessage);
        return;
    }
    reading_ = Reading{decodeStatusFrame(state_.FrameBuffer.data()).MotorPosition, state_.Demultiplication,
                       result.display.alerts, wallClockSeconds(), reading_.exchange + 1};
    const bool busy = isAlert(reading_.alerts, StatusElement::Busy);
    if (stopDone_) {
        if (state_.CommandByte & CommandBit::Stop)
            ++stopFramesWritten_;
        const bool bounded = clock_.elapsed() - stopSinceMs_ >= InterruptStopMs;
        if (stopFramesWritten_ > 0 && (!busy || bounded || hurried_))
            endHold();
    } else if (motion_) {
        MotionOutcome outcome = advanceMotion(*motion_, controls(), reading_, clock_.elapsed());
        if (outcome.result != MotionResult::Running) {
            motion_.reset();
            if (outcome.stopFirst)
                holdStopThen([this, outcome]() mutable {
                    outcome.reading = reading_;
                    emit motionEnded(outcome);
                });
            else
                emit motionEnded(outcome);
        }
    }
    if (open_ && !failed_)
        emit exchanged(reading_);
}

} // namespace kvx::ctl
