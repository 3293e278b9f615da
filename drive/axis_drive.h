// The session that drives one axis: lists the controllers, opens the chosen
// one, runs the panel's 30 ms exchange and one motion at a time on it, and
// owns the ways out. The command line, its run files and the serve session
// sit on it; none of them talks to the controller itself.
#pragma once

#include "drive_step.h"
#include "motion.h"
#include "motion_state.h"
#include "reading.h"
#include "usb_link.h"

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <optional>

namespace kvx::ctl {

// A STOP on a way out is held this long at most before the close.
inline constexpr int InterruptStopMs = 2000;
inline constexpr int ExchangePeriodMs = 30;

// How an open went: the exit status the command line gives for it and what
// to say; the panel's own message where the panel would show one.
struct OpenResult {
    int status = 0;
    QString message;
    bool panelMessage = false;
    uint32_t device = 0;
};

class AxisDrive : public QObject {
    Q_OBJECT
public:
    AxisDrive(UsbLink& link, const Settings& settings);

    // Counts the controllers and reads their product strings. False when
    // the library could not count them (failure says why).
    bool list(QString& failure);
    const QStringList& products() const { return products_; }
    // Opens the controller `wanted` names (as -d does), after list().
    OpenResult open(const QString& wanted);
    // Enables the drive; the first exchange at once, then every 30 ms.
    void start();

    // A motion; one under way ends first, answered as preempted (or as
    // stopped, when the new one is stop).
    void begin(const Step& step);
    bool motionUnderWay() const { return motion_.has_value(); }
    // Ends the motion under way with no outcome and leaves its buttons up.
    void cancelMotion();

    // STOP held until idle, 2 s at most, then done() with the controller
    // still open. Ends the motion under way: without an outcome, or, with
    // reportMotion, as stopped. Nothing shortens it but hurry().
    void holdStopThen(std::function<void()> done, bool reportMotion = false);
    bool holdingStop() const { return bool(stopDone_); }
    // A second interruption: done() as soon as one STOP frame is on the
    // wire, never before.
    void hurry();

    void close();
    // After a failed exchange: one STOP write and one close, whatever they
    // return.
    void abandon();
    bool isOpen() const { return open_; }

    SliderValues& sliders() { return sliders_; }
    const Settings& settings() const { return settings_; }
    // The four sliders, from the next frame on.
    void setSliders(const SliderValues& sliders);
    const Reading& reading() const { return reading_; }
    uint64_t exchanges() const { return reading_.exchange; }

signals:
    // After every exchange, once the motion has taken the reading.
    void exchanged(const Reading& reading);
    void motionEnded(const MotionOutcome& outcome);
    // The exchange failed: nothing more goes on the wire unless abandon().
    void linkFailed(const QString& message);

private:
    void tick();
    void endHold();
    AxisControls controls() { return {state_, sliders_, targetPosition_}; }

    UsbLink& link_;
    Settings settings_;
    MotionState state_;
    SliderValues sliders_;
    double targetPosition_ = 0;
    QTimer timer_;
    QElapsedTimer clock_;
    QStringList products_;
    Reading reading_;
    std::optional<Motion> motion_;
    std::function<void()> stopDone_;
    qint64 stopSinceMs_ = 0;
    int stopFramesWritten_ = 0;
    bool hurried_ = false;
    bool open_ = false;
    bool failed_ = false;
};

} // namespace kvx::ctl
