#pragma once
// A device on the bus, for tests: a UDP socket bound to any address on port
// 6000 (shared with SO_REUSEADDR) that captures what the program broadcasts,
// and sends datagrams to the program on loopback only.
#include <QString>
#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

struct ReceivedDatagram {
    std::vector<uint8_t> bytes;
    // When the datagram reached the socket (taken from the kernel's receive
    // time stamp, so it stays right when the datagram is read late).
    std::chrono::steady_clock::time_point arrival;
    QString fromAddress;
    uint16_t fromPort = 0;
};

class BusPeer {
  public:
    explicit BusPeer(uint16_t port = 6000);
    ~BusPeer();
    BusPeer(const BusPeer&) = delete;
    BusPeer& operator=(const BusPeer&) = delete;

    // True when the socket is bound.
    bool ok() const { return fd_ >= 0; }

    // The next datagram, or nothing when none arrives within timeoutMs.
    std::optional<ReceivedDatagram> receive(int timeoutMs);
    // The next datagram sent from fromPort; others are skipped. Other programs
    // on this machine may broadcast to port 6000 too.
    std::optional<ReceivedDatagram> receiveFrom(uint16_t fromPort, int timeoutMs);

    // Drops everything waiting now.
    void drain();

    // Sends bytes to 127.0.0.1:port. False when the send failed.
    bool send(const std::vector<uint8_t>& bytes, uint16_t port);

  private:
    int fd_ = -1;
};
