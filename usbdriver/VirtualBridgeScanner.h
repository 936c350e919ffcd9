// Finds the virtual bridges: symbolic links to pseudo-terminal slaves in the
// virtual-bridges folder of the user's runtime directory.
#ifndef USBDRIVER_VIRTUALBRIDGESCANNER_H
#define USBDRIVER_VIRTUALBRIDGESCANNER_H

#include "DeviceEntry.h"

#include <string>
#include <vector>

namespace usbdriver {

class VirtualBridgeScanner {
  public:
    // $XDG_RUNTIME_DIR/virtual-bridges, or <temp dir>/virtual-bridges-<uid> when
    // XDG_RUNTIME_DIR is unset or empty. Read from the environment on every call,
    // so a program (or test) that changes it is followed.
    static std::string BridgeFolder();

    // Every link in the folder whose target is a character device, in name
    // (byte) order. A dangling link, or one to anything else, is not a device;
    // nor is a link whose name starts with a dot (one being made, that is
    // renamed into place once ready). A folder owned by another user (not
    // root) is ignored.
    static std::vector<DeviceEntry> Scan(const std::string& folder);

    // Whether the listed link still points at the same live device: the link is
    // the same file, points at the same place, and that place is the same
    // character device. One lstat, one readlink and one stat.
    static bool StillValid(const DeviceEntry& entry);
};

} // namespace usbdriver

#endif
