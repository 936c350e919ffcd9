// Maps the handles given to callers onto open devices. A handle is a key, never
// a pointer to the device: ids are not reused, so a closed, forged or foreign
// handle is simply not found (FT_INVALID_HANDLE) instead of touching freed
// memory.
#ifndef USBDRIVER_HANDLEREGISTRY_H
#define USBDRIVER_HANDLEREGISTRY_H

#include "OpenDevice.h"
#include "ftd2xx.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

namespace usbdriver {

class HandleRegistry;

// The calling thread's last handle look-up. Plain data, constant-initialised
// (declared so, or every access checks for a thread-local initialiser);
// initial-exec, since the library is loaded at start (or, by the capture
// program, early and once).
struct RememberedLookup {
    const HandleRegistry* registry;
    FT_HANDLE handle;
    std::uint64_t generation;
    OpenDevice* device;
};
extern constinit thread_local RememberedLookup t_lastLookup __attribute__((tls_model("initial-exec")));

class HandleRegistry {
  public:
    FT_HANDLE Add(std::unique_ptr<OpenDevice> device);
    // Null when the handle is not (or no longer) registered. Without a lock
    // when the calling thread looked the same handle up last and no handle
    // came or went since (a frame is read with 8410 one-byte reads). The
    // device stays alive for the thread until its next look-up, even if
    // another thread closes it meanwhile.
    OpenDevice* Lookup(FT_HANDLE handle) {
        if (t_lastLookup.registry == this && t_lastLookup.handle == handle &&
            t_lastLookup.generation == m_generation.load(std::memory_order_acquire))
            return t_lastLookup.device;
        return LookupLocked(handle);
    }
    std::shared_ptr<OpenDevice> Remove(FT_HANDLE handle);
    // Lets every handle whose device has gone give up its descriptor, so that
    // the same device, plugged in again, can be opened although the caller
    // never closed the old handle.
    void ReleaseGone();

  private:
    OpenDevice* LookupLocked(FT_HANDLE handle);

    std::mutex m_mutex;
    // Counts every Add and Remove; a thread's remembered look-up is good while it stays.
    std::atomic<std::uint64_t> m_generation{0};
    // Far from small integers and typical heap addresses, so that a stray
    // value is unlikely to hit a live handle.
    uintptr_t m_nextId = 0x5C09E000u;
    std::map<uintptr_t, std::shared_ptr<OpenDevice>> m_devices;
};

inline HandleRegistry& SharedHandleRegistry() {
    // Never destroyed, like the device list: a late call must still find it.
    static HandleRegistry* registry = new HandleRegistry;
    return *registry;
}

} // namespace usbdriver

#endif
