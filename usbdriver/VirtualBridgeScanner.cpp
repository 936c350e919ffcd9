#include "VirtualBridgeScanner.h"

#include "BridgeFolder.h"

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace usbdriver {

namespace {

bool ReadLink(const std::string& path, std::string& target) {
    char buffer[4096];
    const ssize_t length = readlink(path.c_str(), buffer, sizeof buffer);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof buffer)
        return false;
    target.assign(buffer, static_cast<size_t>(length));
    return true;
}

std::string Absolute(const std::string& folder, const std::string& target) {
    return !target.empty() && target[0] == '/' ? target : folder + "/" + target;
}

} // namespace

std::string VirtualBridgeScanner::BridgeFolder() {
    return VirtualBridgeFolder();
}

std::vector<DeviceEntry> VirtualBridgeScanner::Scan(const std::string& folder) {
    std::vector<DeviceEntry> entries;
    // The fallback folder lies in the shared temp folder: one that another
    // user made (or a link to elsewhere) is not ours to trust.
    struct stat folderInfo {};
    if (lstat(folder.c_str(), &folderInfo) != 0 || !S_ISDIR(folderInfo.st_mode) ||
        (folderInfo.st_uid != geteuid() && folderInfo.st_uid != 0))
        return entries;
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return entries;
    while (const dirent* item = readdir(dir)) {
        const std::string name = item->d_name;
        // A hidden name is a link still being made: it is renamed into place
        // once its pseudo-terminal is ready.
        if (name.empty() || name[0] == '.' || (item->d_type != DT_LNK && item->d_type != DT_UNKNOWN))
            continue;
        DeviceEntry entry;
        entry.isVirtual = true;
        entry.node = folder + "/" + name;
        struct stat linkInfo {};
        struct stat deviceInfo {};
        std::string target;
        if (lstat(entry.node.c_str(), &linkInfo) != 0 || !S_ISLNK(linkInfo.st_mode) ||
            !ReadLink(entry.node, target) || stat(entry.node.c_str(), &deviceInfo) != 0 ||
            !S_ISCHR(deviceInfo.st_mode))
            continue;
        entry.target = Absolute(folder, target);
        entry.serial = name;
        entry.description = kVirtualDescription;
        entry.linkInode = linkInfo.st_ino;
        entry.deviceNumber = deviceInfo.st_rdev;
        entries.push_back(std::move(entry));
    }
    closedir(dir);
    std::sort(entries.begin(), entries.end(),
              [](const DeviceEntry& a, const DeviceEntry& b) { return a.serial < b.serial; });
    return entries;
}

bool VirtualBridgeScanner::StillValid(const DeviceEntry& entry) {
    struct stat linkInfo {};
    if (lstat(entry.node.c_str(), &linkInfo) != 0 || !S_ISLNK(linkInfo.st_mode) ||
        linkInfo.st_ino != entry.linkInode)
        return false;
    std::string target;
    const std::string folder = entry.node.substr(0, entry.node.rfind('/'));
    if (!ReadLink(entry.node, target) || Absolute(folder, target) != entry.target)
        return false;
    struct stat deviceInfo {};
    return stat(entry.target.c_str(), &deviceInfo) == 0 && S_ISCHR(deviceInfo.st_mode) &&
           deviceInfo.st_rdev == entry.deviceNumber;
}

} // namespace usbdriver
