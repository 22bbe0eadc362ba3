#pragma once
// The bus packet on the wire: CRC-16/XMODEM, framing of one packet into the
// send datagram, and the acceptance rules for a received datagram.
//
// Datagram: 4 local address octets, 10-byte magic, then the packet:
//   AA AA len srcSubnet srcDevice FF FD opHi opLo tgtSubnet tgtDevice payload... crcHi crcLo
// The CRC covers the length byte through the last payload byte.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

constexpr int UDPSendBufferSize = 1300;
constexpr int UDPReceiveBufferSize = 1350;
// Address octets plus magic in front of the packet.
constexpr int DatagramHeaderSize = 14;
// Lead bytes, length byte, addresses, device type, opcode and CRC around the payload.
constexpr int PacketOverhead = 13;
// The smallest datagram that can hold a packet: one with an empty payload.
constexpr int MinDatagramSize = DatagramHeaderSize + PacketOverhead;
constexpr int MaxPayloadSize = UDPSendBufferSize - MinDatagramSize;
// The length byte marks a long packet with this value.
constexpr uint8_t LongPacketLength = 0xFF;
// Longer packets are sent with the long-packet length byte.
constexpr int MaxSentLengthByte = 80;
// Longest normal (non-long) datagram whose length byte can still describe it.
constexpr int MaxNormalDatagramSize = 16 + 0xFE;

// CRC-16/XMODEM table, polynomial 0x1021: entry i is the CRC of the byte i.
extern const std::array<uint16_t, 256> CRC16Table;

// The datagram being sent, overwritten by every pblSendBUF.
extern std::array<uint8_t, UDPSendBufferSize> UDPSendBuffer;

// Result of the last pblPackCRC, high and low byte.
extern uint8_t PackCRCHigh;
extern uint8_t PackCRCLow;

// CRC-16/XMODEM over count bytes.
uint16_t CRC16(const uint8_t* bytes, size_t count);

// CRC over bytes[0 .. count-1] into PackCRCHigh/PackCRCLow. The caller's bytes
// are not changed. On an error shows "<message>(pblPackCRC)".
void pblPackCRC(const uint8_t* bytes, int count);

// True exactly when bytes[count] and bytes[count+1] hold the CRC over
// bytes[0 .. count-1], high byte first. The caller guarantees count + 2 readable
// bytes. On an error shows "<message>(pblCheckCRC)" and returns false.
bool pblCheckCRC(const uint8_t* bytes, int count);

// The 10 ASCII bytes of the magic for a bus generation (no terminator counted).
std::span<const uint8_t, 10> BusMagicFor(uint8_t generation);

// Frames one packet into a complete datagram in out, from the current own IDs,
// BusGeneration and LocalIPOctets, and returns its length (n + 27). Sends
// nothing. Throws std::invalid_argument or std::length_error (out is then left
// untouched) when the arguments are inconsistent or the datagram does not fit.
int FrameDatagram(std::span<uint8_t> out, const uint8_t* payload, int n, uint16_t opcode,
                  uint8_t targetSubnet, uint8_t targetDevice, bool longForm);

// Frames one packet into UDPSendBuffer and broadcasts it. n is the number of
// payload bytes; long form forces the 0xFF length byte. On an error (for
// example a payload that does not fit the buffer) shows "<message>(pblSendBUF)"
// and sends nothing.
void pblSendBUF(const uint8_t* payload, int n, uint16_t opcode, uint8_t targetSubnet,
                uint8_t targetDevice, bool longForm);

// Applies the acceptance rules to one received datagram (as received into the
// receive buffer, so at most UDPReceiveBufferSize bytes; a longer one is
// refused). Returns the packet body, length byte first (byte 1 source subnet,
// 2 source device, 3-4 device type, 5-6 opcode, 7 target subnet, 8 target
// device, 9 on payload), or nothing when the datagram is dropped. The body is
// always at least 11 bytes long.
//
//  - at least 27 bytes, byte 14 = 0xAA and byte 15 = 0xAA or 0x55; address and
//    magic are not looked at;
//  - long packet (length byte 0xFF): the L + 11 bytes from byte 16, L being the
//    big-endian word at bytes 25-26; positions past the datagram read as zero,
//    as they would from the zero-filled receive buffer; no CRC check;
//  - normal packet: bytes 16 to the end, accepted when its last two bytes hold
//    the CRC of the rest. The length byte is not compared with the datagram's
//    length, but a datagram longer than any length byte can describe (more than
//    MaxNormalDatagramSize bytes) is refused outright.
//
// Never reads outside the datagram, whatever its bytes say.
std::optional<std::vector<uint8_t>> pblAcceptDatagram(std::span<const uint8_t> datagram);
