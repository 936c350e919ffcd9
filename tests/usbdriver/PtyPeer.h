// The far side of a virtual bridge for driver tests: a pseudo-terminal whose
// master the test holds, and a link to its slave in the bridge folder, as the
// virtual scope makes them.
#ifndef TESTS_USBDRIVER_PTYPEER_H
#define TESTS_USBDRIVER_PTYPEER_H

#include <cstdint>
#include <string>
#include <vector>

class PtyPeer {
  public:
    // Creates the pseudo-terminal and, unless name is empty, the link.
    explicit PtyPeer(const std::string& name = "scope0");
    ~PtyPeer();
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    // $XDG_RUNTIME_DIR/virtual-bridges (or its fallback), created if missing.
    static std::string BridgeFolder();

    void Link(const std::string& name);
    void Unlink();
    // Closes the master: the slave side hangs up. The link stays (dangling).
    void CloseMaster();

    void Send(const std::vector<uint8_t>& bytes);
    // Whatever the driver sent, waiting up to timeoutMs for count bytes.
    std::vector<uint8_t> Receive(size_t count, int timeoutMs = 2000);

    const std::string& SlavePath() const { return m_slave; }
    const std::string& LinkPath() const { return m_link; }
    int Master() const { return m_master; }

  private:
    int m_master = -1;
    std::string m_slave;
    std::string m_link;
};

#endif
