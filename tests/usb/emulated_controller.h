// One emulated controller behind umockdev: its descriptors and the ioctl
// handler that answers usbdevfs calls. Only emulated_bus.cpp includes it.
#pragma once

#include "emulated_bus.h"

#include "frames.h"

#include <umockdev.h>
// After GLib's headers: Qt's keyword macros would rename their fields.
#include <QString>

#include <linux/ioctl.h>
#include <linux/usbdevice_fs.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <sys/stat.h>
#include <utility>

namespace kvx::usbtest {

inline constexpr uint16_t PacketSize = 64;
inline constexpr const char* SerialDriver = "cp210x";
inline constexpr uint8_t StringManufacturer = 1, StringProduct = 2, StringSerial = 3;

inline std::string hex(const uint8_t* bytes, std::size_t count)
{
    std::string text;
    char two[3];
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(two, sizeof two, "%02x", bytes[i]);
        text += two;
    }
    return text;
}

// The device, configuration, interface and endpoint descriptors, as sysfs
// offers them in "descriptors": one configuration, one vendor-specific
// interface with a bulk endpoint each way.
inline std::vector<uint8_t> descriptors(const ControllerIdentity& identity)
{
    const auto lo = [](uint16_t v) { return uint8_t(v & 0xFF); };
    const auto hi = [](uint16_t v) { return uint8_t(v >> 8); };
    return {
        18, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 64, lo(identity.vendor), hi(identity.vendor), lo(identity.product),
        hi(identity.product), 0x00, 0x01, StringManufacturer, StringProduct, StringSerial, 1,
        9, 0x02, 32, 0, 1, 1, 0, 0x80, 50,
        9, 0x04, 0, 0, 2, 0xFF, 0x00, 0x00, 0,
        7, 0x05, identity.inEndpoint, 0x02, lo(PacketSize), hi(PacketSize), 0,
        7, 0x05, identity.outEndpoint, 0x02, lo(PacketSize), hi(PacketSize), 0,
    };
}

// A string descriptor holds UTF-16LE, as a real device sends it; the
// strings are given as UTF-8.
inline std::vector<uint8_t> stringDescriptor(const std::string& utf8)
{
    const std::u16string units = QString::fromStdString(utf8).toStdU16String();
    std::vector<uint8_t> d{uint8_t(2 + 2 * units.size()), 0x03};
    for (const char16_t unit : units) {
        d.push_back(uint8_t(unit & 0xFF));
        d.push_back(uint8_t(unit >> 8));
    }
    return d;
}

struct Log {
    std::mutex mutex;
    std::string path;
    bool times = false;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    std::vector<std::string> lines;
    void add(const std::string& line)
    {
        std::lock_guard lock(mutex);
        lines.push_back(line);
        if (path.empty())
            return;
        if (std::FILE* f = std::fopen(path.c_str(), "ab")) {
            if (times)
                std::fprintf(f, "%.6f ",
                             std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
            std::fprintf(f, "%s\n", line.c_str());
            std::fclose(f);
        }
    }
};


inline constexpr const char* ProductString = "KVX-340 stepper controller (emulated)";
inline constexpr const char* ManufacturerString = "KVX test bench";

struct EmulatedBus::Testbed {
    UMockdevTestbed* bed = nullptr;
    std::string root;               // the testbed's folder, /dev inside it
    std::vector<std::string> nodes; // each controller's device node
    Log log;
};

class EmulatedBus::Device {
public:
    Device(const ControllerIdentity& identity, Log& log) : identity_(identity), log_(log), handler_(umockdev_ioctl_base_new())
    {
        g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(&Device::onIoctl), this);
    }
    ~Device()
    {
        dropUrbs();
        g_object_unref(handler_);
    }

    UMockdevIoctlBase* handler() const { return handler_; }
    const ControllerIdentity& identity() const { return identity_; }

