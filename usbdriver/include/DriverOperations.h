// The bridge driver's operations as one table of entry points, the programs'
// only seam to the driver: filled from the library a program is linked
// against, or by name from a library loaded at run time.
#ifndef USBDRIVER_DRIVEROPERATIONS_H
#define USBDRIVER_DRIVEROPERATIONS_H

#include "ftd2xx.h"

#include <type_traits>

namespace usbdriver {

struct DriverOperations {
    FT_STATUS (*m_open)(int deviceNumber, FT_HANDLE* handle) = nullptr;
    FT_STATUS (*m_close)(FT_HANDLE handle) = nullptr;
    FT_STATUS (*m_listDevices)(PVOID arg1, PVOID arg2, DWORD flags) = nullptr;
    FT_STATUS (*m_getQueueStatus)(FT_HANDLE handle, DWORD* waiting) = nullptr;
    FT_STATUS (*m_write)(FT_HANDLE handle, LPVOID buffer, DWORD count, LPDWORD written) = nullptr;
    FT_STATUS (*m_read)(FT_HANDLE handle, LPVOID buffer, DWORD count, LPDWORD received) = nullptr;
    FT_STATUS (*m_resetDevice)(FT_HANDLE handle) = nullptr;
    FT_STATUS (*m_purge)(FT_HANDLE handle, ULONG mask) = nullptr;
    FT_STATUS (*m_setTimeouts)(FT_HANDLE handle, ULONG readMs, ULONG writeMs) = nullptr;
    FT_STATUS (*m_setUsbParameters)(FT_HANDLE handle, ULONG inSize, ULONG outSize) = nullptr;
};

// Stores an entry point found by name into its slot of the table.
template <auto Slot> void StoreEntry(DriverOperations& operations, void* entry) {
    operations.*Slot = reinterpret_cast<std::remove_reference_t<decltype(operations.*Slot)>>(entry);
}

// The entry points of the library the program is linked against (target
// driver_linked).
const DriverOperations& LinkedDriverOperations();

} // namespace usbdriver

#endif
