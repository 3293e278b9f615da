// Exports all but SI_Close, so tests can see both a bound call and a missing one.
#include "usbxpress.h"

extern "C" {

SI_EXPORT int SI_API SI_GetNumDevices(uint32_t* numDevices)
{
    *numDevices = 3;
    return 0x10000; // only the low 16 bits are a status: this is success
}

SI_EXPORT int SI_API SI_Open(uint32_t deviceNumber, void** handle)
{
    // A handle above 4 GiB checks that nothing narrows it to 32 bits.
    *handle = reinterpret_cast<void*>(static_cast<uintptr_t>(0x7F00000000ull + deviceNumber));
    return deviceNumber == 0xFFFFFFFFu ? 0xFFFF : 0;
}

SI_EXPORT int SI_API SI_GetProductString(uint32_t, void*, uint32_t) { return 0; }
SI_EXPORT int SI_API SI_Read(void*, void*, uint32_t, uint32_t*, void*) { return 0; }
SI_EXPORT int SI_API SI_Write(void*, void*, uint32_t, uint32_t*, void*) { return 0; }
SI_EXPORT int SI_API SI_SetTimeouts(uint32_t, uint32_t) { return 0; }
SI_EXPORT int SI_API SI_GetTimeouts(uint32_t*, uint32_t*) { return 0; }
SI_EXPORT int SI_API SI_CheckRXQueue(void*, uint32_t*, uint32_t*) { return 0; }
}
