// Where virtual bridge devices are announced: the one place that names the
// folder, for the library that lists them and the virtual devices that make them.
#ifndef USBDRIVER_BRIDGEFOLDER_H
#define USBDRIVER_BRIDGEFOLDER_H

#include <string>

namespace usbdriver {

// $XDG_RUNTIME_DIR/virtual-bridges, or <temp dir>/virtual-bridges-<uid> when
// XDG_RUNTIME_DIR is unset or empty. Read from the environment on every call,
// so a program (or test) that changes it is followed.
std::string VirtualBridgeFolder();

} // namespace usbdriver

#endif
