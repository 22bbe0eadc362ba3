#pragma once
// Opening a test socket the way another program on this machine would.
#include <cstdint>
#include <vector>

// A SOL_SOCKET option and its value.
struct SocketOption {
    int name;
    int value;
};

// A UDP socket bound to any address on port (0: a free one), with the options
// set before the bind, so that SO_REUSEADDR counts and nothing arrives before
// the rest are in place. The descriptor, or -1 when the socket cannot be made
// or bound.
int BindUdpSocket(uint16_t port, bool nonBlocking, const std::vector<SocketOption>& options);
