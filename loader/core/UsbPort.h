// Thin wrappers around the driver handle of one bridge device (0 unless
// another is selected). No wrapper calls
// the driver while no handle is open; no caller examines a driver status.
#pragma once

#include "DriverOperations.h"

#include <cstdint>

namespace loader {

class UsbPort {
  public:
    // What Open found.
    static constexpr int kNoDevice = 0;
    static constexpr int kOpened = 1;
    static constexpr int kOpenFailed = 2; // listed, but the open failed

    explicit UsbPort(const usbdriver::DriverOperations& driver = usbdriver::LinkedDriverOperations());
    // Leaves the handle as it is; the derived link decides about closing.
    virtual ~UsbPort();
    UsbPort(const UsbPort&) = delete;
    UsbPort& operator=(const UsbPort&) = delete;

    void Close();
    void Purge(std::uint32_t mask);
    void ResetDevice();
    void SetTimeouts(std::uint32_t readTimeoutMs, std::uint32_t writeTimeoutMs);
    void SetTransferSizes(std::uint32_t inSize);
    void Write(const void* buffer, std::uint32_t count, std::uint32_t* sent);
    void Read(void* buffer, std::uint32_t count, std::uint32_t* received);

    // Closes first, always, then asks the driver for the number of attached devices.
    int CountDevices();
    // kNoDevice, kOpened or kOpenFailed.
    int Open();

    bool IsOpen() const { return m_hDevice != nullptr; }
    // The bridge number Open opens, as FT_Open counts them.
    void SelectDevice(int deviceNumber) { m_deviceNumber = deviceNumber; }

  protected:
    const usbdriver::DriverOperations& m_driver;
    FT_HANDLE m_hDevice = nullptr;
    int m_deviceNumber = 0;
};

} // namespace loader
