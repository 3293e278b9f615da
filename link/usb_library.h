// Binds the nine USB library functions by name, each on its first call.
#pragma once

#include "usb_link.h"

#include <QLibrary>
#include <QString>

#include "usbxpress.h"

namespace kvx {

// Whose library it is: the operator installs the vendor's, while the
// simulator's comes with kvx340-sim, and the hardware edition's own USB
// library on Linux with kvx340: those are missing only from a broken
// installation. Failure messages say what to do accordingly.
enum class LibrarySource { Vendor, Simulator, Bundled };

class UsbLibrary final : public UsbLink {
public:
    // name: a bare library name ("SiUSBXp") searched on the platform's usual
    // path, or a file path. displayName is what failure messages call it.
    explicit UsbLibrary(const QString& name, const QString& displayName = {},
                        LibrarySource source = LibrarySource::Vendor);

    int16_t SI_GetNumDevices(uint32_t* numDevices) override;
    int16_t SI_GetProductString(uint32_t deviceNumber, void* buffer, uint32_t options) override;
    int16_t SI_Open(uint32_t deviceNumber, UsbHandle* handle) override;
    int16_t SI_Close(UsbHandle handle) override;
    int16_t SI_Read(UsbHandle handle, void* buffer, uint32_t bytesToRead, uint32_t* bytesRead) override;
    int16_t SI_Write(UsbHandle handle, void* buffer, uint32_t bytesToWrite, uint32_t* bytesWritten) override;
    int16_t SI_SetTimeouts(uint32_t readTimeoutMs, uint32_t writeTimeoutMs) override;
    int16_t SI_GetTimeouts(uint32_t* readTimeoutMs, uint32_t* writeTimeoutMs) override;
    int16_t SI_CheckRXQueue(UsbHandle handle, uint32_t* bytesInQueue, uint32_t* queueStatus) override;

private:
    // Resolves one function, loading the library first if need be; throws
    // LinkUnavailable when either cannot be found.
    template <typename Fn>
    Fn bind(Fn& slot, const char* functionName);

    QLibrary library_;
    QString displayName_;
    LibrarySource source_;
    SI_GetNumDevices_t getNumDevices_ = nullptr;
    SI_GetProductString_t getProductString_ = nullptr;
    SI_Open_t open_ = nullptr;
    SI_Close_t close_ = nullptr;
    SI_Read_t read_ = nullptr;
    SI_Write_t write_ = nullptr;
    SI_SetTimeouts_t setTimeouts_ = nullptr;
    SI_GetTimeouts_t getTimeouts_ = nullptr;
    SI_CheckRXQueue_t checkRxQueue_ = nullptr;
};

} // namespace kvx
