#include "bus/Packet.h"

#include "bus/BusError.h"
#include "bus/Socket.h"
#include "playback/PublicVariable.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

namespace {

constexpr std::array<uint16_t, 256> MakeCRC16Table() {
    std::array<uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned crc = i << 8;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? ((crc << 1) ^ 0x1021) : (crc << 1);
        table[i] = static_cast<uint16_t>(crc & 0xFFFF);
    }
    return table;
}

constexpr std::array<uint8_t, 10> MagicFromGeneration4 = {'Q', 'U', 'A', 'R', 'T',
                                                          'Z', 'L', 'I', 'N', 'K'};
constexpr std::array<uint8_t, 10> MagicBeforeGeneration4 = {'Z', 'E', 'V', 'I', 'Z',
                                                            'A', 'R', 'E', 'R', 'E'};

constexpr uint8_t LeadByte = 0xAA;
constexpr uint8_t AlternativeLeadByte = 0x55;
constexpr uint16_t OwnDeviceType = 0xFFFD;

// Datagram offsets.
constexpr size_t PacketStart = DatagramHeaderSize;   // first lead byte
constexpr size_t BodyStart = DatagramHeaderSize + 2; // length byte
constexpr size_t LongLengthStart = BodyStart + 9;    // first two payload positions

void ReportUnknown(const char* routine) {
    ShowBusError(std::string("Unknown error") + routine);
}

} // namespace

const std::array<uint16_t, 256> CRC16Table = MakeCRC16Table();
static_assert(MakeCRC16Table()[1] == 0x1021 && MakeCRC16Table()[255] == 0x1EF0);

std::array<uint8_t, UDPSendBufferSize> UDPSendBuffer{};
uint8_t PackCRCHigh = 0;
uint8_t PackCRCLow = 0;

uint16_t CRC16(const uint8_t* bytes, size_t count) {
    uint16_t crc = 0;
    for (size_t i = 0; i < count; ++i)
        crc = static_cast<uint16_t>((crc << 8) ^ CRC16Table[(crc >> 8) ^ bytes[i]]);
    return crc;
}

void pblPackCRC(const uint8_t* bytes, int count) {
    try {
        if (count < 0 || (count > 0 && bytes == nullptr))
            throw std::invalid_argument("Invalid CRC input");
        const uint16_t crc = CRC16(bytes, static_cast<size_t>(count));
        PackCRCHigh = static_cast<uint8_t>(crc >> 8);
        PackCRCLow = static_cast<uint8_t>(crc & 0xFF);
    } catch (const std::exception& e) {
        ShowBusError(std::string(e.what()) + "(pblPackCRC)");
    } catch (...) {
        ReportUnknown("(pblPackCRC)");
    }
}

bool pblCheckCRC(const uint8_t* bytes, int count) {
    try {
        if (count < 0 || bytes == nullptr)
            throw std::invalid_argument("Invalid CRC input");
        const uint16_t crc = CRC16(bytes, static_cast<size_t>(count));
        return bytes[count] == static_cast<uint8_t>(crc >> 8) &&
               bytes[count + 1] == static_cast<uint8_t>(crc & 0xFF);
    } catch (const std::exception& e) {
        ShowBusError(std::string(e.what()) + "(pblCheckCRC)");
    } catch (...) {
        ReportUnknown("(pblCheckCRC)");
    }
    return false;
}

std::span<const uint8_t, 10> BusMagicFor(uint8_t generation) {
    return generation >= 4 ? std::span<const uint8_t, 10>(MagicFromGeneration4)
                           : std::span<const uint8_t, 10>(MagicBeforeGeneration4);
}