    void reset(const ControllerFaults& faults)
    {
        std::lock_guard lock(mutex_);
        dropUrbs();
        faults_ = faults;
        driverBound_ = faults.driverBound;
        claimed_ = false;
        linkOpen_ = false;
        unplugged_ = false;
        answers_.clear();
        model_ = {};
        everExchanged_ = false;
    }
    void unplug()
    {
        std::lock_guard lock(mutex_);
        unplugNow();
    }
    bool driverBound() const
    {
        std::lock_guard lock(mutex_);
        return driverBound_;
    }
    sim::AxisModel model() const
    {
        std::lock_guard lock(mutex_);
        return model_;
    }

private:
    using Clock = std::chrono::steady_clock;

    void note(const std::string& what) { log_.add(std::string(1, identity_.serial.back()) + " " + what); }

    void unplugNow()
    {
        if (!unplugged_)
            note("unplugged");
        unplugged_ = true;
    }

    bool gone()
    {
        if (!unplugged_ && faults_.unplugAfter >= 0 && linkOpen_ &&
            std::chrono::duration<double>(Clock::now() - openedAt_).count() >= faults_.unplugAfter)
            unplugNow();
        return unplugged_;
    }

    // A submitted URB: its struct and its buffer, local copies that umockdev
    // writes back to the program when the URB is reaped.
    struct Urb {
        UMockdevIoctlData* data = nullptr;
        UMockdevIoctlData* buffer = nullptr;
        ~Urb()
        {
            if (buffer)
                g_object_unref(buffer);
            if (data)
                g_object_unref(data);
        }
        usbdevfs_urb* urb() const { return reinterpret_cast<usbdevfs_urb*>(data->data); }
    };

    void dropUrbs()
    {
        for (auto* urb : pendingIn_)
            delete urb;
        for (auto* urb : done_)
            delete urb;
        pendingIn_.clear();
        done_.clear();
    }

