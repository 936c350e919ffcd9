#pragma once

#include <string>

namespace vscope {

// The attached bridge device as the host finds it: a pseudo-terminal in raw
// mode and a symbolic link NAME -> its slave in the virtual-bridges folder.
// The scope keeps a slave descriptor of its own open, so the host may close
// and reopen the slave as often as it likes without hanging up the master.
class BridgeLink {
  public:
    explicit BridgeLink(std::string name) : m_name(std::move(name)) {}
    ~BridgeLink() { Unplug(); }
    BridgeLink(const BridgeLink&) = delete;
    BridgeLink& operator=(const BridgeLink&) = delete;

    static std::string Directory();
    // Installs handlers for fatal signals that remove the current link first.
    static void RemoveLinkOnCrash();

    // Empty on success. With busy the lock is taken before the link appears,
    // so no host can slip in between.
    std::string Plug(bool busy = false);
    void Unplug(); // removes the link, then closes both sides: an open host sees a hang-up
    bool IsPlugged() const { return m_master >= 0; }

    // Releases the exclusive flock that Plug(true) took on the scope's own
    // slave descriptor, so the host's lock attempt succeeds again.
    std::string ReleaseBusy();

    // Bytes written to the master that the host has not read yet.
    int UnreadByHost() const;

    int MasterFd() const { return m_master; }
    std::string LinkPath() const { return Directory() + "/" + m_name; }
    const std::string& SlavePath() const { return m_slavePath; }

  private:
    std::string EnsureDirectory() const;

    std::string m_name;
    std::string m_slavePath;
    int m_master = -1;
    int m_ownSlave = -1;
};

} // namespace vscope
