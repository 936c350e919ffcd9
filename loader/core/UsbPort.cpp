#include "UsbPort.h"

namespace loader {

UsbPort::UsbPort(const usbdriver::DriverOperations& driver) : m_driver(driver) {}

UsbPort::~UsbPort() = default;

void UsbPort::Close() {
    if (!m_hDevice)
        return;
    m_driver.m_close(m_hDevice);
    m_hDevice = nullptr;
}

void UsbPort::Purge(std::uint32_t mask) {
    if (m_hDevice)
        m_driver.m_purge(m_hDevice, mask);
}

void UsbPort::ResetDevice() {
    if (m_hDevice)
        m_driver.m_resetDevice(m_hDevice);
}

void UsbPort::SetTimeouts(std::uint32_t readTimeoutMs, std::uint32_t writeTimeoutMs) {
    if (m_hDevice)
        m_driver.m_setTimeouts(m_hDevice, readTimeoutMs, writeTimeoutMs);
}

void UsbPort::SetTransferSizes(std::uint32_t inSize) {
    if (m_hDevice)
        m_driver.m_setUsbParameters(m_hDevice, inSize, 0);
}

void UsbPort::Write(const void* buffer, std::uint32_t count, std::uint32_t* sent) {
    *sent = 0;
    if (m_hDevice)
        m_driver.m_write(m_hDevice, const_cast<void*>(buffer), count, sent);
}

void UsbPort::Read(void* buffer, std::uint32_t count, std::uint32_t* received) {
    *received = 0;
    if (m_hDevice)
        m_driver.m_read(m_hDevice, buffer, count, received);
}

int UsbPort::CountDevices() {
    Close();
    // A failed listing leaves whatever the driver stored; start from none.
    DWORD count = 0;
    m_driver.m_listDevices(&count, nullptr, FT_LIST_NUMBER_ONLY);
    return static_cast<int>(count);
}

int UsbPort::Open() {
    if (CountDevices() <= m_deviceNumber)
        return kNoDevice;
    FT_HANDLE handle = nullptr;
    if (m_driver.m_open(m_deviceNumber, &handle) != FT_OK)
        return kOpenFailed;
    m_hDevice = handle;
    return kOpened;
}

} // namespace loader
