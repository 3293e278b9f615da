// Passes every call on and keeps a copy of the last command frame written,
// so the soak can check exactly the bytes that went on the wire.
#pragma once

#include "frames.h"
#include "usb_link.h"

#include <algorithm>

namespace kvx::soak {

class FrameTap final : public UsbLink {
public:
    explicit FrameTap(UsbLink& inner) : inner_(inner) {}

    Frame lastWritten{};
    uint32_t lastWriteLength = 0;

    int16_t SI_Write(UsbHandle h, void* b, uint32_t n, uint32_t* w) override
    {
        lastWriteLength = n;
        const auto* bytes = static_cast<const uint8_t*>(b);
        std::copy(bytes, bytes + std::min<uint32_t>(n, FrameSize), lastWritten.begin());
        return inner_.SI_Write(h, b, n, w);
    }
    int16_t SI_Read(UsbHandle h, void* b, uint32_t n, uint32_t* r) override { return inner_.SI_Read(h, b, n, r); }
    int16_t SI_GetNumDevices(uint32_t* n) override { return inner_.SI_GetNumDevices(n); }
    int16_t SI_GetProductString(uint32_t d, void* b, uint32_t o) override
    {
        return inner_.SI_GetProductString(d, b, o);
    }
    int16_t SI_Open(uint32_t d, UsbHandle* h) override { return inner_.SI_Open(d, h); }
    int16_t SI_Close(UsbHandle h) override { return inner_.SI_Close(h); }
    int16_t SI_SetTimeouts(uint32_t r, uint32_t w) override { return inner_.SI_SetTimeouts(r, w); }
    int16_t SI_GetTimeouts(uint32_t* r, uint32_t* w) override { return inner_.SI_GetTimeouts(r, w); }
    int16_t SI_CheckRXQueue(UsbHandle h, uint32_t* q, uint32_t* s) override
    {
        return inner_.SI_CheckRXQueue(h, q, s);
    }

private:
    UsbLink& inner_;
};

} // namespace kvx::soak
