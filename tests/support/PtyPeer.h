// The far side of a virtual bridge, byte for byte in the test's hands: a pseudo-terminal whose
// master the test holds, linked in the bridge folder as the virtual scope does it. Also what the
// driver tests share.
#pragma once

#include "ScopeLauncher.h"
#include "ftd2xx.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <grp.h>
#include <poll.h>
#include <sys/stat.h>

using Bytes = std::vector<uint8_t>;

// Up to count bytes from fd, until none came for timeoutMs.
inline Bytes ReadUpTo(int fd, size_t count, int timeoutMs = 3000) {
    Bytes bytes(count);
    size_t done = 0;
    pollfd item{fd, POLLIN, 0};
    for (ssize_t got; done < count && poll(&item, 1, timeoutMs) > 0 &&
                      (got = read(fd, bytes.data() + done, count - done)) > 0;)
        done += static_cast<size_t>(got);
    bytes.resize(done);
    return bytes;
}

struct PtyPeer {
    // Unless name is empty, the slave is linked under that name.
    explicit PtyPeer(const std::string& name = "scope0") {
        char path[128] = {};
        EXPECT_TRUE(m_master >= 0 && grantpt(m_master) == 0 && unlockpt(m_master) == 0 &&
                    ptsname_r(m_master, path, sizeof path) == 0);
        m_slave = path;
        if (!name.empty())
            Link(name);
    }
    ~PtyPeer() { Unlink(), CloseMaster(); }
    PtyPeer(PtyPeer&&) = delete; // nor copied

    // The library's folder, created if missing.
    static std::string BridgeFolder() {
        const std::string folder = usbdriver::VirtualBridgeFolder();
        mkdir(folder.c_str(), 0700);
        return folder;
    }
    void Link(const std::string& name) {
        m_link = BridgeFolder() + "/" + name;
        EXPECT_EQ(symlink(m_slave.c_str(), m_link.c_str()), 0) << m_link;
    }
    void Unlink() { unlink(std::exchange(m_link, {}).c_str()); }
    // The slave side hangs up; a link stays, dangling.
    void CloseMaster() { close(std::exchange(m_master, -1)); }
    // Small enough for the kernel buffer, so one write takes it all.
    void Send(const Bytes& bytes) {
        EXPECT_EQ(write(m_master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // All the driver has sent so far, without waiting.
    const Bytes& Collect() {
        uint8_t chunk[256];
        for (ssize_t got; (got = read(m_master, chunk, sizeof chunk)) > 0;)
            m_collected.insert(m_collected.end(), chunk, chunk + got);
        return m_collected;
    }
    // Writes what the line takes now of bytes from offset on; the new offset.
    size_t Offer(const Bytes& bytes, size_t offset) {
        const ssize_t taken = write(m_master, bytes.data() + offset, bytes.size() - offset);
        return offset + static_cast<size_t>(std::max<ssize_t>(taken, 0));
    }
    const std::string& SlavePath() const { return m_slave; }
    int Master() const { return m_master; }

  private:
    int m_master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    std::string m_slave, m_link;
    Bytes m_collected;
};

// A peer with device 0 opened on it.
struct OpenedPeer : PtyPeer {
    FT_HANDLE handle = nullptr;
    OpenedPeer() { EXPECT_EQ(FT_Open(0, &handle), FT_OK); }
    ~OpenedPeer() { FT_Close(handle); }
};

inline DWORD DeviceCount() {
    DWORD count = 0xDEAD;
    EXPECT_EQ(FT_ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
    return count;
}

// The bytes a read gave, once it ended with the expected status.
inline Bytes Read(FT_HANDLE handle, DWORD count, FT_STATUS expected = FT_OK) {
    Bytes bytes(count);
    DWORD got = 0xDEAD;
    EXPECT_EQ(FT_Read(handle, bytes.data(), count, &got), expected);
    bytes.resize(std::min(got, count));
    return bytes;
}

// A failed write may have sent part; a write that succeeded sent it all.
inline FT_STATUS Write(FT_HANDLE handle, Bytes bytes) {
    DWORD written = 0xDEAD;
    const FT_STATUS status = FT_Write(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written);
    EXPECT_TRUE(status != FT_OK || written == bytes.size()) << written;
    return status;
}

inline DWORD Queued(FT_HANDLE handle) {
    DWORD queued = 0xDEAD;
    EXPECT_EQ(FT_GetQueueStatus(handle, &queued), FT_OK);
    return queued;
}

// Polls the queue status, as the capture program does on its timer, until it holds at least
// expected (within 5 s); a caller that expects exactly that many sees any overshoot.
inline DWORD QueuedReaches(FT_HANDLE handle, DWORD expected) {
    DWORD queued = 0;
    scopelauncher::WaitUntil(5000, [&] { return (queued = Queued(handle)) >= expected; });
    return queued;
}

// Opening device number must fail with that status, leave the handle as it
// was, and say so in one line holding every fragment.
inline void ExpectRefused(int number, FT_STATUS expected, const std::vector<std::string>& fragments) {
    FT_HANDLE handle = reinterpret_cast<FT_HANDLE>(uintptr_t{0x5A5A});
    testing::internal::CaptureStderr();
    EXPECT_EQ(FT_Open(number, &handle), expected);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(handle, reinterpret_cast<FT_HANDLE>(uintptr_t{0x5A5A})) << "the handle was touched";
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    for (const std::string& fragment : fragments)
        EXPECT_NE(said.find(fragment), std::string::npos) << fragment << " not in: " << said;
}

// Runs body in a forked child, another program using the library, as user nobody when asked
// (and running as root). True when its expectations held (and none failed before the fork).
inline bool InChild(bool asNobody, const std::function<void()>& body) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (asNobody && geteuid() == 0) {
            // Nobody may list the bridge folder, but the node's rights decide the open.
            chmod(std::getenv("XDG_RUNTIME_DIR"), 0755);
            chmod(PtyPeer::BridgeFolder().c_str(), 0755);
            if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
                _exit(2);
        }
        body();
        _exit(testing::Test::HasFailure() ? 1 : 0);
    }
    int status = -1;
    return pid > 0 && waitpid(pid, &status, 0) == pid && status == 0; // exited with code 0
}
