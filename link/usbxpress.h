// The C interface of the controller's USB library. The vendor's library and
// our simulator both export exactly these nine functions; the program binds
// them by name at run time (see usb_library.h).
#pragma once

#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define SI_API __stdcall
#else
#define SI_API
#endif

#if defined(_WIN32)
#define SI_EXPORT __declspec(dllexport)
#else
#define SI_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Every function returns 0 on success; callers look at the low 16 bits only.
SI_EXPORT int SI_API SI_GetNumDevices(uint32_t* numDevices);
SI_EXPORT int SI_API SI_GetProductString(uint32_t deviceNumber, void* buffer, uint32_t options);
SI_EXPORT int SI_API SI_Open(uint32_t deviceNumber, void** handle);
SI_EXPORT int SI_API SI_Close(void* handle);
SI_EXPORT int SI_API SI_Read(void* handle, void* buffer, uint32_t bytesToRead, uint32_t* bytesRead,
                             void* overlapped);
SI_EXPORT int SI_API SI_Write(void* handle, void* buffer, uint32_t bytesToWrite, uint32_t* bytesWritten,
                              void* overlapped);
SI_EXPORT int SI_API SI_SetTimeouts(uint32_t readTimeoutMs, uint32_t writeTimeoutMs);
SI_EXPORT int SI_API SI_GetTimeouts(uint32_t* readTimeoutMs, uint32_t* writeTimeoutMs);
SI_EXPORT int SI_API SI_CheckRXQueue(void* handle, uint32_t* bytesInQueue, uint32_t* queueStatus);

typedef int(SI_API* SI_GetNumDevices_t)(uint32_t*);
typedef int(SI_API* SI_GetProductString_t)(uint32_t, void*, uint32_t);
typedef int(SI_API* SI_Open_t)(uint32_t, void**);
typedef int(SI_API* SI_Close_t)(void*);
typedef int(SI_API* SI_Read_t)(void*, void*, uint32_t, uint32_t*, void*);
typedef int(SI_API* SI_Write_t)(void*, void*, uint32_t, uint32_t*, void*);
typedef int(SI_API* SI_SetTimeouts_t)(uint32_t, uint32_t);
typedef int(SI_API* SI_GetTimeouts_t)(uint32_t*, uint32_t*);
typedef int(SI_API* SI_CheckRXQueue_t)(void*, uint32_t*, uint32_t*);

#ifdef __cplusplus
}

namespace kvx::SiStatus {
// One table of statuses for every library behind this interface, so that a
// program can tell the few that call for different advice. 0 is success.
inline constexpr int Success = 0x00;
inline constexpr int InvalidHandle = 0x01;
inline constexpr int ReadError = 0x02;
inline constexpr int WriteError = 0x04;
inline constexpr int InvalidParameter = 0x06;
inline constexpr int DeviceIoFailed = 0x08;
inline constexpr int ReadTimedOut = 0x0D;
inline constexpr int WriteTimedOut = 0x0E;
// SI_Open: another program holds the controller; nothing is wrong with it.
inline constexpr int DeviceBusy = 0x13;
inline constexpr int DeviceNotFound = 0xFF;
} // namespace kvx::SiStatus
#endif
