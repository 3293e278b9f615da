// serve's standard input and output, each on a thread of its own, so that
// the 30 ms exchange never waits for a script: lines are read as they come
// and taken at the next exchange; lines to write are queued, and readings
// that the reader does not keep up with are dropped, never responses.
#pragma once

#include <QByteArray>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace kvx::ctl {

struct InputLine {
    QByteArray text;
    bool tooLong = false; // refused unread, skipped up to its newline
};

class InputLines {
public:
    explicit InputLines(qsizetype maxBytes);
    // Reads standard input from now on (once).
    void start();
    // The lines that came since the last call; ended once input has ended
    // and every line before the end has been taken.
    std::vector<InputLine> take(bool& ended);

private:
    struct Shared {
        std::mutex mutex;
        std::deque<InputLine> lines;
        bool ended = false;
    };
    std::shared_ptr<Shared> shared_;
    qsizetype maxBytes_;
};

class OutputLines {
public:
    OutputLines();
    // Writes standard output from now on (once).
    void start();
    // A response or notification: always written, in order.
    void write(QByteArray line);
    // A reading: false (dropped) while an earlier one still waits.
    bool offerReading(QByteArray line);
    // A write failed; its error number.
    bool failed(int& error) const;
    // Waits until everything queued is written, a write failed, or the time
    // is up.
    void drain(int timeoutMs);

private:
    struct Shared {
        mutable std::mutex mutex;
        std::condition_variable wake;
        std::condition_variable written;
        std::deque<std::pair<QByteArray, bool>> lines; // the line, whether a reading
        int readingsQueued = 0;
        bool writing = false;
        bool failed = false;
        int error = 0;
    };
    std::shared_ptr<Shared> shared_;
};

} // namespace kvx::ctl
