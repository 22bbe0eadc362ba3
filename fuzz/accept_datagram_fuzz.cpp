// Feeds arbitrary datagrams through the acceptance rules of the receive side,
// the way the receiver hands them over: copied into its zero-filled 1350-byte
// buffer, and a datagram longer than that buffer dropped whole. The same bytes
// also go in as an exactly sized copy, so that any read past the datagram
// shows up under AddressSanitizer, and both answers must agree.
#include "bus/Packet.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {
void Check(bool condition) {
    if (!condition)
        __builtin_trap();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > static_cast<size_t>(UDPReceiveBufferSize)) {
        // The receive call refuses such a datagram; the rules must refuse it as well.
        const std::vector<uint8_t> whole(data, data + size);
        Check(!pblAcceptDatagram(whole));
        return 0;
    }

    std::array<uint8_t, UDPReceiveBufferSize> buffer{};
    if (size > 0)
        std::memcpy(buffer.data(), data, size);
    const auto fromBuffer = pblAcceptDatagram(std::span<const uint8_t>(buffer.data(), size));

    const std::vector<uint8_t> exact(data, data + size);
    const auto fromExact = pblAcceptDatagram(exact);
    Check(fromBuffer == fromExact);
    if (!fromBuffer)
        return 0;

    const std::vector<uint8_t>& body = *fromBuffer;
    Check(size >= static_cast<size_t>(MinDatagramSize));
    Check(body.size() >= 11);
    Check(data[14] == 0xAA && (data[15] == 0xAA || data[15] == 0x55));
    if (data[16] == LongPacketLength) {
        Check(body.size() == (static_cast<size_t>(data[25]) << 8 | data[26]) + 11);
        for (size_t i = 0; i < body.size(); ++i)
            Check(body[i] == (16 + i < size ? data[16 + i] : 0));
    } else {
        Check(size <= static_cast<size_t>(MaxNormalDatagramSize));
        Check(body.size() == size - 16);
        Check(std::memcmp(body.data(), data + 16, body.size()) == 0);
        Check(CRC16(body.data(), body.size() - 2) ==
              static_cast<uint16_t>(body[body.size() - 2] << 8 | body[body.size() - 1]));
    }
    return 0;
}
