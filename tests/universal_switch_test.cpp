// Universal-switch commands received on a real socket on loopback: a BusPeer
// on port 6000 sends them to the program's port and captures the replies and
// lists the program broadcasts. Receive steps run on the GUI thread, either
// called directly once a datagram is waiting or handed over by the real
// receive thread.
#include "app/Settings.h"
#include "bus/Packet.h"
#include "bus/ReceiveSocket.h"
#include "bus/Socket.h"
#include "bus/ThreadUDPReceive.h"
#include "commands/Dispatch.h"
#include "platform/Pause.h"
#include "playback/PlayerStateLists.h"
#include "playback/PublicVariable.h"
#include "playback/RunShow.h"
#include "playback/ShowModel.h"
#include "store/Database.h"
#include "support/BusPeer.h"
#include "support/FakePlayer.h"
#include "support/MessageRecorder.h"
#include "support/ShowListBus.h"
#include "support/TempProgramFolder.h"

#include <QLabel>
#include <QPointer>
#include <QTest>
#include <QThread>
#include <QTreeWidget>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <poll.h>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t OwnSubnet = 1;
constexpr uint8_t OwnDevice = 250;
constexpr uint8_t StopListDevice = 31;

// A universal-switch command as a device on the bus frames it.
struct SwitchCommand {
    uint8_t number = 3;
    uint8_t status = 255;
    uint8_t sourceSubnet = 2;
    uint8_t sourceDevice = 9;
    uint8_t targetSubnet = OwnSubnet;
    uint8_t targetDevice = OwnDevice;
    uint16_t opcode = 0xE01C;
    const char* magic = "ZEVIZARERE";
    uint8_t secondLead = 0xAA;
    bool longPacket = false;
    bool badCRC = false;
    size_t padTo = 0; // zero bytes after the CRC up to this datagram length
};

Bytes Frame(const SwitchCommand& c) {
    Bytes d = {127, 0, 0, 1};
    for (int i = 0; i < 10; ++i)
        d.push_back(static_cast<uint8_t>(c.magic[i]));
    d.push_back(0xAA);
    d.push_back(c.secondLead);
    const size_t body = d.size();
    // A panel's own device type; the program does not look at it.
    d.insert(d.end(), {static_cast<uint8_t>(c.longPacket ? 0xFF : 2 + 11), c.sourceSubnet,
                       c.sourceDevice, 0x01, 0x2C, static_cast<uint8_t>(c.opcode >> 8),
                       static_cast<uint8_t>(c.opcode & 0xFF), c.targetSubnet, c.targetDevice,
                       c.number, c.status});
    uint16_t crc = CRC16(d.data() + body, d.size() - body);
    if (c.badCRC || c.longPacket)
        crc ^= 0x0100; // a long packet's CRC is not checked: make it wrong
    d.push_back(static_cast<uint8_t>(crc >> 8));
    d.push_back(static_cast<uint8_t>(crc & 0xFF));
    if (d.size() < c.padTo)
        d.resize(c.padTo, 0);
    return d;
}

// What the program broadcast, after the acceptance rules.
struct Sent {
    uint16_t opcode = 0;
    uint8_t targetSubnet = 0;
    uint8_t targetDevice = 0;
    Bytes payload;
    bool operator==(const Sent&) const = default;
};

// The opcode, target and payload of an accepted body.
Sent Parse(const Bytes& b) {
    return {static_cast<uint16_t>(b[5] << 8 | b[6]), b[7], b[8], Bytes(b.begin() + 9, b.end() - 2)};
}

Sent Reply(uint8_t subnet, uint8_t device, uint8_t number, uint8_t status) {
    return {0xE01D, subnet, device, {number, status}};
}
Sent StopListCommand() {
    return {0x0002, 1, StopListDevice, {1, 100}};
}

std::ostream& operator<<(std::ostream& os, const Sent& s) {
    os << std::hex << "{op " << s.opcode << " to " << int(s.targetSubnet) << "/"
       << int(s.targetDevice) << " payload";
    for (uint8_t b : s.payload)
        os << " " << int(b);
    return os << "}" << std::dec;
}

bool SocketReadable(int timeoutMs) {
    pollfd p{pblSocketDescriptor(), POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) > 0 && (p.revents & POLLIN);
}

