#include "BridgeLink.h"

#include "BridgeFolder.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace vscope {

namespace {

// The link of the running device, for the crash handler: a scope that dies
// on a fatal signal must not leave a dangling device behind.
char g_crashLink[PATH_MAX];

void RemoveLinkAndDie(int signal) {
    if (g_crashLink[0])
        unlink(g_crashLink);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

} // namespace

void BridgeLink::RemoveLinkOnCrash() {
    for (int s : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT})
        std::signal(s, RemoveLinkAndDie);
}

std::string BridgeLink::Directory() {
    return usbdriver::VirtualBridgeFolder();
}

std::string BridgeLink::EnsureDirectory() const {
    const std::string dir = Directory();
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        return "cannot create the virtual-bridges folder " + dir + ": " + std::strerror(errno);
    struct stat st;
    if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return dir + " exists but is not a folder; remove it and start again";
    if (st.st_uid != getuid())
        return dir + " belongs to another user; remove it or set XDG_RUNTIME_DIR";
    return {};
}

std::string BridgeLink::Plug(bool busy) {
    if (IsPlugged())
        return {};
    if (std::string error = EnsureDirectory(); !error.empty())
        return error;
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master < 0)
        return std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
    char name[PATH_MAX];
    if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) {
        const std::string why = std::strerror(errno);
        close(master);
        return "cannot prepare the pseudo-terminal: " + why;
    }
    const int slave = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0) {
        const std::string why = std::strerror(errno);
        close(master);
        return std::string("cannot open the pseudo-terminal ") + name + ": " + why;
    }
    // Raw on the line discipline: not a single byte is translated or echoed
    // in either direction (0x0D stays 0x0D, 0x03 is no interrupt).
    struct termios tio;
    if (tcgetattr(slave, &tio) != 0 || (cfmakeraw(&tio), tcsetattr(slave, TCSANOW, &tio)) != 0) {
        const std::string why = std::strerror(errno);
        close(slave);
        close(master);
        return std::string("cannot put the pseudo-terminal into raw mode: ") + why;
    }
    if (busy && flock(slave, LOCK_EX | LOCK_NB) != 0) {
        const std::string why = std::strerror(errno);
        close(slave);
        close(master);
        return std::string("cannot lock the pseudo-terminal ") + name + ": " + why;
    }
    // Atomic appearance: a host that lists the folder sees either no entry or
    // a complete link to a ready pseudo-terminal.
    const std::string link = LinkPath();
    const std::string temp = Directory() + "/." + m_name + ".new-" + std::to_string(getpid());
    unlink(temp.c_str());
    if (symlink(name, temp.c_str()) != 0 || rename(temp.c_str(), link.c_str()) != 0) {
        const std::string why = std::strerror(errno);
        unlink(temp.c_str());
        close(slave);
        close(master);
        return "cannot create the device link " + link + ": " + why;
    }
    m_master = master;
    m_ownSlave = slave;
    m_slavePath = name;
    if (link.size() < sizeof g_crashLink)
        std::memcpy(g_crashLink, link.c_str(), link.size() + 1);
    return {};
}

void BridgeLink::Unplug() {
    if (!IsPlugged())
        return;
    // Remove only our own link: another scope may have taken the name since.
    const std::string link = LinkPath();
    char target[PATH_MAX];
    const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    if (n > 0) {
        target[n] = 0;
        if (m_slavePath == target)
            unlink(link.c_str());
    }
    g_crashLink[0] = 0;
    close(m_ownSlave);
    close(m_master);
    m_ownSlave = -1;
    m_master = -1;
}

std::string BridgeLink::ReleaseBusy() {
    if (!IsPlugged())
        return {};
    if (flock(m_ownSlave, LOCK_UN) != 0)
        return "cannot unlock the pseudo-terminal " + m_slavePath + ": " + std::strerror(errno);
    return {};
}

int BridgeLink::UnreadByHost() const {
    int count = 0;
    if (m_ownSlave < 0 || ioctl(m_ownSlave, TIOCINQ, &count) != 0)
        return 0;
    return count;
}

} // namespace vscope
