#include "HandleRegistry.h"

#include <vector>

namespace usbdriver {

FT_HANDLE HandleRegistry::Add(std::unique_ptr<OpenDevice> device) {
    std::lock_guard lock(m_mutex);
    const uintptr_t id = m_nextId++;
    m_devices.emplace(id, std::move(device));
    return reinterpret_cast<FT_HANDLE>(id);
}

std::shared_ptr<OpenDevice> HandleRegistry::Find(FT_HANDLE handle) {
    std::lock_guard lock(m_mutex);
    const auto found = m_devices.find(reinterpret_cast<uintptr_t>(handle));
    return found == m_devices.end() ? nullptr : found->second;
}

std::shared_ptr<OpenDevice> HandleRegistry::Remove(FT_HANDLE handle) {
    std::lock_guard lock(m_mutex);
    const auto found = m_devices.find(reinterpret_cast<uintptr_t>(handle));
    if (found == m_devices.end())
        return nullptr;
    std::shared_ptr<OpenDevice> device = std::move(found->second);
    m_devices.erase(found);
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

HandleRegistry& SharedHandleRegistry() {
    // Never destroyed, like the device list: a late call must still find it.
    static HandleRegistry* registry = new HandleRegistry;
    return *registry;
}

} // namespace usbdriver