class UniversalSwitchTest : public ShowListBusTest {
  protected:
    void SetUp() override {
        ShowListBusTest::SetUp();
        if (HasFatalFailure())
            return;
        PlayingShowID = -1;
        OwnSubnetID = OwnSubnet;
        OwnDeviceID = OwnDevice;
        // A on switch 5; B and C both on switch 3 (B first in list order);
        // D's binding to switch 7 is not activated; E plays A's media on switch 8.
        folder.execSql(
            "insert into Show values(1, 10, 1, 5);"
            "insert into Show values(2, 20, 1, 3);"
            "insert into Show values(3, 30, 1, 3);"
            "insert into Show values(4, 40, 0, 7);"
            "insert into Show values(5, 50, 1, 8);"
            "insert into TimePoint(ShowID,TimePointID,SecondOfTimePoint) values(2,1,2);"
            "insert into TimePoint(ShowID,TimePointID,SecondOfTimePoint) values(2,2,4);"
            "insert into CommandsForStop(CommandID,SequenceNo,SubnetID,DeviceID,CommandTypeID,"
            "FirstParameter,SecondParameter,ThirdParameter,DelayMS) values(1,1,1,31,0,1,100,0,0)");
        folder.writeFile("Database/Show.ini", "[1]\r\nShowName=A\r\nURL=/media/a.webm\r\n"
                                              "[2]\r\nShowName=B\r\nURL=/media/b.webm\r\n"
                                              "[3]\r\nShowName=C\r\nURL=/media/c.webm\r\n"
                                              "[4]\r\nShowName=D\r\nURL=/media/d.webm\r\n"
                                              "[5]\r\nShowName=E\r\nURL=/media/a.webm\r\n");
        OpenShowList();
        if (HasFatalFailure())
            return;
        ASSERT_EQ(Shows.size(), 5u);
        // Wired as the main window wires the player.
        QObject::connect(
            &player, &IPlayer::PlayStateChange, &list,
            [this](int state) { wmpPlayStateChange(&player, state); }, Qt::QueuedConnection);

        SetPauseHandler([](int) {});
    }

    // Sends the datagram to the program and runs one receive step once it has
    // arrived, then lets the player's reports through.
    void Deliver(const Bytes& datagram) {
        ASSERT_TRUE(peer.send(datagram, pblBoundPort()));
        ASSERT_TRUE(SocketReadable(2000)) << "the datagram never reached the program";
        ReceiveStep(&list, &player);
        Settle();
    }
    void Deliver(const SwitchCommand& c) { Deliver(Frame(c)); }

    // Delivers the player's queued reports and whatever they queue in turn.
    static void Settle() {
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
    }

    // Starts show `row` from the list, as a user would, and settles.
    void StartFromList(int row) {
        list.setCurrentItem(list.topLevelItem(row));
        ASSERT_TRUE(
            QTest::qWaitFor([this] { return player.PlayState() == IPlayer::psPlaying; }, 5000));
        Settle();
        Broadcast();
        player.calls.clear();
    }

    // Everything the program broadcast since the last call, in order.
    std::vector<Sent> Broadcast() {
        std::vector<Sent> out;
        for (const Bytes& b : SentBodiesUntilMarker(peer)) {
            EXPECT_EQ(b[1], OwnSubnet);
            EXPECT_EQ(b[2], OwnDevice);
            out.push_back(Parse(b));
        }
        return out;
    }

    QString SelectedShowID() const {
        const auto items = list.selectedItems();
        return items.size() == 1 ? items[0]->text(1) : QString("<%1 selected>").arg(items.size());
    }
};

using UniversalSwitch = UniversalSwitchTest;

