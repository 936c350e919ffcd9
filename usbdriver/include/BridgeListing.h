// What the driver operations cannot say about the attached bridges: whether
// each can be opened now, and if not, why. For our own programs; the bridges
// are numbered as FT_Open and FT_ListDevices number them.
#ifndef USBDRIVER_BRIDGELISTING_H
#define USBDRIVER_BRIDGELISTING_H

#include <string>
#include <vector>

namespace usbdriver {

struct BridgeStatus {
    enum class Access { Ready, NoPermission, Busy, Gone, Failed };

    int index = 0;
    std::string name;        // the serial number FT_ListDevices gives
    std::string description; // likewise
    bool isVirtual = false;
    std::string node; // the device node opened (the link for a virtual bridge)
    Access access = Access::Ready;
    std::string holder; // Busy: "pid N (name)" when known
    std::string advice; // not Ready: the technician's line, as an open would print it
};

// Each attached bridge in FT_Open's order. Each is tried as an open would try
// it (open and lock, then let go at once), without changing its line settings.
std::vector<BridgeStatus> ListBridges();

// "ready", "permission", "busy", "gone" or "failed".
const char* AccessName(BridgeStatus::Access access);

} // namespace usbdriver

#endif
