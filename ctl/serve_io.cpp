#include "serve_io.h"

#include <cerrno>
#include <chrono>
#include <thread>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

namespace kvx::ctl {
namespace {

long readSome(char* buffer, unsigned size)
{
#ifdef Q_OS_WIN
    return _read(0, buffer, size);
#else
    return ::read(0, buffer, size);
#endif
}

long writeSome(const char* data, unsigned size)
{
#ifdef Q_OS_WIN
    return _write(1, data, size);
#else
    return ::write(1, data, size);
#endif
}

} // namespace

InputLines::InputLines(qsizetype maxBytes) : shared_(std::make_shared<Shared>()), maxBytes_(maxBytes) {}

void InputLines::start()
{
#ifdef Q_OS_WIN
    _setmode(0, _O_BINARY);
#endif
    // The thread is never joined: it may sit in a read when the program
    // ends, and it touches nothing but what it shares.
    std::thread([shared = shared_, maxBytes = maxBytes_] {
        QByteArray current;
        bool skipping = false;
        char buffer[65536];
        const auto deliver = [&](InputLine line) {
            std::lock_guard lock(shared->mutex);
            shared->lines.push_back(std::move(line));
        };
        for (;;) {
            const long count = readSome(buffer, sizeof buffer);
            if (count < 0 && errno == EINTR)
                continue;
            if (count <= 0)
                break;
            for (long i = 0; i < count; ++i) {
                const char c = buffer[i];
                if (c == '\n') {
                    if (skipping)
                        deliver({{}, true});
                    else {
                        if (current.endsWith('\r'))
                            current.chop(1);
                        deliver({current, false});
                    }
                    current.clear();
                    skipping = false;
                } else if (!skipping) {
                    current.append(c);
                    if (current.size() > maxBytes) {
                        current = QByteArray();
                        skipping = true;
                    }
                }
            }
        }
        if (skipping)
            deliver({{}, true});
        else if (!current.trimmed().isEmpty())
            deliver({current, false});
        std::lock_guard lock(shared->mutex);
        shared->ended = true;
    }).detach();
}

std::vector<InputLine> InputLines::take(bool& ended)
{
    std::lock_guard lock(shared_->mutex);
    std::vector<InputLine> lines(std::make_move_iterator(shared_->lines.begin()),
                                 std::make_move_iterator(shared_->lines.end()));
    shared_->lines.clear();
    ended = shared_->ended;
    return lines;
}

OutputLines::OutputLines() : shared_(std::make_shared<Shared>()) {}

void OutputLines::start()
{
#ifdef Q_OS_WIN
    _setmode(1, _O_BINARY);
#endif
    // Never joined either: a reader that stops reading may hold it in a
    // write for good, and the program must still end.
    std::thread([shared = shared_] {
        std::unique_lock lock(shared->mutex);
        for (;;) {
            shared->wake.wait(lock, [&] { return !shared->lines.empty(); });
            auto [line, reading] = std::move(shared->lines.front());
            shared->lines.pop_front();
            shared->writing = true;
            lock.unlock();
            const char* data = line.constData();
            qsizetype left = line.size();
            int error = 0;
            while (left > 0) {
                const long written = writeSome(data, unsigned(left));
                if (written < 0 && errno == EINTR)
                    continue;
                if (written <= 0) {
                    error = written < 0 ? errno : EPIPE;
                    break;
                }
                data += written;
                left -= written;
            }
            lock.lock();
            shared->writing = false;
            if (reading)
                --shared->readingsQueued;
            if (error != 0) {
                shared->failed = true;
                shared->error = error;
                shared->lines.clear();
                shared->written.notify_all();
                return;
            }
            shared->written.notify_all();
        }
    }).detach();
}

void OutputLines::write(QByteArray line)
{
    std::lock_guard lock(shared_->mutex);
    if (shared_->failed)
        return;
    shared_->lines.emplace_back(std::move(line), false);
    shared_->wake.notify_one();
}

bool OutputLines::offerReading(QByteArray line)
{
    std::lock_guard lock(shared_->mutex);
    if (shared_->failed || shared_->readingsQueued > 0)
        return false;
    ++shared_->readingsQueued;
    shared_->lines.emplace_back(std::move(line), true);
    shared_->wake.notify_one();
    return true;
}

bool OutputLines::failed(int& error) const
{
    std::lock_guard lock(shared_->mutex);
    error = shared_->error;
    return shared_->failed;
}

void OutputLines::drain(int timeoutMs)
{
    std::unique_lock lock(shared_->mutex);
    shared_->written.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return shared_->failed || (shared_->lines.empty() && !shared_->writing); });
}

} // namespace kvx::ctl