TEST_F(UniversalSwitch, SwitchOnStartsTheBoundShowThenPlaysThenSwitchOffStops) {
    StartFromList(0); // A plays

    Deliver(SwitchCommand{.number = 3, .status = 255});
    EXPECT_EQ(SelectedShowID(), "2") << "B is first on switch 3; C is not chosen";
    EXPECT_EQ(CurrentShowIndex, 1);
    EXPECT_EQ(PlayingShowID, 2);
    EXPECT_EQ(Shows[1].TimePoints.size(), 2u);
    EXPECT_EQ(player.URL(), "/media/b.webm");
    EXPECT_EQ(player.PlayState(), IPlayer::psPlaying);
    EXPECT_EQ(player.calls.first(), "SetURL:/media/b.webm");
    EXPECT_EQ(player.calls.last(), "Play");
    EXPECT_EQ(Broadcast(), std::vector<Sent>{Reply(2, 9, 3, 255)});

    // Again while B plays: only a play request, and a second reply.
    player.calls.clear();
    Deliver(SwitchCommand{.number = 3, .status = 1, .sourceSubnet = 7, .sourceDevice = 33});
    EXPECT_EQ(player.calls, QStringList{"Play"});
    EXPECT_EQ(PlayingShowID, 2);
    EXPECT_EQ(Broadcast(), std::vector<Sent>{Reply(7, 33, 3, 1)});

    // Off: the player stops, which sends the Stop list after the reply.
    player.calls.clear();
    Deliver(SwitchCommand{.number = 3, .status = 0});
    EXPECT_EQ(player.calls, QStringList{"Stop"});
    EXPECT_EQ(player.PlayState(), IPlayer::psStopped);
    EXPECT_EQ(Broadcast(), (std::vector<Sent>{Reply(2, 9, 3, 0), StopListCommand()}));
}

// Status 0 stops whatever plays, even when the bound show is another one.
TEST_F(UniversalSwitch, SwitchOffStopsWhateverPlays) {
    StartFromList(0);
    Deliver(SwitchCommand{.number = 3, .status = 0});
    EXPECT_EQ(player.calls, QStringList{"Stop"});
    EXPECT_EQ(PlayingShowID, 1);
    EXPECT_EQ(SelectedShowID(), "1");
    EXPECT_EQ(Broadcast(), (std::vector<Sent>{Reply(2, 9, 3, 0), StopListCommand()}));
}

TEST_F(UniversalSwitch, FirstActivatedShowOnTheSwitchWins) {
    folder.execSql("update Show set ActivedUniversalSwitch=0 where ShowID=2");
    RefreshShowList(&list, &total);
    StartFromList(0);
    Deliver(SwitchCommand{.number = 3});
    EXPECT_EQ(SelectedShowID(), "3");
    EXPECT_EQ(PlayingShowID, 3);
    EXPECT_EQ(Broadcast(), std::vector<Sent>{Reply(2, 9, 3, 255)});
}

// E is selected already (its media are A's, so selecting it loaded nothing):
// selecting it again starts nothing, and the play request resumes A's media.
TEST_F(UniversalSwitch, AlreadySelectedShowOnlyResumes) {
    StartFromList(0);
    list.setCurrentItem(list.topLevelItem(4));
    ASSERT_EQ(CurrentShowIndex, 4);
    ASSERT_EQ(PlayingShowID, 1);
    player.Pause();
    Settle();
    player.calls.clear();
    Deliver(SwitchCommand{.number = 8});
    EXPECT_EQ(player.calls, QStringList{"Play"});
    EXPECT_EQ(player.PlayState(), IPlayer::psPlaying);
    EXPECT_EQ(PlayingShowID, 1);
    EXPECT_EQ(Broadcast(), std::vector<Sent>{Reply(2, 9, 8, 255)});
}

TEST_F(UniversalSwitch, IgnoredCommandsChangeNothingAndGetNoReply) {
    const auto truncated = [] {
        Bytes d = Frame(SwitchCommand{});
        d.resize(26);
        return d;
    };
    const struct {
        const char* name;
        Bytes datagram;
    } cases[] = {
        {"binding not activated", Frame(SwitchCommand{.number = 7})},
        {"no show on the switch", Frame(SwitchCommand{.number = 9})},
        {"another device ID", Frame(SwitchCommand{.targetDevice = OwnDevice + 1})},
        {"another subnet ID", Frame(SwitchCommand{.targetSubnet = OwnSubnet + 1})},
        {"another opcode (a reply)", Frame(SwitchCommand{.opcode = 0xE01D})},
        {"another opcode (scene)", Frame(SwitchCommand{.opcode = 0x0002})},
        {"bad CRC", Frame(SwitchCommand{.badCRC = true})},
        {"second lead byte neither 0xAA nor 0x55", Frame(SwitchCommand{.secondLead = 0x56})},
        {"26 bytes", truncated()},
        {"longer than the receive buffer",
         Frame(SwitchCommand{.longPacket = true, .padTo = UDPReceiveBufferSize + 1})},
        {"empty datagram", Bytes{}},
    };
    StartFromList(0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Deliver(c.datagram);
        EXPECT_TRUE(player.calls.isEmpty()) << player.calls.join(",").toStdString();
        EXPECT_EQ(SelectedShowID(), "1");
        EXPECT_EQ(PlayingShowID, 1);
        EXPECT_TRUE(Broadcast().empty());
    }
    // Every one of them was taken off the socket.
    EXPECT_FALSE(SocketReadable(0));
}

