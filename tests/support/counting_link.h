// Passes every call on to a real library and counts it, so end-to-end tests
// see what the program asked of the controller.
#pragma once

#include "usb_link.h"

#include <QStringList>

namespace kvx::test {

class CountingLink : public UsbLink {
public:
    explicit CountingLink(UsbLink& inner) : inner_(inner) {}

    QStringList calls;
    std::vector<uint32_t> openedDevices;
    int count(const QString& function) const { return static_cast<int>(calls.count(function)); }

    int16_t SI_GetNumDevices(uint32_t* n) override { return note("SI_GetNumDevices", inner_.SI_GetNumDevices(n)); }
    int16_t SI_GetProductString(uint32_t d, void* b, uint32_t o) override
    {
        return note("SI_GetProductString", inner_.SI_GetProductString(d, b, o));
    }
    int16_t SI_Open(uint32_t d, UsbHandle* h) override
    {
        openedDevices.push_back(d);
        return note("SI_Open", inner_.SI_Open(d, h));
    }
    int16_t SI_Close(UsbHandle h) override { return note("SI_Close", inner_.SI_Close(h)); }
    int16_t SI_Read(UsbHandle h, void* b, uint32_t n, uint32_t* r) override
    {
        return note("SI_Read", inner_.SI_Read(h, b, n, r));
    }
    int16_t SI_Write(UsbHandle h, void* b, uint32_t n, uint32_t* w) override
    {
        return note("SI_Write", inner_.SI_Write(h, b, n, w));
    }
    int16_t SI_SetTimeouts(uint32_t r, uint32_t w) override { return note("SI_SetTimeouts", inner_.SI_SetTimeouts(r, w)); }
    int16_t SI_GetTimeouts(uint32_t* r, uint32_t* w) override
    {
        return note("SI_GetTimeouts", inner_.SI_GetTimeouts(r, w));
    }
    int16_t SI_CheckRXQueue(UsbHandle h, uint32_t* q, uint32_t* s) override
    {
        return note("SI_CheckRXQueue", inner_.SI_CheckRXQueue(h, q, s));
    }

private:
    int16_t note(const char* function, int16_t status)
    {
        calls << QLatin1String(function);
        return status;
    }

    UsbLink& inner_;
};

} // namespace kvx::test
