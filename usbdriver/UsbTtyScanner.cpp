#include "UsbTtyScanner.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sys/stat.h>

namespace usbdriver {

namespace {

constexpr const char* kBridgeVendor = "0403";
// A tty's USB device sits a few levels above its interface; going further only
// reaches buses and the root.
constexpr int kMaxAncestors = 6;

std::string FirstLine(const std::string& path) {
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line;
}

bool Exists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

// The USB device folder with the bridge vendor id among the device's
// ancestors, or empty.
std::string BridgeUsbDevice(const std::string& ttyFolder) {
    char resolved[PATH_MAX];
    if (!realpath((ttyFolder + "/device").c_str(), resolved))
        return {};
    std::string folder = resolved;
    for (int level = 0; level < kMaxAncestors && folder.size() > 1; ++level) {
        const std::string vendorFile = folder + "/idVendor";
        if (Exists(vendorFile))
            return FirstLine(vendorFile) == kBridgeVendor ? folder : std::string();
        folder = folder.substr(0, folder.rfind('/'));
    }
    return {};
}

} // namespace

UsbTtyScanner::UsbTtyScanner(std::string classRoot, std::string devRoot)
    : m_classRoot(std::move(classRoot)), m_devRoot(std::move(devRoot)) {}

std::vector<DeviceEntry> UsbTtyScanner::Scan() const {
    std::vector<DeviceEntry> entries;
    DIR* dir = opendir(m_classRoot.c_str());
    if (!dir)
        return entries;
    while (const dirent* item = readdir(dir)) {
        const std::string name = item->d_name;
        if (name.empty() || name[0] == '.')
            continue;
        const std::string usbDevice = BridgeUsbDevice(m_classRoot + "/" + name);
        if (usbDevice.empty())
            continue;
        DeviceEntry entry;
        entry.node = m_devRoot + "/" + name;
        struct stat info {};
        if (stat(entry.node.c_str(), &info) != 0)
            continue;
        entry.target = entry.node;
        entry.serial = name;
        entry.description = FirstLine(usbDevice + "/product");
        entry.deviceNumber = info.st_rdev;
        entries.push_back(std::move(entry));
    }
    closedir(dir);
    std::sort(entries.begin(), entries.end(),
              [](const DeviceEntry& a, const DeviceEntry& b) { return NaturalLess(a.serial, b.serial); });
    return entries;
}

bool UsbTtyScanner::StillValid(const DeviceEntry& entry) const {
    struct stat info {};
    return Exists(m_classRoot + "/" + entry.serial) && stat(entry.node.c_str(), &info) == 0 &&
           info.st_rdev == entry.deviceNumber;
}

bool UsbTtyScanner::NaturalLess(const std::string& a, const std::string& b) {
    size_t i = 0;
    size_t j = 0;
    const auto digit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
    while (i < a.size() && j < b.size()) {
        if (digit(a[i]) && digit(b[j])) {
            size_t endA = i;
            size_t endB = j;
            while (endA < a.size() && digit(a[endA]))
                ++endA;
            while (endB < b.size() && digit(b[endB]))
                ++endB;
            // Leading zeros do not change the value; compare lengths without them.
            size_t startA = i;
            size_t startB = j;
            while (startA + 1 < endA && a[startA] == '0')
                ++startA;
            while (startB + 1 < endB && b[startB] == '0')
                ++startB;
            if (endA - startA != endB - startB)
                return endA - startA < endB - startB;
            const int order = a.compare(startA, endA - startA, b, startB, endB - startB);
            if (order != 0)
                return order < 0;
            i = endA;
            j = endB;
            continue;
        }
        if (a[i] != b[j])
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
        ++i;
        ++j;
    }
    if (a.size() - i != b.size() - j)
        return a.size() - i < b.size() - j;
    return a < b;
}

} // namespace usbdriver