TEST_F(UniversalSwitch, UnusualFramingsAreAccepted) {
    const struct {
        const char* name;
        SwitchCommand command;
    } cases[] = {
        {"long packet, CRC not checked", SwitchCommand{.longPacket = true}},
        {"long packet filling the receive buffer",
         SwitchCommand{.longPacket = true, .padTo = UDPReceiveBufferSize}},
        {"unknown magic", SwitchCommand{.magic = "NOTAMAGIC!"}},
        {"newer generation's magic", SwitchCommand{.magic = "QUARTZLINK"}},
        {"second lead byte 0x55", SwitchCommand{.secondLead = 0x55}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        StartFromList(0);
        Deliver(c.command);
        EXPECT_EQ(SelectedShowID(), "2");
        EXPECT_EQ(PlayingShowID, 2);
        EXPECT_EQ(Broadcast(), std::vector<Sent>{Reply(2, 9, 3, 255)});
    }
}

// Whatever the acceptance rules let through, a body too short to hold the
// switch number and status is ignored, not read past its end.
TEST_F(UniversalSwitch, ShortBodyIsIgnored) {
    StartFromList(0);
    const Bytes datagram = Frame(SwitchCommand{.number = 3, .status = 0});
    const Bytes body(datagram.begin() + 16, datagram.end() - 2);
    ASSERT_EQ(body.size(), 11u);
    for (size_t length = 0; length < body.size(); ++length) {
        SCOPED_TRACE(length);
        // Exactly sized, so that a read past the end shows under AddressSanitizer.
        const Bytes cut(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(length));
        HandleUniversalSwitch(cut.data(), cut.size(), &list, &player);
    }
    EXPECT_TRUE(player.calls.isEmpty());
    EXPECT_TRUE(Broadcast().empty());
    HandleUniversalSwitch(body.data(), body.size(), &list, &player);
    EXPECT_EQ(player.calls, QStringList{"Stop"});
}

TEST_F(UniversalSwitch, NothingWithoutShows) {
    Shows.clear();
    Deliver(SwitchCommand{});
    EXPECT_TRUE(player.calls.isEmpty());
    EXPECT_TRUE(Broadcast().empty());
}

TEST_F(UniversalSwitch, NothingOnceClosing) {
    StartFromList(0);
    AppClosing = true;
    Deliver(SwitchCommand{.number = 3, .status = 0});
    const Bytes datagram = Frame(SwitchCommand{.number = 3, .status = 0});
    const Bytes body(datagram.begin() + 16, datagram.end());
    HandleUniversalSwitch(body.data(), body.size(), &list, &player);
    EXPECT_TRUE(player.calls.isEmpty());
    EXPECT_EQ(player.PlayState(), IPlayer::psPlaying);
    EXPECT_TRUE(Broadcast().empty());
    uint8_t buf[UDPReceiveBufferSize];
    while (pblRecvFrom(buf, sizeof buf, nullptr) > 0) {
    }
}

// Waiting datagrams are taken one per step, in arrival order.
TEST_F(UniversalSwitch, OneDatagramPerStep) {
    StartFromList(0);
    for (uint8_t source : {11, 12, 13})
        ASSERT_TRUE(
            peer.send(Frame(SwitchCommand{.number = 5, .sourceDevice = source}), pblBoundPort()));
    ASSERT_TRUE(SocketReadable(2000));
    // Loopback delivers at once; this only makes sure the last one is in.
    QTest::qWait(100);
    for (uint8_t source : {11, 12, 13}) {
        SCOPED_TRACE(int(source));
        ReceiveStep(&list, &player);
        EXPECT_EQ(Broadcast(), std::vector<Sent>{Reply(2, source, 5, 255)});
    }
    ReceiveStep(&list, &player);
    EXPECT_TRUE(Broadcast().empty());
}

// ---- The receive thread ----------------------------------------------------------------

using ReceiveThread = UniversalSwitchTest;

TEST_F(ReceiveThread, HandsStepsToTheGuiThreadOneAtATime) {
    QObject context;
    std::atomic<int> steps = 0;
    bool offGuiThread = false;
    bool overlapped = false;
    bool inStep = false;
    QPointer<TthreadUDPReceive> thread = new TthreadUDPReceive(&context, [&] {
        ++steps;
        offGuiThread = offGuiThread || QThread::currentThread() != qApp->thread();
        overlapped = overlapped || inStep;
        inStep = true;
        ReceiveStep(&list, &player);
        inStep = false;
    });
    thread->start();

    // Idle: no datagram, no step.
    QTest::qWait(300);
    EXPECT_EQ(steps.load(), 0);
    peer.drain(); // whatever others on port 6000 sent meanwhile

    StartFromList(0);
    std::vector<Sent> expected, seen;
    for (uint8_t source = 20; source < 26; ++source) {
        ASSERT_TRUE(
            peer.send(Frame(SwitchCommand{.number = 5, .sourceDevice = source}), pblBoundPort()));
        expected.push_back(Reply(2, source, 5, 255));
    }
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            while (const auto d = peer.receiveFrom(pblBoundPort(), 0)) {
                if (const auto body = pblAcceptDatagram(d->bytes))
                    seen.push_back(Parse(*body));
            }
            return seen.size() >= expected.size();
        },
        10000));
    EXPECT_EQ(seen, expected) << "one reply per datagram, in arrival order";
    EXPECT_GE(steps.load(), 6);
    EXPECT_FALSE(offGuiThread);
    EXPECT_FALSE(overlapped);

    thread->requestInterruption();
    EXPECT_TRUE(thread->wait(10000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return thread.isNull(); }, 5000))
        << "the thread deletes itself when it ends";
}

