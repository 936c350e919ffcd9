#include "PtyPeer.h"

#include "VirtualScopeProcess.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace capturetest {

PtyPeer::PtyPeer(const std::string& name) {
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0)
        return;
    const char* slavePath = ptsname(m_master);
    if (!slavePath)
        return;
    const std::string slave = slavePath;
    // Held open so that the master never sees a hang-up between the program's opens.
    m_slave = open(slave.c_str(), O_RDWR | O_NOCTTY);
    termios raw{};
    if (m_slave >= 0 && tcgetattr(m_slave, &raw) == 0) {
        cfmakeraw(&raw);
        tcsetattr(m_slave, TCSANOW, &raw);
    }
    const std::filesystem::path folder = testsupport::VirtualScopeProcess::BridgeDirectory();
    std::filesystem::create_directories(folder);
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
    m_link = (folder / name).string();
    std::error_code ignored;
    std::filesystem::remove(m_link, ignored);
    std::filesystem::create_symlink(slave, m_link);
}

PtyPeer::~PtyPeer() {
    std::error_code ignored;
    if (!m_link.empty())
        std::filesystem::remove(m_link, ignored);
    if (m_slave >= 0)
        close(m_slave);
    if (m_master >= 0)
        close(m_master);
}

size_t PtyPeer::Offer(const std::uint8_t* bytes, size_t count) {
    const ssize_t written = write(m_master, bytes, count);
    return written > 0 ? static_cast<size_t>(written) : 0;
}

std::vector<std::uint8_t> PtyPeer::Received() {
    std::vector<std::uint8_t> bytes;
    std::uint8_t chunk[256];
    for (;;) {
        const ssize_t got = read(m_master, chunk, sizeof chunk);
        if (got <= 0)
            break;
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    return bytes;
}

} // namespace capturetest
