// The list of attached bridge devices, cached between calls: virtual bridges
// first (in link-name order), then the USB ttys of the bridge vendor. Kept up
// to date by file-system change notification plus a re-check of the listed
// link targets at most every kRevalidateInterval, so that an unplugged device
// leaves the list within 10 ms even without an event while a listing with nothing
// changed costs about one system call.
#ifndef USBDRIVER_DEVICELIST_H
#define USBDRIVER_DEVICELIST_H

#include "ChangeWatch.h"
#include "DeviceEntry.h"
#include "UsbTtyScanner.h"

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace usbdriver {

class DeviceList {
  public:
    static constexpr std::chrono::microseconds kRevalidateInterval{10000};

    explicit DeviceList(UsbTtyScanner ttys = UsbTtyScanner(), std::string deviceFolder = "/dev");

    size_t Count();
    std::optional<DeviceEntry> Entry(size_t index);
    std::vector<DeviceEntry> Entries();

    // The removal count of a virtual link (see ChangeWatch::Removals), taken at
    // open and compared later by StillAttached.
    unsigned Removals(const DeviceEntry& entry);
    // Whether an entry listed earlier is still the same attached device. The
    // change notification is always looked at; the node itself (a few system
    // calls) only when full is set.
    bool StillAttached(const DeviceEntry& entry, unsigned removalsAtOpen, bool full);

    // The bridge folder in use, for diagnostics.
    std::string VirtualFolder();

  private:
    void Refresh();
    void CollectChanges();
    bool FolderVariablesChanged();

    std::mutex m_mutex;
    UsbTtyScanner m_ttys;
    ChangeWatch m_watch;
    std::string m_virtualFolder;
    std::optional<std::string> m_folderVariables[5]; // as last seen, unset or set
    bool m_scanned = false;
    bool m_virtualChanged = false;
    bool m_realChanged = false;
    std::vector<DeviceEntry> m_virtual;
    std::vector<DeviceEntry> m_real;
    std::chrono::steady_clock::time_point m_lastVirtualCheck{};
    std::chrono::steady_clock::time_point m_lastRealScan{};
};

// The list the library's entry points share.
DeviceList& SharedDeviceList();

} // namespace usbdriver

#endif
