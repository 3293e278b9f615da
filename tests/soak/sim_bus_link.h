// The simulated bus in this process, seen through the program's UsbLink:
// the exchange cycle runs on it exactly as on a library bound by name, but
// on whatever clock the bus was given.
#pragma once

#include "sim_bus.h"
#include "usb_link.h"

namespace kvx::soak {

class SimBusLink final : public UsbLink {
public:
    explicit SimBusLink(sim::SimBus& bus) : bus_(bus) {}

    int16_t SI_GetNumDevices(uint32_t* n) override { return narrowStatus(bus_.getNumDevices(n)); }
    int16_t SI_GetProductString(uint32_t d, void* b, uint32_t o) override
    {
        return narrowStatus(bus_.getProductString(d, b, o));
    }
    int16_t SI_Open(uint32_t d, UsbHandle* h) override { return narrowStatus(bus_.open(d, h)); }
    int16_t SI_Close(UsbHandle h) override { return narrowStatus(bus_.close(h)); }
    int16_t SI_Read(UsbHandle h, void* b, uint32_t n, uint32_t* r) override
    {
        return narrowStatus(bus_.read(h, b, n, r));
    }
    int16_t SI_Write(UsbHandle h, void* b, uint32_t n, uint32_t* w) override
    {
        return narrowStatus(bus_.write(h, b, n, w));
    }
    int16_t SI_SetTimeouts(uint32_t r, uint32_t w) override { return narrowStatus(bus_.setTimeouts(r, w)); }
    int16_t SI_GetTimeouts(uint32_t* r, uint32_t* w) override { return narrowStatus(bus_.getTimeouts(r, w)); }
    int16_t SI_CheckRXQueue(UsbHandle h, uint32_t* q, uint32_t* s) override
    {
        return narrowStatus(bus_.checkRxQueue(h, q, s));
    }

private:
    sim::SimBus& bus_;
};

} // namespace kvx::soak
