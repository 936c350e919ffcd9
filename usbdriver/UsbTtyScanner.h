// Finds the real bridges: kernel ttys whose USB device has the bridge maker's
// vendor id (0403).
#ifndef USBDRIVER_USBTTYSCANNER_H
#define USBDRIVER_USBTTYSCANNER_H

#include "DeviceEntry.h"

#include <string>
#include <vector>

namespace usbdriver {

class UsbTtyScanner {
  public:
    // The roots are parameters so that a test can lay out a tree of its own.
    explicit UsbTtyScanner(std::string classRoot = "/sys/class/tty", std::string devRoot = "/dev");

    // Every tty under the class root whose device, or one of that device's
    // ancestors, has idVendor 0403 and whose node exists under the dev root;
    // in natural order (ttyUSB2 before ttyUSB10) so indices stay put when a
    // tenth bridge is plugged in. The description is the USB product string.
    std::vector<DeviceEntry> Scan() const;

    // Whether the tty is still known to the kernel as the same device.
    bool StillValid(const DeviceEntry& entry) const;

    // True when a sorts before b in natural order: runs of digits compare by value.
    static bool NaturalLess(const std::string& a, const std::string& b);

  private:
    std::string m_classRoot;
    std::string m_devRoot;
};

} // namespace usbdriver

#endif