    static gboolean onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self)
    {
        auto* device = static_cast<Device*>(self);
        std::lock_guard lock(device->mutex_);
        device->handle(client);
        return TRUE;
    }

    static void fail(UMockdevIoctlClient* client, int error) { umockdev_ioctl_client_complete(client, -1, error); }
    static void succeed(UMockdevIoctlClient* client) { umockdev_ioctl_client_complete(client, 0, 0); }

    // A resolved argument: umockdev hands out a reference of its own.
    struct DataRef {
        UMockdevIoctlData* p = nullptr;
        ~DataRef()
        {
            if (p)
                g_object_unref(p);
        }
    };

    template <typename T>
    static T* resolved(UMockdevIoctlClient* client, DataRef& data)
    {
        data.p = umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(T), nullptr);
        return data.p ? reinterpret_cast<T*>(data.p->data) : nullptr;
    }

    void handle(UMockdevIoctlClient* client)
    {
        const gulong request = umockdev_ioctl_client_get_request(client);
        DataRef data;
        switch (request) {
        case USBDEVFS_GET_CAPABILITIES:
            if (auto* caps = resolved<uint32_t>(client, data))
                *caps = USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM;
            succeed(client);
            return;
        case USBDEVFS_GETDRIVER: {
            auto* driver = resolved<usbdevfs_getdriver>(client, data);
            // An interface another program claimed shows usbfs as its driver.
            const char* name = driverBound_ ? SerialDriver : faults_.heldElsewhere ? "usbfs" : nullptr;
            if (gone())
                fail(client, ENODEV);
            else if (!name || !driver)
                fail(client, ENODATA);
            else {
                std::snprintf(driver->driver, sizeof driver->driver, "%s", name);
                succeed(client);
            }
            return;
        }
        case USBDEVFS_IOCTL: {
            auto* command = resolved<usbdevfs_ioctl>(client, data);
            if (gone())
                fail(client, ENODEV);
            else if (command && command->ioctl_code == int(USBDEVFS_DISCONNECT) && driverBound_) {
                driverBound_ = false;
                note(std::string("driver detached ") + SerialDriver);
                succeed(client);
            } else if (command && command->ioctl_code == int(USBDEVFS_CONNECT) && !driverBound_ && !claimed_) {
                driverBound_ = true;
                note(std::string("driver attached ") + SerialDriver);
                succeed(client);
            } else {
                fail(client, command && command->ioctl_code == int(USBDEVFS_DISCONNECT) ? ENODATA : EBUSY);
            }
            return;
        }
        case USBDEVFS_CLAIMINTERFACE:
            if (gone())
                fail(client, ENODEV);
            else if (driverBound_ || claimed_ || faults_.heldElsewhere)
                fail(client, EBUSY);
            else {
                claimed_ = true;
                note("claim");
                succeed(client);
            }
            return;
        case USBDEVFS_RELEASEINTERFACE:
            claimed_ = false;
            note("release");
            gone() ? fail(client, ENODEV) : succeed(client);
            return;
        case USBDEVFS_CLEAR_HALT: {
            auto* endpoint = resolved<unsigned int>(client, data);
            if (gone())
                fail(client, ENODEV);
            else {
                note("clear-halt " + hex(reinterpret_cast<uint8_t*>(endpoint), 1));
                succeed(client);
            }
            return;
        }
        case USBDEVFS_SUBMITURB:
            submit(client);
            return;
        case USBDEVFS_REAPURB:
        case USBDEVFS_REAPURBNDELAY:
            reap(client);
            return;
        case USBDEVFS_DISCARDURB:
            discard(client);
            return;
        default:
            fail(client, ENOTTY);
            return;
        }
    }

    void submit(UMockdevIoctlClient* client)
    {
        DataRef data;
        auto* urb = resolved<usbdevfs_urb>(client, data);
        if (!urb) {
            fail(client, EFAULT);
            return;
        }
        if (gone()) {
            fail(client, ENODEV);
            return;
        }
        // As the kernel does, a length below zero is refused, and so is a
        // buffer that is not there to be read or written.
        if (urb->buffer_length < 0) {
            fail(client, EINVAL);
            return;
        }
        auto* held = new Urb{std::exchange(data.p, nullptr), nullptr};
        if (urb->buffer_length > 0) {
            held->buffer = umockdev_ioctl_data_resolve(held->data, offsetof(usbdevfs_urb, buffer),
                                                       std::size_t(urb->buffer_length), nullptr);
            if (!held->buffer) {
                delete held;
                fail(client, EFAULT);
                return;
            }
        }
        urb->actual_length = 0;
        urb->status = 0;
        if (urb->type == USBDEVFS_URB_TYPE_CONTROL)
            control(*held);
        else if (urb->type == USBDEVFS_URB_TYPE_BULK && urb->endpoint == identity_.outEndpoint)
            bulkOut(*held);
        else if (urb->type == USBDEVFS_URB_TYPE_BULK && urb->endpoint == identity_.inEndpoint) {
            pendingIn_.push_back(held);
            answerPendingReads();
            succeed(client);
            return;
        } else {
            delete held;
            fail(client, ENOENT);
            return;
        }
        done_.push_back(held);
        succeed(client);
    }

    void control(Urb& held)
    {
        usbdevfs_urb* urb = held.urb();
        uint8_t* setup = held.buffer ? held.buffer->data : nullptr;
        if (!setup || urb->buffer_length < 8) {
            urb->status = -EPIPE;
            return;
        }
        const uint8_t type = setup[0], request = setup[1];
        const uint16_t value = uint16_t(setup[2] | (setup[3] << 8));
        const uint16_t length = uint16_t(setup[6] | (setup[7] << 8));
        if (type == 0x80 && request == 0x06 && (value >> 8) == 0x03) {
            const uint8_t index = uint8_t(value & 0xFF);
            std::vector<uint8_t> d;
            if (index == 0)
                d = {4, 0x03, 0x09, 0x04};
            else if (index == StringSerial)
                d = stringDescriptor(identity_.serial);
            else if (index == StringProduct)
                d = stringDescriptor(ProductString);
            else if (index == StringManufacturer)
                d = stringDescriptor(ManufacturerString);
            const std::size_t n = std::min<std::size_t>({d.size(), length, std::size_t(urb->buffer_length - 8)});
            std::copy_n(d.begin(), n, setup + 8);
            urb->actual_length = int(n);
            if (d.empty())
                urb->status = -EPIPE;
            return;
        }
        if (type == 0x40 && request == 0x02 && length == 0) {
            switch (value) {
            case 0x0001:
                note("request flush");
                answers_.clear();
                return;
            case 0x0002:
                note("request open");
                linkOpen_ = true;
                openedAt_ = Clock::now();
                return;
            case 0x0004:
                note("request close");
                linkOpen_ = false;
                return;
            }
        }
        note("request refused " + hex(setup, 8));
        urb->status = -EPIPE;
    }

    void bulkOut(Urb& held)
    {
        usbdevfs_urb* urb = held.urb();
        const uint8_t* bytes = held.buffer ? held.buffer->data : nullptr;
        urb->actual_length = urb->buffer_length;
        if (!bytes)
            return;
        note("frame out " + hex(bytes, std::size_t(urb->buffer_length)));
        // Until the link is opened the firmware holds its data back.
        if (!linkOpen_ || urb->buffer_length != FrameSize || faults_.silent)
            return;
        const auto now = Clock::now();
        if (everExchanged_)
            model_.advance(std::chrono::duration<double>(now - lastExchange_).count());
        everExchanged_ = true;
        lastExchange_ = now;
        model_.apply(decodeCommandFrame(bytes));
        const Frame answer = encodeStatusFrame(model_.status());
        answers_.insert(answers_.end(), answer.begin(), answer.end());
        answerPendingReads();
    }

    // A read waiting gets what the device has to send, in one packet. A
    // packet larger than the room left in the read is babble, as on a real
    // bus: the read fails with what fitted, and the rest of it is lost.
    void answerPendingReads()
    {
        while (!pendingIn_.empty() && !answers_.empty()) {
            Urb* held = pendingIn_.front();
            pendingIn_.pop_front();
            usbdevfs_urb* urb = held->urb();
            const std::size_t packet = std::min<std::size_t>(answers_.size(), PacketSize);
            // A read of no bytes has no buffer: any packet overflows it.
            const std::size_t n = held->buffer ? std::min<std::size_t>(packet, std::size_t(urb->buffer_length)) : 0;
            if (n > 0)
                std::copy_n(answers_.begin(), n, held->buffer->data);
            note((n < packet ? "frame in overflowing " : "frame in ") + (n > 0 ? hex(held->buffer->data, n) : ""));
            answers_.erase(answers_.begin(), answers_.begin() + std::ptrdiff_t(packet));
            urb->actual_length = int(n);
            if (n < packet)
                urb->status = -EOVERFLOW;
            done_.push_back(held);
        }
    }

    void reap(UMockdevIoctlClient* client)
    {
        if (done_.empty()) {
            fail(client, gone() ? ENODEV : EAGAIN);
            return;
        }
        Urb* held = done_.front();
        done_.pop_front();
        DataRef pointer;
        resolved<void*>(client, pointer);
        umockdev_ioctl_data_set_ptr(pointer.p, 0, held->data);
        succeed(client);
        delete held;
    }

    void discard(UMockdevIoctlClient* client)
    {
        // The argument is the program's own address of the URB.
        const gulong address = *reinterpret_cast<gulong*>(umockdev_ioctl_client_get_arg(client)->data);
        const auto found = std::find_if(pendingIn_.begin(), pendingIn_.end(),
                                        [address](const Urb* u) { return u->data->client_addr == address; });
        if (found == pendingIn_.end()) {
            fail(client, EINVAL);
            return;
        }
        Urb* held = *found;
        pendingIn_.erase(found);
        held->urb()->status = -ENOENT;
        done_.push_back(held);
        succeed(client);
    }

    ControllerIdentity identity_;
    Log& log_;
    UMockdevIoctlBase* handler_;
    mutable std::mutex mutex_;
    ControllerFaults faults_;
    bool driverBound_ = false;
    bool claimed_ = false;
    bool linkOpen_ = false;
    bool unplugged_ = false;
    Clock::time_point openedAt_{};
    std::deque<Urb*> pendingIn_;
    std::deque<Urb*> done_;
    std::deque<uint8_t> answers_;
    sim::AxisModel model_;
    bool everExchanged_ = false;
    Clock::time_point lastExchange_{};
};

} // namespace kvx::usbtest
