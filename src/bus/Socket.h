#pragma once
// The one UDP socket of the program: bound to any address on the configured
// port (so that broadcasts arrive), non-blocking, allowed to broadcast. Every
// packet goes to port 6000 at the broadcast address derived from the local
// address. Used on the GUI thread only.
#include <QString>
#include <array>
#include <cstdint>

// Every packet is sent to this port, whatever port the socket is bound to.
constexpr uint16_t BusDestinationPort = 6000;

// Set by the first successful pblInitUDP; never cleared.
extern bool SocketOpened;
// The local address as dotted text and as four octets, first octet first. The
// octets go into every datagram header and pick the broadcast destination.
extern QString LocalIPString;
extern std::array<uint8_t, 4> LocalIPOctets;

// Opens the socket on port (any address) and makes localAddress the local
// address (LocalIPString and LocalIPOctets). False when localAddress is not a
// dotted IPv4 address or the port cannot be bound (for example because another
// socket holds it); with showError the application box "Fail to initialize UDP
// socket!" is shown then. A socket that is open already is closed first.
bool pblInitUDP(const QString& localAddress, uint16_t port, bool showError);

// Closes the socket; does nothing when none is open.
void pblCloseUDP();

// Sends len bytes to the broadcast address of LocalIPOctets, port 6000. Does
// nothing without an open socket; send errors are not reported.
void pblBroadcastSend(const uint8_t* data, int len);

// The broadcast destination for a local address: a.255.255.255 for a first
// octet below 128, a.b.255.255 below 192, else a.b.c.255.
QString BroadcastAddressFor(const std::array<uint8_t, 4>& octets);

// Splits dotted text at "." and keeps the low 8 bits of each part; parts that
// are missing or not numbers give 0.
std::array<uint8_t, 4> IPOctetsFromString(const QString& address);

// Takes one waiting datagram into buf without blocking. Returns its length, or
// 0 / -1 when nothing is waiting, no socket is open, or the datagram was longer
// than cap (such a datagram is discarded whole). fromAddress (may be null)
// receives the sender's dotted address.
int pblRecvFrom(uint8_t* buf, int cap, QString* fromAddress);

// The socket descriptor for poll(), or -1 when no socket is open. The one
// call that may come from another thread (the receive thread's wait).
int pblSocketDescriptor();

// The port the open socket is bound to (useful after binding port 0), or 0.
uint16_t pblBoundPort();
