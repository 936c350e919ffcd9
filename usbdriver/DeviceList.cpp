#include "DeviceList.h"

#include "VirtualBridgeScanner.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <type_traits>

namespace usbdriver {

DeviceList::DeviceList(UsbTtyScanner ttys, std::string deviceFolder) : m_ttys(std::move(ttys)) {
    m_watch.WatchDeviceFolder(deviceFolder);
}

void DeviceList::CollectChanges() {
    const ChangeWatch::Changes changes = m_watch.Collect();
    m_virtualChanged = m_virtualChanged || changes.virtualFolder;
    m_realChanged = m_realChanged || changes.deviceFolder;
}

namespace {
// The environment variables the bridge folder is made from (the runtime
// directory, then those of the temp folder), in the order they are tried.
constexpr const char* kFolderVariables[] = {"XDG_RUNTIME_DIR", "TMPDIR", "TMP", "TEMP", "TEMPDIR"};
} // namespace

bool DeviceList::FolderVariablesChanged() {
    static_assert(std::size(kFolderVariables) == std::extent_v<decltype(m_folderVariables)>);
    bool changed = false;
    for (size_t i = 0; i < std::size(kFolderVariables); ++i) {
        const char* value = std::getenv(kFolderVariables[i]);
        std::optional<std::string>& seen = m_folderVariables[i];
        if (value == nullptr ? seen.has_value() : (!seen || *seen != value)) {
            seen = value ? std::optional<std::string>(value) : std::nullopt;
            changed = true;
        }
        // A runtime directory, when set, is all the folder is made from.
        if (i == 0 && value != nullptr && *value != '\0')
            break;
    }
    return changed;
}

void DeviceList::Refresh() {
    const auto now = std::chrono::steady_clock::now();
    // The runtime directory may change under us; the folder is worked out again
    // only when what it is made from changed, as a listing runs on every tick.
    if (FolderVariablesChanged() || !m_scanned) {
        const std::string folder = VirtualBridgeScanner::BridgeFolder();
        if (!m_scanned || folder != m_virtualFolder) {
            m_virtualFolder = folder;
            m_watch.WatchVirtualFolder(folder);
            m_virtualChanged = true;
        }
    }
    const std::string& folder = m_virtualFolder;
    CollectChanges();

    const bool virtualDue = now - m_lastVirtualCheck >= kRevalidateInterval;
    // Neither the folder nor its parent existed when last tried.
    if (virtualDue && !m_watch.WatchingVirtualFolder()) {
        m_watch.WatchVirtualFolder(folder);
        m_virtualChanged = m_virtualChanged || m_watch.WatchingVirtualFolder();
    }
    bool rescanVirtual = m_virtualChanged || (virtualDue && !m_watch.WatchingVirtualFolder());
    // A link whose pseudo-terminal went away stays in the folder without any
    // event there; so the listed targets are re-checked now and then.
    if (!rescanVirtual && virtualDue) {
        rescanVirtual = std::any_of(m_virtual.begin(), m_virtual.end(), [](const DeviceEntry& e) {
            return !VirtualBridgeScanner::StillValid(e);
        });
        m_lastVirtualCheck = now;
    }
    if (rescanVirtual) {
        m_virtual = VirtualBridgeScanner::Scan(folder);
        m_virtualChanged = false;
        m_lastVirtualCheck = now;
    }

    const bool realDue = now - m_lastRealScan >= kRevalidateInterval;
    if (!m_scanned || m_realChanged || (realDue && !m_watch.WatchingDeviceFolder())) {
        m_real = m_ttys.Scan();
        m_realChanged = false;
        m_lastRealScan = now;
    }
    m_scanned = true;
}

size_t DeviceList::Count() {
    std::lock_guard lock(m_mutex);
    Refresh();
    return m_virtual.size() + m_real.size();
}

std::optional<DeviceEntry> DeviceList::Entry(size_t index) {
    std::lock_guard lock(m_mutex);
    Refresh();
    if (index < m_virtual.size())
        return m_virtual[index];
    index -= m_virtual.size();
    if (index < m_real.size())
        return m_real[index];
    return std::nullopt;
}

std::vector<DeviceEntry> DeviceList::Entries() {
    std::lock_guard lock(m_mutex);
    Refresh();
    std::vector<DeviceEntry> all = m_virtual;
    all.insert(all.end(), m_real.begin(), m_real.end());
    return all;
}

unsigned DeviceList::Removals(const DeviceEntry& entry) {
    std::lock_guard lock(m_mutex);
    CollectChanges();
    return m_watch.Removals(entry.node);
}

bool DeviceList::StillAttached(const DeviceEntry& entry, unsigned removalsAtOpen, bool full) {
    if (!entry.isVirtual)
        return !full || m_ttys.StillValid(entry);
    {
        std::lock_guard lock(m_mutex);
        CollectChanges();
        if (m_watch.Removals(entry.node) != removalsAtOpen)
            return false;
    }
    return !full || VirtualBridgeScanner::StillValid(entry);
}

std::string DeviceList::VirtualFolder() {
    std::lock_guard lock(m_mutex);
    Refresh();
    return m_virtualFolder;
}

DeviceList& SharedDeviceList() {
    // Never destroyed: entry points may still be called while the process
    // runs its static destructors.
    static DeviceList* list = new DeviceList;
    return *list;
}

} // namespace usbdriver
