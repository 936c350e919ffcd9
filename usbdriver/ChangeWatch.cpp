#include "ChangeWatch.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <pthread.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace usbdriver {

namespace {
std::atomic<unsigned> g_forks{0};

unsigned RegisterForkCounter() {
    static const bool registered = pthread_atfork(nullptr, nullptr, [] { ++g_forks; }) == 0;
    (void)registered;
    return g_forks.load();
}

constexpr uint32_t kFolderEvents =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;
constexpr uint32_t kParentEvents = IN_CREATE | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF;
} // namespace

ChangeWatch::ChangeWatch()
    : m_fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)), m_forksSeen(RegisterForkCounter()) {}

bool ChangeWatch::RenewAfterFork() {
    const unsigned forks = g_forks.load();
    if (forks == m_forksSeen)
        return false;
    m_forksSeen = forks;
    if (m_fd >= 0)
        close(m_fd);
    m_fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    m_virtualWatch = m_deviceWatch = -1;
    const std::string deviceFolder = m_deviceFolder;
    m_deviceFolder.clear();
    WatchDeviceFolder(deviceFolder);
    Rearm();
    return true;
}

ChangeWatch::~ChangeWatch() {
    if (m_fd >= 0)
        close(m_fd);
}

void ChangeWatch::WatchVirtualFolder(const std::string& folder) {
    if (folder == m_virtualFolder && m_virtualWatch >= 0)
        return;
    m_virtualFolder = folder;
    Rearm();
}

void ChangeWatch::WatchDeviceFolder(const std::string& folder) {
    if (m_fd < 0 || (folder == m_deviceFolder && m_deviceWatch >= 0))
        return;
    m_deviceFolder = folder;
    if (m_deviceWatch >= 0)
        inotify_rm_watch(m_fd, m_deviceWatch);
    m_deviceWatch =
        inotify_add_watch(m_fd, folder.c_str(), IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO);
}

void ChangeWatch::Rearm() {
    if (m_fd < 0 || m_virtualFolder.empty())
        return;
    if (m_virtualWatch >= 0 && m_virtualWatch != m_deviceWatch)
        inotify_rm_watch(m_fd, m_virtualWatch);
    m_virtualWatch = inotify_add_watch(m_fd, m_virtualFolder.c_str(), kFolderEvents | IN_ONLYDIR);
    m_watchingParent = false;
    if (m_virtualWatch < 0) {
        const std::string parent = m_virtualFolder.substr(0, m_virtualFolder.rfind('/'));
        m_virtualWatch =
            inotify_add_watch(m_fd, parent.empty() ? "/" : parent.c_str(), kParentEvents | IN_ONLYDIR);
        m_watchingParent = m_virtualWatch >= 0;
    }
}

ChangeWatch::Changes ChangeWatch::Collect() {
    Changes changes;
    if (RenewAfterFork())
        changes.virtualFolder = changes.deviceFolder = true;
    bool rearm = false;
    if (m_fd >= 0) {
        alignas(inotify_event) char buffer[16 * (sizeof(inotify_event) + NAME_MAX + 1)];
        for (;;) {
            const ssize_t length = read(m_fd, buffer, sizeof buffer);
            if (length <= 0) {
                if (length < 0 && errno == EINTR)
                    continue;
                break;
            }
            for (ssize_t offset = 0; offset < length;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
                offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                if (event->mask & IN_Q_OVERFLOW) {
                    changes.virtualFolder = changes.deviceFolder = true;
                    rearm = true;
                    continue;
                }
                if (event->wd == m_virtualWatch) {
                    changes.virtualFolder = true;
                    // The folder appeared (parent watch) or went away: watch anew.
                    if (m_watchingParent || (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)))
                        rearm = true;
                    if (!m_watchingParent && event->len > 0 &&
                        (event->mask & (IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO)))
                        ++m_removals[m_virtualFolder + "/" + event->name];
                }
                if (event->wd == m_deviceWatch)
                    changes.deviceFolder = true;
            }
        }
    }
    if (rearm)
        Rearm();
    return changes;
}

unsigned ChangeWatch::Removals(const std::string& linkPath) const {
    const auto found = m_removals.find(linkPath);
    return found == m_removals.end() ? 0u : found->second;
}

} // namespace usbdriver
