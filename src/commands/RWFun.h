#pragma once
// One sender per bus opcode: each builds its payload and frames it with
// pblSendBUF (never in the long form). An error inside a sender is shown in an
// error box with the error's message alone, and nothing is sent.
#include <cstdint>

// Payload p1, p2.
void SendCmd0002(uint8_t subnet, uint8_t device, uint8_t p1, uint8_t p2);
void SendCmd001A(uint8_t subnet, uint8_t device, uint8_t p1, uint8_t p2);
// Universal switch: switch number, switch status.
void SendCmdE01C(uint8_t subnet, uint8_t device, uint8_t p1, uint8_t p2);
// Curtain: curtain number, curtain status.
void SendCmdE3E0(uint8_t subnet, uint8_t device, uint8_t p1, uint8_t p2);
void SendCmdF116(uint8_t subnet, uint8_t device, uint8_t p1, uint8_t p2);
void SendCmdE3D4(uint8_t subnet, uint8_t device, uint8_t p1, uint8_t p2);
void SendCmdE3D8(uint8_t subnet, uint8_t device, uint8_t p1, uint8_t p2);
// Security mode: area, mode.
void SendCmd0104(uint8_t subnet, uint8_t device, uint8_t p1, uint8_t p2);

// Payload p1, p2, w high, w low (w is a running time in seconds).
void SendCmd0031(uint8_t subnet, uint8_t device, uint8_t p1, uint8_t p2, uint16_t w);

// Security alarm: payload p1, w high, w low, b1, b2.
void SendCmd010C(uint8_t subnet, uint8_t device, uint8_t p1, uint16_t w, uint8_t b1, uint8_t b2);

// The reply to a received universal-switch command (opcode 0xE01C + 1),
// sent to the command's source subnet and device.
void ReplyCmdE01D(uint8_t subnet, uint8_t device, uint8_t switchNumber, uint8_t status);
