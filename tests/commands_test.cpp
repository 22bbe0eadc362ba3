// Command senders, the dispatcher and the list rule, checked on the wire: the
// program's socket broadcasts on loopback and a BusPeer captures each packet.
#include "bus/Packet.h"
#include "bus/Socket.h"
#include "commands/Dispatch.h"
#include "commands/RWFun.h"
#include "playback/PublicVariable.h"
#include "support/BusPeer.h"
#include "support/LoopbackBus.h"
#include "support/MessageRecorder.h"
#include "support/PauseRecorder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono;

// What one captured packet says, after the acceptance rules.
struct Sent {
    uint16_t opcode = 0;
    uint8_t targetSubnet = 0;
    uint8_t targetDevice = 0;
    Bytes payload;
    bool marker = false;
    steady_clock::time_point arrival;
};

// Reads an accepted body, checking its sender and length byte on the way.
Sent Parse(const Bytes& b) {
    EXPECT_EQ(b[1], OwnSubnetID);
    EXPECT_EQ(b[2], OwnDeviceID);
    EXPECT_EQ(b[0], b.size()) << "length byte";
    Sent s;
    s.opcode = static_cast<uint16_t>(b[5] << 8 | b[6]);
    s.targetSubnet = b[7];
    s.targetDevice = b[8];
    s.payload.assign(b.begin() + 9, b.end() - 2);
    s.marker = IsMarker(b);
    return s;
}

class CommandsFixture : public LoopbackBusTest {
  protected:
    void TearDown() override {
        LoopbackBusTest::TearDown();
        AppClosing = false;
        EXPECT_TRUE(messages.messages.empty()) << messages.texts().join("; ").toStdString();
    }

    // The next packet from the program's socket, checked as a receiver would.
    std::optional<Sent> Next(int timeoutMs = 2000) {
        const auto d = peer.receiveFrom(pblBoundPort(), timeoutMs);
        if (!d)
            return std::nullopt;
        const auto body = pblAcceptDatagram(d->bytes);
        EXPECT_TRUE(body) << "the program sent a packet a receiver would drop";
        if (!body)
            return std::nullopt;
        Sent s = Parse(*body);
        s.arrival = d->arrival;
        return s;
    }

    // The first payload byte of everything sent since the last call, in order.
    std::vector<uint16_t> FirstsSent() {
        std::vector<uint16_t> firsts;
        for (const Bytes& b : SentBodiesUntilMarker(peer))
            firsts.push_back(Parse(b).payload[0]);
        return firsts;
    }

    MessageRecorder messages;
};

// ---- Dispatch ---------------------------------------------------------------------

using CommandsDispatch = CommandsFixture;

