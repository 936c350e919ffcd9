// The library's C entry points: argument checks, handle look-up, and the
// hand-over to the device list and the open devices.
//
// Status values used: FT_OK; FT_INVALID_HANDLE for a null, closed or unknown
// handle (looked at before the other arguments); FT_INVALID_PARAMETER for null
// pointers (a transfer's buffer even when its length is 0), unknown flag or mask bits and
// transfer sizes that are not a multiple of 64 in 64..65536; FT_DEVICE_NOT_FOUND
// for a device number or list index that is not attached; FT_DEVICE_NOT_OPENED
// when the node exists but cannot be opened (permission, busy, not a tty);
// FT_IO_ERROR once the device has gone; FT_NOT_SUPPORTED for listing modes
// other than the number only, by index and all (serial number or description).
#include "DeviceList.h"
#include "HandleRegistry.h"
#include "OpenFailureReport.h"
#include "ftd2xx.h"

#include <cstring>

#define FTD2XX_API extern "C" __attribute__((visibility("default")))

namespace {

using usbdriver::DeviceEntry;
using usbdriver::OpenDevice;
using usbdriver::SharedDeviceList;
using usbdriver::SharedHandleRegistry;

// Length of the caller's text buffers in the listing modes, by convention.
constexpr size_t kListTextSize = 64;

void CopyListText(const DeviceEntry& entry, DWORD flags, char* out) {
    const std::string& text = (flags & FT_OPEN_BY_DESCRIPTION) ? entry.description : entry.serial;
    const size_t length = std::min(text.size(), kListTextSize - 1);
    std::memcpy(out, text.data(), length);
    out[length] = '\0';
}

FT_STATUS ListText(PVOID pArg1, PVOID pArg2, DWORD flags) {
    const DWORD what = flags & (FT_OPEN_BY_SERIAL_NUMBER | FT_OPEN_BY_DESCRIPTION);
    if (what != FT_OPEN_BY_SERIAL_NUMBER && what != FT_OPEN_BY_DESCRIPTION)
        return FT_NOT_SUPPORTED;
    if (flags & FT_LIST_BY_INDEX) {
        // The index travels in the pointer argument itself.
        const auto index = static_cast<size_t>(reinterpret_cast<uintptr_t>(pArg1));
        if (!pArg2)
            return FT_INVALID_PARAMETER;
        const auto entry = SharedDeviceList().Entry(index);
        if (!entry)
            return FT_DEVICE_NOT_FOUND;
        CopyListText(*entry, flags, static_cast<char*>(pArg2));
        return FT_OK;
    }
    // FT_LIST_ALL: pArg1 is an array of buffer pointers ended by a null one,
    // pArg2 receives the number of devices. No buffer beyond the first null
    // pointer is written.
    if (!pArg1 || !pArg2)
        return FT_INVALID_PARAMETER;
    const std::vector<DeviceEntry> entries = SharedDeviceList().Entries();
    auto** buffers = static_cast<char**>(pArg1);
    for (size_t i = 0; i < entries.size() && buffers[i]; ++i)
        CopyListText(entries[i], flags, buffers[i]);
    *static_cast<DWORD*>(pArg2) = static_cast<DWORD>(entries.size());
    return FT_OK;
}

// The handle is looked at first, then every pointer the operation needs.
template <typename Operation, typename... Pointers>
FT_STATUS WithDevice(FT_HANDLE handle, Operation operation, const Pointers*... required) {
    OpenDevice* device = SharedHandleRegistry().Lookup(handle);
    if (!device)
        return FT_INVALID_HANDLE;
    if (((required == nullptr) || ...))
        return FT_INVALID_PARAMETER;
    return operation(*device);
}

} // namespace

FTD2XX_API FT_STATUS FT_ListDevices(PVOID pArg1, PVOID pArg2, DWORD Flags) {
    if (Flags & FT_LIST_NUMBER_ONLY) {
        if (!pArg1)
            return FT_INVALID_PARAMETER;
        *static_cast<DWORD*>(pArg1) = static_cast<DWORD>(SharedDeviceList().Count());
        return FT_OK;
    }
    if (Flags & (FT_LIST_BY_INDEX | FT_LIST_ALL))
        return ListText(pArg1, pArg2, Flags);
    return FT_INVALID_PARAMETER;
}

