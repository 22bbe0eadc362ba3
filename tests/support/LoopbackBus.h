#pragma once
// The program's socket on loopback and a BusPeer on port 6000 that captures
// what it broadcasts, for suites that check the program's packets on the wire.
// CTest gives a suite the port lock only when its own text names BusPeer, so
// a suite built on this fixture still says so.
#include "support/BusPeer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

// Clears the program's shared state and gives it the address 1/250 and the
// third generation's magic, as every suite on the bus starts.
void ResetBusState();

class LoopbackBusTest : public ::testing::Test {
  protected:
    // A suite that adds to SetUp calls it first and returns on
    // HasFatalFailure(); the base TearDown closes the program's socket.
    void SetUp() override;
    void TearDown() override;

    BusPeer peer;
};

// The marker: kind 0 to 1/99 with the payload 0 0, which no test sends for
// any other reason. Once it arrives, everything the program's socket sent
// before it has arrived too.
constexpr uint8_t MarkerSubnet = 1;
constexpr uint8_t MarkerDevice = 99;
void SendMarker();
// True for the body (as pblAcceptDatagram gives it) of the marker.
bool IsMarker(const std::vector<uint8_t>& body);

// Sends the marker and returns, in order, the bodies (length byte through CRC,
// as a receiver accepts them) of everything the program's socket sent before
// it; packets from other sockets on port 6000 are passed over. A marker that
// does not come, or a packet a receiver would drop, is a test failure.
std::vector<std::vector<uint8_t>> SentBodiesUntilMarker(BusPeer& peer);