int FrameDatagram(std::span<uint8_t> out, const uint8_t* payload, int n, uint16_t opcode,
                  uint8_t targetSubnet, uint8_t targetDevice, bool longForm) {
    if (n < 0)
        throw std::invalid_argument("Negative payload length " + std::to_string(n));
    if (n > 0 && payload == nullptr)
        throw std::invalid_argument("Missing payload of " + std::to_string(n) + " bytes");
    const size_t total = static_cast<size_t>(n) + MinDatagramSize;
    if (total > out.size())
        throw std::length_error("Payload of " + std::to_string(n) + " bytes does not fit the " +
                                std::to_string(out.size()) + "-byte send buffer");

    uint8_t* d = out.data();
    std::copy(LocalIPOctets.begin(), LocalIPOctets.end(), d);
    const auto magic = BusMagicFor(BusGeneration);
    std::copy(magic.begin(), magic.end(), d + 4);

    uint8_t* p = d + PacketStart;
    const int length = n + 11;
    p[0] = LeadByte;
    p[1] = LeadByte;
    p[2] = (!longForm && length <= MaxSentLengthByte) ? static_cast<uint8_t>(length)
                                                      : LongPacketLength;
    p[3] = OwnSubnetID;
    p[4] = OwnDeviceID;
    p[5] = static_cast<uint8_t>(OwnDeviceType >> 8);
    p[6] = static_cast<uint8_t>(OwnDeviceType & 0xFF);
    p[7] = static_cast<uint8_t>(opcode >> 8);
    p[8] = static_cast<uint8_t>(opcode & 0xFF);
    p[9] = targetSubnet;
    p[10] = targetDevice;
    if (n > 0)
        std::memcpy(p + 11, payload, static_cast<size_t>(n));

    // The CRC runs from the length byte through the last payload byte.
    pblPackCRC(p + 2, n + 9);
    p[11 + n] = PackCRCHigh;
    p[12 + n] = PackCRCLow;
    return static_cast<int>(total);
}

void pblSendBUF(const uint8_t* payload, int n, uint16_t opcode, uint8_t targetSubnet,
                uint8_t targetDevice, bool longForm) {
    try {
        const int len =
            FrameDatagram(UDPSendBuffer, payload, n, opcode, targetSubnet, targetDevice, longForm);
        pblBroadcastSend(UDPSendBuffer.data(), len);
    } catch (const std::exception& e) {
        ShowBusError(std::string(e.what()) + "(pblSendBUF)");
    } catch (...) {
        ReportUnknown("(pblSendBUF)");
    }
}

std::optional<std::vector<uint8_t>> pblAcceptDatagram(std::span<const uint8_t> datagram) {
    const size_t len = datagram.size();
    // The receiver never holds more than its buffer; anything longer was cut.
    if (len < static_cast<size_t>(MinDatagramSize) ||
        len > static_cast<size_t>(UDPReceiveBufferSize))
        return std::nullopt;
    if (datagram[PacketStart] != LeadByte)
        return std::nullopt;
    if (datagram[PacketStart + 1] != LeadByte && datagram[PacketStart + 1] != AlternativeLeadByte)
        return std::nullopt;

    if (datagram[BodyStart] == LongPacketLength) {
        // A long packet carries its own length; whatever of it lies past the
        // datagram reads as zero rather than as stale buffer contents.
        const size_t declared =
            (static_cast<size_t>(datagram[LongLengthStart]) << 8 | datagram[LongLengthStart + 1]) +
            11;
        std::vector<uint8_t> body(declared, 0);
        const size_t available = std::min(declared, len - BodyStart);
        std::copy_n(datagram.begin() + BodyStart, available, body.begin());
        return body;
    }

    // A length byte other than 0xFF describes at most 254 body bytes; a longer
    // datagram cannot be a well-formed normal packet.
    if (len > static_cast<size_t>(MaxNormalDatagramSize))
        return std::nullopt;
    std::vector<uint8_t> body(datagram.begin() + BodyStart, datagram.end());
    if (!pblCheckCRC(body.data(), static_cast<int>(body.size()) - 2))
        return std::nullopt;
    return body;
}