FTD2XX_API FT_STATUS FT_Open(int deviceNumber, FT_HANDLE* pHandle) {
    if (!pHandle)
        return FT_INVALID_PARAMETER;
    usbdriver::DeviceList& list = SharedDeviceList();
    const auto entry = deviceNumber >= 0 ? list.Entry(static_cast<size_t>(deviceNumber)) : std::nullopt;
    if (!entry) {
        usbdriver::OpenFailureReport::Print(
            usbdriver::OpenFailureReport::NotListed(deviceNumber, list.Count(), list.VirtualFolder()));
        return FT_DEVICE_NOT_FOUND;
    }
    // An old handle of an unplugged device may still hold the lock of the
    // very node that has come back.
    SharedHandleRegistry().ReleaseGone();
    OpenDevice::OpenResult opened = OpenDevice::Open(*entry, list);
    if (!opened.device) {
        usbdriver::OpenFailureReport::Print(opened.diagnostic);
        return opened.status;
    }
    *pHandle = SharedHandleRegistry().Add(std::move(opened.device));
    return FT_OK;
}

FTD2XX_API FT_STATUS FT_Close(FT_HANDLE ftHandle) {
    // Dropping the last reference closes the descriptor, which releases the lock.
    return SharedHandleRegistry().Remove(ftHandle) ? FT_OK : FT_INVALID_HANDLE;
}

FTD2XX_API FT_STATUS FT_GetQueueStatus(FT_HANDLE ftHandle, DWORD* dwRxBytes) {
    return WithDevice(
        ftHandle, [&](OpenDevice& device) { return device.QueueStatus(dwRxBytes); }, dwRxBytes);
}

FTD2XX_API FT_STATUS FT_Write(FT_HANDLE ftHandle, LPVOID lpBuffer, DWORD dwBytesToWrite,
                              LPDWORD lpBytesWritten) {
    return WithDevice(
        ftHandle, [&](OpenDevice& device) { return device.Write(lpBuffer, dwBytesToWrite, lpBytesWritten); },
        lpBuffer, lpBytesWritten);
}

namespace {
// Every read but a one-byte read of a queued byte, kept out of FT_Read so that
// its fast path saves no registers.
__attribute__((noinline)) FT_STATUS ReadOtherwise(OpenDevice* device, LPVOID lpBuffer, DWORD dwBytesToRead,
                                                  LPDWORD lpBytesReturned) {
    if (!device)
        return FT_INVALID_HANDLE;
    if (!lpBuffer || !lpBytesReturned)
        return FT_INVALID_PARAMETER;
    return device->Read(lpBuffer, dwBytesToRead, lpBytesReturned);
}
} // namespace

FTD2XX_API FT_STATUS FT_Read(FT_HANDLE ftHandle, LPVOID lpBuffer, DWORD dwBytesToRead,
                             LPDWORD lpBytesReturned) {
    // Not through WithDevice: this is the call made 8410 times for each frame.
    OpenDevice* device = SharedHandleRegistry().Lookup(ftHandle);
    if (device && lpBuffer && lpBytesReturned && dwBytesToRead == 1 &&
        device->ReadOne(lpBuffer, lpBytesReturned))
        return FT_OK;
    return ReadOtherwise(device, lpBuffer, dwBytesToRead, lpBytesReturned);
}

FTD2XX_API FT_STATUS FT_ResetDevice(FT_HANDLE ftHandle) {
    return WithDevice(ftHandle, [](OpenDevice& device) { return device.Reset(); });
}

FTD2XX_API FT_STATUS FT_Purge(FT_HANDLE ftHandle, ULONG Mask) {
    return WithDevice(ftHandle, [&](OpenDevice& device) { return device.Purge(Mask); });
}

FTD2XX_API FT_STATUS FT_SetTimeouts(FT_HANDLE ftHandle, ULONG ReadTimeout, ULONG WriteTimeout) {
    return WithDevice(ftHandle,
                      [&](OpenDevice& device) { return device.SetTimeouts(ReadTimeout, WriteTimeout); });
}

FTD2XX_API FT_STATUS FT_SetUSBParameters(FT_HANDLE ftHandle, ULONG ulInTransferSize,
                                         ULONG ulOutTransferSize) {
    return WithDevice(ftHandle, [&](OpenDevice& device) {
        return device.SetUsbParameters(ulInTransferSize, ulOutTransferSize);
    });
}
