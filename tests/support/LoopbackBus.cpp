#include "support/LoopbackBus.h"

#include "bus/Packet.h"
#include "bus/Socket.h"
#include "commands/RWFun.h"
#include "playback/PublicVariable.h"

void ResetBusState() {
    ResetPublicVariables();
    OwnSubnetID = 1;
    OwnDeviceID = 250;
    BusGeneration = 3;
}

void LoopbackBusTest::SetUp() {
    ResetBusState();
    // Port 0: any free port, so no other program's port is disturbed.
    ASSERT_TRUE(pblInitUDP("127.0.0.1", 0, false));
    // Nothing a test sends may leave the machine.
    ASSERT_EQ(BroadcastAddressFor(LocalIPOctets), "127.255.255.255");
    ASSERT_TRUE(peer.ok()) << "port 6000 is held without SO_REUSEADDR";
    peer.drain();
}

void LoopbackBusTest::TearDown() {
    pblCloseUDP();
}

void SendMarker() {
    SendCmd0002(MarkerSubnet, MarkerDevice, 0, 0);
}

bool IsMarker(const std::vector<uint8_t>& body) {
    return body.size() == 13 && body[5] == 0x00 && body[6] == 0x02 && body[7] == MarkerSubnet &&
           body[8] == MarkerDevice && body[9] == 0 && body[10] == 0;
}

std::vector<std::vector<uint8_t>> SentBodiesUntilMarker(BusPeer& peer) {
    SendMarker();
    std::vector<std::vector<uint8_t>> bodies;
    for (;;) {
        const auto d = peer.receiveFrom(pblBoundPort(), 2000);
        if (!d) {
            ADD_FAILURE() << "the marker packet never arrived";
            return bodies;
        }
        auto body = pblAcceptDatagram(d->bytes);
        if (!body) {
            ADD_FAILURE() << "the program sent a packet a receiver would drop";
            continue;
        }
        if (IsMarker(*body))
            return bodies;
        bodies.push_back(std::move(*body));
    }
}
