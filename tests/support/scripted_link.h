// A stand-in for the USB library that tests script: what it answers, and a
// record of what it was asked.
#pragma once

#include "frames.h"
#include "usb_link.h"

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

namespace kvx::test {

class ScriptedLink : public UsbLink {
public:
    // Enumeration
    int16_t countStatus = 0;
    std::vector<QByteArray> products;      // one per device, written with a zero after it
    QSet<uint32_t> failingProductStrings;  // these leave the buffer untouched and fail
    // Opening
    int16_t openStatus = 0;
    UsbHandle handleToGive = reinterpret_cast<UsbHandle>(0x1234'5678'9ABCull);
    // Exchange: statuses and counts to report; empty means success with the full count.
    int16_t writeStatus = 0;
    std::optional<uint32_t> writeCount;
    int16_t readStatus = 0;
    std::optional<uint32_t> readCount;
    std::deque<Frame> statusFrames;        // answered in turn; then the last one again
    // When set, answers each read from the frame last written instead: a
    // controller of the test's own making.
    std::function<Frame(const Frame& command)> respond;
    Frame lastStatus = encodeStatusFrame({});
    // Names of functions that behave as if the library lacked them.
    QSet<QString> missing;

    // What was asked
    QStringList calls;
    std::vector<Frame> written;
    std::vector<UsbHandle> closedHandles;
    uint32_t openedDevice = 0;
    uint32_t readTimeout = 0, writeTimeout = 0;

    int16_t SI_GetNumDevices(uint32_t* numDevices) override
    {
        enter("SI_GetNumDevices");
        *numDevices = static_cast<uint32_t>(products.size());
        return countStatus;
    }
    int16_t SI_GetProductString(uint32_t device, void* buffer, uint32_t /*options*/) override
    {
        enter("SI_GetProductString");
        if (failingProductStrings.contains(device) || device >= products.size())
            return 1;
        const QByteArray& text = products[device];
        auto* out = static_cast<char*>(buffer);
        std::copy(text.begin(), text.end(), out);
        out[text.size()] = 0;
        return 0;
    }
    int16_t SI_Open(uint32_t device, UsbHandle* handle) override
    {
        enter("SI_Open");
        openedDevice = device;
        if (openStatus == 0)
            *handle = handleToGive;
        return openStatus;
    }
    int16_t SI_Close(UsbHandle handle) override
    {
        enter("SI_Close");
        closedHandles.push_back(handle);
        return 0;
    }
    int16_t SI_Read(UsbHandle, void* buffer, uint32_t bytesToRead, uint32_t* bytesRead) override
    {
        enter("SI_Read");
        if (respond && !written.empty()) {
            lastStatus = respond(written.back());
        } else if (!statusFrames.empty()) {
            lastStatus = statusFrames.front();
            statusFrames.pop_front();
        }
        const uint32_t count = readCount.value_or(readStatus == 0 ? bytesToRead : 0);
        std::copy_n(lastStatus.begin(), std::min<uint32_t>(count, FrameSize), static_cast<uint8_t*>(buffer));
        *bytesRead = count;
        return readStatus;
    }
    int16_t SI_Write(UsbHandle, void* buffer, uint32_t bytesToWrite, uint32_t* bytesWritten) override
    {
        enter("SI_Write");
        Frame frame{};
        std::copy_n(static_cast<const uint8_t*>(buffer), std::min<uint32_t>(bytesToWrite, FrameSize), frame.begin());
        written.push_back(frame);
        *bytesWritten = writeCount.value_or(writeStatus == 0 ? bytesToWrite : 0);
        return writeStatus;
    }
    int16_t SI_SetTimeouts(uint32_t readMs, uint32_t writeMs) override
    {
        enter("SI_SetTimeouts");
        readTimeout = readMs;
        writeTimeout = writeMs;
        return 0;
    }
    int16_t SI_GetTimeouts(uint32_t* readMs, uint32_t* writeMs) override
    {
        enter("SI_GetTimeouts");
        *readMs = readTimeout;
        *writeMs = writeTimeout;
        return 0;
    }
    int16_t SI_CheckRXQueue(UsbHandle, uint32_t* bytesInQueue, uint32_t* queueStatus) override
    {
        enter("SI_CheckRXQueue");
        *bytesInQueue = 0;
        *queueStatus = 0;
        return 0;
    }

    // Queues a status frame with the given positions and status byte.
    void answer(int64_t motorPosition, uint8_t statusByte, int64_t idealPosition = 0)
    {
        statusFrames.push_back(encodeStatusFrame({motorPosition, statusByte, idealPosition}));
    }

private:
    void enter(const char* name)
    {
        const QString function = QLatin1String(name);
        if (missing.contains(function))
            throw LinkUnavailable(QStringLiteral("The USB library SiUSBXp has no function %1.").arg(function)
                                      .toStdString());
        calls << function;
    }
};

} // namespace kvx::test
