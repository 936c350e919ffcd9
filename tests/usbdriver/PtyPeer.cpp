#include "PtyPeer.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "VirtualBridgeScanner.h"

PtyPeer::PtyPeer(const std::string& name) {
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    EXPECT_GE(m_master, 0) << "posix_openpt: " << strerror(errno);
    EXPECT_EQ(grantpt(m_master), 0);
    EXPECT_EQ(unlockpt(m_master), 0);
    char path[128] = {};
    EXPECT_EQ(ptsname_r(m_master, path, sizeof path), 0);
    m_slave = path;
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    if (!name.empty())
        Link(name);
}

PtyPeer::~PtyPeer() {
    Unlink();
    CloseMaster();
}

std::string PtyPeer::BridgeFolder() {
    const std::string folder = usbdriver::VirtualBridgeScanner::BridgeFolder();
    mkdir(folder.c_str(), 0700);
    return folder;
}

void PtyPeer::Link(const std::string& name) {
    Unlink();
    m_link = BridgeFolder() + "/" + name;
    EXPECT_EQ(symlink(m_slave.c_str(), m_link.c_str()), 0) << m_link << ": " << strerror(errno);
}

void PtyPeer::Unlink() {
    if (!m_link.empty())
        unlink(m_link.c_str());
    m_link.clear();
}

void PtyPeer::CloseMaster() {
    if (m_master >= 0)
        close(m_master);
    m_master = -1;
}

void PtyPeer::Send(const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = write(m_master, bytes.data() + done, bytes.size() - done);
        if (put > 0) {
            done += static_cast<size_t>(put);
        } else if (put < 0 && errno == EAGAIN) {
            pollfd item{m_master, POLLOUT, 0};
            ASSERT_GT(poll(&item, 1, 5000), 0) << "the driver side does not take bytes";
        } else {
            FAIL() << "write to pty master: " << strerror(errno);
        }
    }
}

std::vector<uint8_t> PtyPeer::Receive(size_t count, int timeoutMs) {
    std::vector<uint8_t> bytes;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (bytes.size() < count && std::chrono::steady_clock::now() < deadline) {
        uint8_t buffer[4096];
        const ssize_t got = read(m_master, buffer, std::min(sizeof buffer, count - bytes.size()));
        if (got > 0) {
            bytes.insert(bytes.end(), buffer, buffer + got);
            continue;
        }
        pollfd item{m_master, POLLIN, 0};
        poll(&item, 1, 10);
    }
    return bytes;
}