TEST_F(CommandsDispatch, EveryKindSendsItsOpcodeAndPayload) {
    struct Case {
        const char* name;
        uint8_t kind;
        uint16_t first, second, third;
        std::optional<uint16_t> opcode; // nothing when the kind sends nothing
        Bytes payload;
    };
    const Case cases[] = {
        {"kind 0", 0, 1, 5, 9, 0x0002, {0x01, 0x05}},
        {"kind 0, First 300 keeps the low byte", 0, 300, 0x1FF, 0, 0x0002, {0x2C, 0xFF}},
        {"kind 1", 1, 2, 6, 9, 0x001A, {0x02, 0x06}},
        {"kind 2", 2, 3, 255, 9, 0xE01C, {0x03, 0xFF}},
        {"kind 3 sends nothing", 3, 1, 2, 3, std::nullopt, {}},
        {"kind 4 worked example", 4, 3, 100, 90, 0x0031, {0x03, 0x64, 0x00, 0x5A}},
        {"kind 4, Third is a big-endian word", 4, 3, 100, 0xABCD, 0x0031, {0x03, 0x64, 0xAB, 0xCD}},
        {"kind 5 forces 255", 5, 7, 4, 9, 0x0002, {0xFF, 0x04}},
        {"kind 6 worked example", 6, 3, 100, 90, 0x0031, {0xFF, 0x64, 0x00, 0x5A}},
        {"kind 7", 7, 4, 1, 9, 0xE3E0, {0x04, 0x01}},
        {"kind 8", 8, 5, 2, 9, 0xF116, {0x05, 0x02}},
        {"kind 9", 9, 6, 3, 9, 0xE3D4, {0x06, 0x03}},
        {"kind 10", 10, 7, 4, 9, 0xE3D8, {0x07, 0x04}},
        {"kind 11", 11, 8, 5, 9, 0x0104, {0x08, 0x05}},
        {"kind 12 worked example", 12, 1, 0x0102, 7, 0x010C, {0x01, 0x01, 0x02, 0x00, 0x07}},
        {"kind 12, Third keeps the low byte",
         12,
         2,
         0xFFEE,
         0x1234,
         0x010C,
         {0x02, 0xFF, 0xEE, 0x00, 0x34}},
        {"kind 13 sends nothing", 13, 1, 2, 3, std::nullopt, {}},
        {"kind 255 sends nothing", 255, 1, 2, 3, std::nullopt, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SendCommand(1, 20, c.kind, c.first, c.second, c.third);
        SendMarker();
        auto s = Next();
        ASSERT_TRUE(s);
        if (!c.opcode) {
            EXPECT_TRUE(s->marker) << "a packet was sent with opcode " << s->opcode;
            continue;
        }
        EXPECT_EQ(s->opcode, *c.opcode);
        EXPECT_EQ(s->targetSubnet, 1);
        EXPECT_EQ(s->targetDevice, 20);
        EXPECT_EQ(s->payload, c.payload);
        s = Next();
        ASSERT_TRUE(s);
        EXPECT_TRUE(s->marker) << "one command, one packet";
    }
}

TEST_F(CommandsDispatch, SendersPutEveryArgumentInItsPlace) {
    // The dispatcher always passes 0 as the fourth alarm byte; the sender does not.
    SendCmd010C(3, 4, 0x11, 0x2233, 0x44, 0x55);
    auto s = Next();
    ASSERT_TRUE(s);
    EXPECT_EQ(s->opcode, 0x010C);
    EXPECT_EQ(s->targetSubnet, 3);
    EXPECT_EQ(s->targetDevice, 4);
    EXPECT_EQ(s->payload, (Bytes{0x11, 0x22, 0x33, 0x44, 0x55}));

    SendCmd0031(5, 6, 0x01, 0x02, 0x0304);
    s = Next();
    ASSERT_TRUE(s);
    EXPECT_EQ(s->opcode, 0x0031);
    EXPECT_EQ(s->payload, (Bytes{0x01, 0x02, 0x03, 0x04}));
}

TEST_F(CommandsDispatch, UniversalSwitchReplyGoesToTheSender) {
    ReplyCmdE01D(2, 9, 4, 1);
    const auto s = Next();
    ASSERT_TRUE(s);
    EXPECT_EQ(s->opcode, 0xE01D);
    EXPECT_EQ(s->targetSubnet, 2);
    EXPECT_EQ(s->targetDevice, 9);
    EXPECT_EQ(s->payload, (Bytes{0x04, 0x01}));
}

// ---- The list rule ------------------------------------------------------------------

TControlObject Command(int sequenceNo, uint8_t kind, int32_t delayMS, uint8_t device = 20) {
    TControlObject c;
    c.SequenceNo = sequenceNo;
    c.SubnetID = 1;
    c.DeviceID = device;
    c.CommandTypeID = kind;
    c.FirstParameter = static_cast<uint16_t>(sequenceNo);
    c.SecondParameter = 0x10;
    c.DelayMS = delayMS;
    return c;
}

using CommandsList = CommandsFixture;

TEST_F(CommandsList, EachCommandIsFollowedByItsPauseEvenWhenItSendsNothing) {
    PauseRecorder pauses;
    const std::vector<TControlObject> list = {
        Command(1, 0, 0),       Command(2, 3, -10), Command(3, 1, 1000),
        Command(4, 13, 600000), Command(5, 0, 1),
    };
    RunCommandList(list, false);
    EXPECT_EQ(pauses.pauses, (std::vector<int>{50, 50, 1000, 600000, 1}));

    EXPECT_EQ(FirstsSent(), (std::vector<uint16_t>{1, 3, 5}))
        << "in list order, kinds 3 and 13 silent";
}

TEST_F(CommandsList, EmptyListSendsNothingAndDoesNotPause) {
    PauseRecorder pauses;
    RunCommandList({}, true);
    EXPECT_TRUE(pauses.pauses.empty());
    SendMarker();
    const auto s = Next();
    ASSERT_TRUE(s);
    EXPECT_TRUE(s->marker);
}

TEST_F(CommandsList, ClosingStopsTheListAfterThePauseWhenAsked) {
    struct Case {
        const char* name;
        bool stopWhenAppClosing;
        bool closingBeforeStart;
        int closeDuringPause; // 1-based pause after which AppClosing is set; 0 never
        std::vector<uint16_t> sent;
    };
    const Case cases[] = {
        {"stops after the second pause", true, false, 2, {1, 2}},
        {"already closing: the first command still goes", true, true, 0, {1}},
        {"timer lists ignore closing", false, true, 0, {1, 2, 3, 4}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AppClosing = c.closingBeforeStart;
        std::vector<int> pauses;
        SetPauseHandler([&](int ms) {
            pauses.push_back(ms);
            if (static_cast<int>(pauses.size()) == c.closeDuringPause)
                AppClosing = true;
        });
        RunCommandList({Command(1, 0, 0), Command(2, 0, 0), Command(3, 0, 0), Command(4, 0, 0)},
                       c.stopWhenAppClosing);
        SetPauseHandler({});
        AppClosing = false;
        EXPECT_EQ(pauses.size(), c.sent.size()) << "every sent command had its pause";

        EXPECT_EQ(FirstsSent(), c.sent);
    }
}

TEST_F(CommandsList, RealPausesSpaceThePacketsOnTheWire) {
    // SequenceNo order, with DelayMS 1000, 0 (50), 500 and -10 (50).
    const std::vector<TControlObject> list = {Command(1, 0, 1000), Command(2, 0, 0),
                                              Command(3, 0, 500), Command(4, 0, -10)};
    // The list runs on a thread of its own while this one takes the packets
    // off the wire as they come, so their arrival times are read at once and
    // do not depend on the wall clock (which the system may step meanwhile).
    const auto started = steady_clock::now();
    auto finished = started;
    std::thread sender([&] {
        RunCommandList(list, true);
        finished = steady_clock::now();
    });
    std::vector<Sent> sent;
    for (int i = 0; i < 4; ++i) {
        const auto s = Next(5000);
        if (!s)
            break;
        sent.push_back(*s);
    }
    sender.join();
    EXPECT_GE(finished - started, milliseconds(1000 + 50 + 500 + 50));
    ASSERT_EQ(sent.size(), 4u) << "packets missing";
    const int minimumGapMS[] = {1000, 50, 500};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(sent[i].payload[0], i + 1) << "SequenceNo order";
    for (int i = 0; i < 3; ++i) {
        const auto gap = duration_cast<microseconds>(sent[i + 1].arrival - sent[i].arrival);
        EXPECT_GE(gap, milliseconds(minimumGapMS[i]))
            << "gap after packet " << i + 1 << ": " << gap.count() << " us";
    }
}

} // namespace
