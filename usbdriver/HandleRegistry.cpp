#include "HandleRegistry.h"

#include <vector>

namespace usbdriver {

FT_HANDLE HandleRegistry::Add(std::unique_ptr<OpenDevice> device) {
    std::lock_guard lock(m_mutex);
    const uintptr_t id = m_nextId++;
    m_devices.emplace(id, std::move(device));
    m_generation.fetch_add(1, std::memory_order_release);
    return reinterpret_cast<FT_HANDLE>(id);
}

constinit thread_local RememberedLookup t_lastLookup = {nullptr, nullptr, 0, nullptr};

namespace {
// Keeps t_lastLookup.device alive for the thread, even when another thread
// closes it meanwhile.
thread_local std::shared_ptr<OpenDevice> t_lastDevice;
} // namespace

OpenDevice* HandleRegistry::LookupLocked(FT_HANDLE handle) {
    std::lock_guard lock(m_mutex);
    const auto found = m_devices.find(reinterpret_cast<uintptr_t>(handle));
    t_lastDevice = found == m_devices.end() ? nullptr : found->second;
    t_lastLookup = {this, handle, m_generation.load(std::memory_order_relaxed), t_lastDevice.get()};
    return t_lastLookup.device;
}

std::shared_ptr<OpenDevice> HandleRegistry::Remove(FT_HANDLE handle) {
    std::lock_guard lock(m_mutex);
    const auto found = m_devices.find(reinterpret_cast<uintptr_t>(handle));
    if (found == m_devices.end())
        return nullptr;
    std::shared_ptr<OpenDevice> device = std::move(found->second);
    m_devices.erase(found);
    m_generation.fetch_add(1, std::memory_order_release);
    device->Abandon();
    return device;
}

void HandleRegistry::ReleaseGone() {
    std::vector<std::shared_ptr<OpenDevice>> devices;
    {
        std::lock_guard lock(m_mutex);
        for (const auto& [id, device] : m_devices)
            devices.push_back(device);
    }
    for (const auto& device : devices)
        device->ReleaseIfGone();
}

} // namespace usbdriver
