// One attached bridge device as the device list shows it.
#ifndef USBDRIVER_DEVICEENTRY_H
#define USBDRIVER_DEVICEENTRY_H

#include <string>
#include <sys/types.h>

namespace usbdriver {

struct DeviceEntry {
    // A virtual bridge is a symbolic link to the slave side of a pseudo-terminal;
    // a real one is a kernel tty of a USB serial bridge.
    bool isVirtual = false;
    // What is opened: the link itself for a virtual bridge (so that a link that
    // changed in between is noticed), /dev/<tty> for a real one.
    std::string node;
    // Virtual: where the link pointed when listed (absolute). Real: same as node.
    std::string target;
    // Serial number as listed: the link name or the tty name.
    std::string serial;
    std::string description;
    // Virtual: inode of the link itself; a link removed and made again differs.
    ino_t linkInode = 0;
    // Device number of the character device behind the entry.
    dev_t deviceNumber = 0;
};

// Shown as the description of every virtual bridge.
inline constexpr const char* kVirtualDescription = "Automotive Scope (virtual)";

} // namespace usbdriver

#endif
