// Tells the device list when it must look again, so that the number-only
// listing (called on every 1 ms tick) costs one non-blocking read instead of a
// folder scan.
#ifndef USBDRIVER_CHANGEWATCH_H
#define USBDRIVER_CHANGEWATCH_H

#include <map>
#include <string>

namespace usbdriver {

class ChangeWatch {
  public:
    ChangeWatch();
    ~ChangeWatch();
    ChangeWatch(const ChangeWatch&) = delete;
    ChangeWatch& operator=(const ChangeWatch&) = delete;

    // Watches the virtual-bridges folder, or while it does not exist its parent
    // (to see it appear). Watching again the same folder does nothing.
    void WatchVirtualFolder(const std::string& folder);
    // Watches the folder where the kernel ttys appear and go.
    void WatchDeviceFolder(const std::string& folder);

    struct Changes {
        bool virtualFolder = false;
        bool deviceFolder = false;
    };
    // Reads every pending event without blocking.
    Changes Collect();
    // Where a watch could not be set up the caller must look for itself.
    bool WatchingVirtualFolder() const { return m_virtualWatch >= 0; }
    bool WatchingDeviceFolder() const { return m_deviceWatch >= 0; }

    // How often a link of that path has been removed or replaced since the
    // watch began; a handle keeps the value seen at open.
    unsigned Removals(const std::string& linkPath) const;

  private:
    void Rearm();
    // A forked child shares the parent's notification queue; reading from it
    // would steal the parent's events. The child makes a queue of its own.
    bool RenewAfterFork();

    int m_fd = -1;
    std::string m_virtualFolder;
    int m_virtualWatch = -1;
    bool m_watchingParent = false;
    std::string m_deviceFolder;
    int m_deviceWatch = -1;
    std::map<std::string, unsigned> m_removals;
    unsigned m_forksSeen = 0;
};

} // namespace usbdriver

#endif
