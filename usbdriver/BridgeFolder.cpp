#include "BridgeFolder.h"

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace usbdriver {

std::string VirtualBridgeFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime)
        return std::string(runtime) + "/virtual-bridges";
    std::error_code error;
    std::string temp = std::filesystem::temp_directory_path(error).string();
    if (error || temp.empty())
        temp = "/tmp";
    while (temp.size() > 1 && temp.back() == '/')
        temp.pop_back();
    return temp + "/virtual-bridges-" + std::to_string(getuid());
}

} // namespace usbdriver
