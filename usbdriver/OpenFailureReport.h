// The one line on standard error that tells a technician why a bridge could
// not be opened and what to do about it.
#ifndef USBDRIVER_OPENFAILUREREPORT_H
#define USBDRIVER_OPENFAILUREREPORT_H

#include "DeviceEntry.h"

#include <string>

namespace usbdriver {

class OpenFailureReport {
  public:
    // Why open() or the lock failed: errorNumber is the errno of that step.
    static std::string NotOpened(const DeviceEntry& entry, const char* step, int errorNumber);
    // The lock is held: by whom, when /proc tells.
    static std::string Busy(const DeviceEntry& entry);
    static std::string NotListed(int deviceNumber, size_t listed, const std::string& virtualFolder);
    static void Print(const std::string& line);

    // "pid 1234 (name)" of a process other than ours that holds the device
    // node open or locked, "this program" when it is our own, empty if unknown.
    static std::string Holder(const DeviceEntry& entry);
};

} // namespace usbdriver

#endif