// The exit sequence asks the thread to stop and may then wait for it on the
// GUI thread, while a step the thread handed over is still waiting to run.
TEST_F(ReceiveThread, StopsPromptlyWhileTheGuiThreadIsBlocked) {
    const struct {
        const char* name;
        bool socketOpen;
        bool datagramsWhileBlocked;
    } cases[] = {
        {"idle socket", true, false},
        {"no socket", false, false},
        {"GUI thread blocked in a pause while datagrams arrive", true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.socketOpen)
            pblCloseUDP();
        QObject context;
        int steps = 0;
        QPointer<TthreadUDPReceive> thread = new TthreadUDPReceive(&context, [&] {
            ++steps;
            ReceiveStep(&list, &player);
        });
        thread->start();
        QTest::qWait(50);

        bool ended = false;
        // The pause of a sent command blocks the GUI thread; the exit's wait
        // happens inside it, so no event is processed meanwhile.
        SetPauseHandler([&](int) {
            if (c.datagramsWhileBlocked) {
                for (uint8_t n = 0; n < 3; ++n)
                    peer.send(Frame(SwitchCommand{.number = 5}), pblBoundPort());
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
            }
            thread->requestInterruption();
            ended = thread->wait(10000);
        });
        RunCommandList({TControlObject{}}, false);
        SetPauseHandler([](int) {});
        EXPECT_TRUE(ended) << "the thread did not end while the GUI thread waited";
        EXPECT_EQ(steps, 0) << "no step ran while the GUI thread was blocked";
        peer.drain(); // whatever others on port 6000 sent meanwhile
        // A step handed over before the stop may still run now; it must do no harm.
        EXPECT_TRUE(QTest::qWaitFor([&] { return thread.isNull(); }, 5000));
        if (thread) {
            thread->requestInterruption();
            thread->wait(10000);
        }
        if (!c.socketOpen)
            ASSERT_TRUE(pblInitUDP("127.0.0.1", 0, false));
        uint8_t buf[UDPReceiveBufferSize];
        while (pblRecvFrom(buf, sizeof buf, nullptr) > 0) {
        }
        Broadcast();
    }
}

} // namespace
