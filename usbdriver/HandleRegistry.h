// Maps the handles given to callers onto open devices. A handle is a key, never
// a pointer to the device: ids are not reused, so a closed, forged or foreign
// handle is simply not found (FT_INVALID_HANDLE) instead of touching freed
// memory.
#ifndef USBDRIVER_HANDLEREGISTRY_H
#define USBDRIVER_HANDLEREGISTRY_H

#include "OpenDevice.h"
#include "ftd2xx.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

namespace usbdriver {

class HandleRegistry {
  public:
    FT_HANDLE Add(std::unique_ptr<OpenDevice> device);
    // Null when the handle is not (or no longer) registered. The device stays
    // alive while the caller holds it, even if another thread closes it.
    std::shared_ptr<OpenDevice> Find(FT_HANDLE handle);
    std::shared_ptr<OpenDevice> Remove(FT_HANDLE handle);
    // Lets every handle whose device has gone give up its descriptor, so that
    // the same device, plugged in again, can be opened although the caller
    // never closed the old handle.
    void ReleaseGone();

  private:
    std::mutex m_mutex;
    // Far from small integers and typical heap addresses, so that a stray
    // value is unlikely to hit a live handle.
    uintptr_t m_nextId = 0x5C09E000u;
    std::map<uintptr_t, std::shared_ptr<OpenDevice>> m_devices;
};

HandleRegistry& SharedHandleRegistry();

} // namespace usbdriver

#endif
