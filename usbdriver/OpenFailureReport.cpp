#include "OpenFailureReport.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <grp.h>
#include <pwd.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace usbdriver {

namespace {

// The rule that gives the logged-in user access, as the automotive-scope package
// installs it; the source tree has it in resources/udev/.
constexpr const char* kRulesFile = "/usr/lib/udev/rules.d/61-automotive-scope-uaccess.rules (package "
                                   "automotive-scope)";
// Looking through every process's open files is the fallback when no lock is
// listed; bounded so that a crowded machine does not stall the caller.
constexpr int kMaxProcessesScanned = 4096;

std::string NodeName(const DeviceEntry& entry) {
    if (entry.isVirtual)
        return entry.target + " (virtual bridge " + entry.node + ")";
    return entry.node;
}

std::string GroupName(gid_t gid) {
    char buffer[4096];
    group record{};
    group* found = nullptr;
    if (getgrgid_r(gid, &record, buffer, sizeof buffer, &found) != 0 || !found)
        return "with id " + std::to_string(gid);
    return "'" + std::string(found->gr_name) + "'";
}

std::string UserName(uid_t uid) {
    char buffer[4096];
    passwd record{};
    passwd* found = nullptr;
    if (getpwuid_r(uid, &record, buffer, sizeof buffer, &found) != 0 || !found)
        return std::to_string(uid);
    return found->pw_name;
}

bool InGroup(gid_t gid) {
    if (getegid() == gid)
        return true;
    gid_t groups[256];
    const int count = getgroups(256, groups);
    for (int i = 0; i < count; ++i)
        if (groups[i] == gid)
            return true;
    return false;
}

// What a user without the right to open the node can do about it.
std::string PermissionAdvice(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0)
        return "install the udev rule " + std::string(kRulesFile) + " and plug the scope in again";
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
    const std::string owner = "the port is owned by user '" + UserName(info.st_uid) + "' and group " +
                              GroupName(info.st_gid) + " with mode " + mode;
    const bool groupMayUse = (info.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP) && info.st_gid != 0;
    if (groupMayUse && InGroup(info.st_gid))
        return owner + "; this program is in that group, so something else refuses it (an access "
                       "control list or a security module): ask the administrator";
    if (groupMayUse)
        return owner + ": add the user to group " + GroupName(info.st_gid) +
               " and log in again, or install the udev rule " + kRulesFile + " and plug the scope in again";
    return owner + ", so no ordinary user may open it: install the udev rule " + kRulesFile +
           ", which gives the logged-in user access, then plug the scope in again";
}

std::string Describe(pid_t pid) {
    if (pid == getpid())
        return "this program (another handle of it is still open)";
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return "pid " + std::to_string(pid) + (name.empty() ? "" : " (" + name + ")");
}

// /proc/locks names flock() holders by device and inode of the locked file.
pid_t LockHolder(const struct stat& info) {
    std::ifstream locks("/proc/locks");
    std::string line;
    char wanted[64];
    std::snprintf(wanted, sizeof wanted, "%02x:%02x:%llu", major(info.st_dev), minor(info.st_dev),
                  static_cast<unsigned long long>(info.st_ino));
    while (std::getline(locks, line)) {
        std::istringstream fields(line);
        std::string number, kind, mode, access, pid, where;
        fields >> number >> kind;
        if (kind == "->")
            continue;
        fields >> mode >> access >> pid >> where;
        if (kind == "FLOCK" && where == wanted)
            return static_cast<pid_t>(std::atoi(pid.c_str()));
    }
    return 0;
}

pid_t OpenedBy(const std::string& node) {
    DIR* proc = opendir("/proc");
    if (!proc)
        return 0;
    pid_t holder = 0;
    int scanned = 0;
    while (const dirent* item = readdir(proc)) {
        if (item->d_name[0] < '1' || item->d_name[0] > '9' || ++scanned > kMaxProcessesScanned)
            continue;
        const pid_t pid = static_cast<pid_t>(std::atoi(item->d_name));
        const std::string fdFolder = std::string("/proc/") + item->d_name + "/fd";
        DIR* fds = opendir(fdFolder.c_str());
        if (!fds)
            continue;
        while (const dirent* fd = readdir(fds)) {
            char target[4096];
            const std::string link = fdFolder + "/" + fd->d_name;
            const ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
            if (length > 0 && node.compare(0, std::string::npos, target, static_cast<size_t>(length)) == 0) {
                holder = pid;
                break;
            }
        }
        closedir(fds);
        if (holder != 0 && holder != getpid())
            break;
    }
    closedir(proc);
    return holder;
}

} // namespace

std::string OpenFailureReport::Holder(const DeviceEntry& entry) {
    struct stat info {};
    if (stat(entry.target.c_str(), &info) != 0)
        return {};
    pid_t pid = LockHolder(info);
    if (pid <= 0)
        pid = OpenedBy(entry.target);
    return pid > 0 ? Describe(pid) : std::string();
}

std::string OpenFailureReport::NotOpened(const DeviceEntry& entry, const char* step, int errorNumber) {
    const std::string node = NodeName(entry);
    switch (errorNumber) {
    case EACCES:
    case EPERM: {
        return "usbdriver: cannot open " + node + ": permission denied; " + PermissionAdvice(entry.target);
    }
    case EBUSY:
    case EWOULDBLOCK: {
        return Busy(entry);
    }
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return "usbdriver: cannot open " + node +
               ": the device has gone (unplugged?); plug the scope in again";
    default:
        return "usbdriver: cannot open " + node + ": " + step + " failed: " + std::strerror(errorNumber);
    }
}

std::string OpenFailureReport::Busy(const DeviceEntry& entry) {
    const std::string holder = Holder(entry);
    return "usbdriver: cannot open " + NodeName(entry) + ": the port is in use by " +
           (holder.empty() ? std::string("another program") : holder) + "; close that program and try again";
}

std::string OpenFailureReport::NotListed(int deviceNumber, size_t listed, const std::string& virtualFolder) {
    return "usbdriver: no bridge device number " + std::to_string(deviceNumber) + " is attached (" +
           std::to_string(listed) + " listed: virtual bridges in " + virtualFolder +
           ", USB serial ports of vendor 0403); plug the scope in";
}

void OpenFailureReport::Print(const std::string& line) {
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

} // namespace usbdriver
