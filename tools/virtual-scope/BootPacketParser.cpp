#include "BootPacketParser.h"

namespace vscope {

void BootPacketParser::Reset() {
    m_state = State::Idle;
    m_headerCount = 0;
    m_packet = BootPacket{};
}

std::size_t BootPacketParser::Feed(const std::uint8_t* bytes, std::size_t count,
                                   std::vector<BootPacket>& out) {
    std::size_t ignored = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t b = bytes[i];
        switch (m_state) {
        case State::Idle:
            if (b == kStartMarker) {
                m_state = State::Header;
                m_headerCount = 0;
                m_packet = BootPacket{};
            } else {
                ++ignored;
            }
            break;
        case State::Header:
            m_header[m_headerCount++] = b;
            if (m_headerCount == kHeaderBytes) {
                m_packet.code = m_header[0];
                m_packet.address = (unsigned(m_header[1]) << 8) | m_header[2];
                m_packet.length = (unsigned(m_header[3]) << 8) | m_header[4];
                if (m_packet.length > kMaxData) {
                    m_packet.framingError = true;
                    out.push_back(std::move(m_packet));
                    Reset();
                } else {
                    m_packet.data.reserve(m_packet.length);
                    m_state = m_packet.length ? State::Data : State::End;
                }
            }
            break;
        case State::Data: {
            // Copy as much of the data field as this piece holds in one go.
            std::size_t take = m_packet.length - m_packet.data.size();
            if (take > count - i)
                take = count - i;
            m_packet.data.insert(m_packet.data.end(), bytes + i, bytes + i + take);
            i += take - 1;
            if (m_packet.data.size() == m_packet.length)
                m_state = State::End;
            break;
        }
        case State::End:
            m_packet.framingError = (b != kEndMarker);
            out.push_back(std::move(m_packet));
            Reset();
            break;
        }
    }
    return ignored;
}

} // namespace vscope
