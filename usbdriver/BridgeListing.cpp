#include "BridgeListing.h"

#include "DeviceList.h"
#include "OpenFailureReport.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace usbdriver {

namespace {

BridgeStatus::Access Classify(int error) {
    switch (error) {
    case EACCES:
    case EPERM:
        return BridgeStatus::Access::NoPermission;
    case EBUSY:
    case EWOULDBLOCK:
        return BridgeStatus::Access::Busy;
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return BridgeStatus::Access::Gone;
    default:
        return BridgeStatus::Access::Failed;
    }
}

// The open and lock that FT_Open begins with; 0 when both succeed, else errno.
int TryOpen(const DeviceEntry& entry, const char** step) {
    *step = "open";
    const int fd = open(entry.node.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno;
    *step = "locking";
    const int error = flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : errno;
    close(fd);
    return error;
}

} // namespace

std::vector<BridgeStatus> ListBridges() {
    DeviceList list;
    std::vector<BridgeStatus> bridges;
    for (const DeviceEntry& entry : list.Entries()) {
        BridgeStatus bridge;
        bridge.index = static_cast<int>(bridges.size());
        bridge.name = entry.serial;
        bridge.description = entry.description;
        bridge.isVirtual = entry.isVirtual;
        bridge.node = entry.node;
        const char* step = "";
        if (const int error = TryOpen(entry, &step); error != 0) {
            bridge.access = Classify(error);
            if (bridge.access == BridgeStatus::Access::Busy)
                bridge.holder = OpenFailureReport::Holder(entry);
            bridge.advice = OpenFailureReport::NotOpened(entry, step, error);
        }
        bridges.push_back(std::move(bridge));
    }
    return bridges;
}

const char* AccessName(BridgeStatus::Access access) {
    switch (access) {
    case BridgeStatus::Access::Ready:
        return "ready";
    case BridgeStatus::Access::NoPermission:
        return "permission";
    case BridgeStatus::Access::Busy:
        return "busy";
    case BridgeStatus::Access::Gone:
        return "gone";
    case BridgeStatus::Access::Failed:
        break;
    }
    return "failed";
}

} // namespace usbdriver
