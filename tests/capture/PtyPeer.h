// A bridge device of the test's own: a pseudo-terminal whose slave is linked into
// the virtual-bridges folder, so a test controls every byte the program receives.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace capturetest {

class PtyPeer {
  public:
    explicit PtyPeer(const std::string& name = "scope0");
    ~PtyPeer();
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    // Writes what the tty accepts now; returns how many bytes were taken.
    size_t Offer(const std::uint8_t* bytes, size_t count);
    // Bytes the program has sent so far (non-blocking).
    std::vector<std::uint8_t> Received();
    bool IsOpen() const { return m_master >= 0; }

  private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_link;
};

} // namespace capturetest
