#include "commands/RWFun.h"

#include "bus/BusError.h"
#include "bus/Packet.h"

#include <array>
#include <exception>
#include <string>

namespace {
template <size_t N>
void SendPayload(uint16_t opcode, uint8_t subnet, uint8_t device,
                 const std::array<uint8_t, N>& payload) {
    try {
        pblSendBUF(payload.data(), static_cast<int>(N), opcode, subnet, device, false);
    } catch (const std::exception& e) {
        ShowBusError(e.what());
    } catch (...) {
        ShowBusError("Unknown error");
    }
}

template <size_t N> using Payload = std::array<uint8_t, N>;

uint8_t Hi(uint16_t w) {
    return static_cast<uint8_t>(w >> 8);
}
uint8_t Lo(uint16_t w) {
    return static_cast<uint8_t>(w & 0xFF);
}
} // namespace

void SendCmd0002(uint8_t subnet, uint8_t device, uint8_t p1, uint8_t p2) {
    SendPayload(0x0002, subnet, device, Payload<2>{p1, p2});
}

void SendCmd001A(uint8_t subnet, uint8_t device, uint8_t p1, uint8_t p2) {
    SendPayload(0x001A, subnet, device, Payload<2>{p1, p2});
}

void SendCmdE01C(uint8_t subnet, uint8_t device, uint8_t p1, uint8_t p2) {
    SendPayload(0xE01C, subnet, device, Payload<2>{p1, p2});
}

void SendCmdE3E0(uint8_t subnet, uint8_t device, uint8_t p1, uint8_t p2) {
    SendPayload(0xE3E0, subnet, device, Payload<2>{p1, p2});
}

void SendCmdF116(uint8_t subnet, uint8_t device, uint8_t p1, uint8_t p2) {
    SendPayload(0xF116, subnet, device, Payload<2>{p1, p2});
}

void SendCmdE3D4(uint8_t subnet, uint8_t device, uint8_t p1, uint8_t p2) {
    SendPayload(0xE3D4, subnet, device, Payload<2>{p1, p2});
}

void SendCmdE3D8(uint8_t subnet, uint8_t device, uint8_t p1, uint8_t p2) {
    SendPayload(0xE3D8, subnet, device, Payload<2>{p1, p2});
}

void SendCmd0104(uint8_t subnet, uint8_t device, uint8_t p1, uint8_t p2) {
    SendPayload(0x0104, subnet, device, Payload<2>{p1, p2});
}

void SendCmd0031(uint8_t subnet, uint8_t device, uint8_t p1, uint8_t p2, uint16_t w) {
    SendPayload(0x0031, subnet, device, Payload<4>{p1, p2, Hi(w), Lo(w)});
}

void SendCmd010C(uint8_t subnet, uint8_t device, uint8_t p1, uint16_t w, uint8_t b1, uint8_t b2) {
    SendPayload(0x010C, subnet, device, Payload<5>{p1, Hi(w), Lo(w), b1, b2});
}

void ReplyCmdE01D(uint8_t subnet, uint8_t device, uint8_t switchNumber, uint8_t status) {
    SendPayload(0xE01C + 1, subnet, device, Payload<2>{switchNumber, status});
}
