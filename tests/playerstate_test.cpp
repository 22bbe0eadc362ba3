// The command lists sent when the player plays, pauses or stops: read from a
// real database each time, sent in SequenceNo order with their pauses, and
// captured on the wire by a BusPeer.
#include "bus/Packet.h"
#include "bus/Socket.h"
#include "platform/Pause.h"
#include "playback/PlayerStateLists.h"
#include "playback/PublicVariable.h"
#include "store/Database.h"
#include "support/BusPeer.h"
#include "support/FakePlayer.h"
#include "support/LoopbackBus.h"
#include "support/MessageRecorder.h"
#include "support/TempProgramFolder.h"

#include <QTest>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

// A kind-0 command whose device ID tells the list (1x Play, 2x Pause, 3x
// Stop) and its place in it.
QString ListRow(const char* table, int commandID, int sequenceNo, int tag, const char* delayMS) {
    return QString("insert into %1(CommandID,SequenceNo,SubnetID,DeviceID,CommandTypeID,"
                   "FirstParameter,SecondParameter,ThirdParameter,DelayMS) "
                   "values(%2,%3,1,%4,0,%2,100,0,%5);")
        .arg(table)
        .arg(commandID)
        .arg(sequenceNo)
        .arg(tag)
        .arg(delayMS);
}

class PlayerStateTest : public LoopbackBusTest {
  protected:
    void SetUp() override {
        LoopbackBusTest::SetUp();
        if (HasFatalFailure())
            return;
        // Inserted out of order: only SequenceNo decides. NULL DelayMS reads as 0.
        folder.execSql(ListRow("CommandsForPlay", 1, 30, 13, "-10") +
                       ListRow("CommandsForPlay", 2, 10, 11, "0") +
                       ListRow("CommandsForPlay", 3, 20, 12, "500") +
                       ListRow("CommandsForPause", 1, 2, 22, "NULL") +
                       ListRow("CommandsForPause", 2, 1, 21, "7") +
                       ListRow("CommandsForStop", 1, 1, 31, "1"));
        ASSERT_TRUE(pblConnectDB(folder.dbPath()));
        SetPauseHandler([this](int ms) {
            pauses.push_back(ms);
            fullScreenDuringList = fullScreenDuringList || player.FullScreen();
            if (onPause)
                onPause(static_cast<int>(pauses.size()));
        });
    }
    void TearDown() override {
        SetPauseHandler({});
        LoopbackBusTest::TearDown();
        pblDisconnectDB();
        ResetPublicVariables();
        EXPECT_TRUE(messages.messages.empty()) << messages.texts().join("; ").toStdString();
    }

    // The program never changes tables while it runs; a file whose tables were
    // changed is met at the next start, on a fresh connection.
    void ChangeSchema(const QString& statements) {
        pblDisconnectDB();
        folder.execSql(statements);
        ASSERT_TRUE(pblConnectDB(folder.dbPath()));
    }

    // The device IDs of everything sent since the last call, in order.
    std::vector<int> Sent() {
        std::vector<int> tags;
        for (const std::vector<uint8_t>& body : SentBodiesUntilMarker(peer))
            tags.push_back(body[8]);
        return tags;
    }

    TempProgramFolder folder;
    MessageRecorder messages;
    FakePlayer player;
    std::vector<int> pauses;
    bool fullScreenDuringList = false;
    std::function<void(int)> onPause;
};

TEST_F(PlayerStateTest, EachStateSendsItsListInSequenceOrder) {
    const struct {
        int state;
        std::vector<int> sent;
        std::vector<int> pauses;
        bool fullScreen;
    } cases[] = {
        // DelayMS 0, 500 and -10 pause 50, 500 and 50 ms.
        {IPlayer::psPlaying, {11, 12, 13}, {50, 500, 50}, true},
        {IPlayer::psPaused, {21, 22}, {7, 50}, false},
        {IPlayer::psStopped, {31}, {1}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.state);
        pauses.clear();
        player.calls.clear();
        fullScreenDuringList = false;
        wmpPlayStateChange(&player, c.state);
        EXPECT_EQ(Sent(), c.sent);
        EXPECT_EQ(pauses, c.pauses);
        EXPECT_FALSE(fullScreenDuringList) << "full screen comes after the list";
        EXPECT_EQ(player.calls, c.fullScreen ? QStringList{"SetFullScreen:1"} : QStringList{});
        player.SimulateFullScreen(false);
    }
}

// With the real pause the packets are spaced on the wire by at least their pauses.
TEST_F(PlayerStateTest, RealPausesSpaceThePlayList) {
    SetPauseHandler({});
    // Read while the GUI thread pauses, so that other traffic on port 6000
    // cannot fill the peer's buffer in the meantime.
    const uint16_t port = pblBoundPort();
    std::vector<ReceivedDatagram> packets;
    std::thread reader([&] {
        for (int i = 0; i < 3; ++i) {
            auto d = peer.receiveFrom(port, 5000);
            if (!d)
                return;
            packets.push_back(*d);
        }
    });
    const auto started = std::chrono::steady_clock::now();
    wmpPlayStateChange(&player, IPlayer::psPlaying);
    const auto finished = std::chrono::steady_clock::now();
    reader.join();
    EXPECT_GE(finished - started, std::chrono::milliseconds(50 + 500 + 50));
    ASSERT_EQ(packets.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        const auto body = pblAcceptDatagram(packets[i].bytes);
        ASSERT_TRUE(body);
        EXPECT_EQ((*body)[8], 11 + i) << "SequenceNo order";
    }
    EXPECT_GE(packets[1].arrival - packets[0].arrival, std::chrono::milliseconds(50));
    EXPECT_GE(packets[2].arrival - packets[1].arrival, std::chrono::milliseconds(500));
    EXPECT_EQ(player.calls, QStringList{"SetFullScreen:1"});
}

TEST_F(PlayerStateTest, OtherStatesSendNothing) {
    for (int state : {0, 4, 5, 6, 7, 8, 9, 10, -1, 259}) {
        SCOPED_TRACE(state);
        wmpPlayStateChange(&player, state);
        SendPlayerStateCommands(state);
        EXPECT_TRUE(Sent().empty());
    }
    EXPECT_TRUE(pauses.empty());
    EXPECT_TRUE(player.calls.isEmpty());
}

// Leaving full screen while playing lasts until the next change to Playing.
TEST_F(PlayerStateTest, FullScreenOnlyWhenNotAlready) {
    wmpPlayStateChange(&player, IPlayer::psPlaying);
    wmpPlayStateChange(&player, IPlayer::psPlaying);
    EXPECT_EQ(player.calls, QStringList{"SetFullScreen:1"});
    player.SimulateFullScreen(false);
    wmpPlayStateChange(&player, IPlayer::psPaused);
    EXPECT_FALSE(player.FullScreen());
    wmpPlayStateChange(&player, IPlayer::psPlaying);
    EXPECT_EQ(player.calls, (QStringList{"SetFullScreen:1", "SetFullScreen:1"}));
    Sent();
}

// The player's own changes arrive queued on the GUI thread, as the main window
// receives them.
TEST_F(PlayerStateTest, PlayerReportsDriveTheLists) {
    QObject::connect(&player, &IPlayer::PlayStateChange,
                     [this](int state) { wmpPlayStateChange(&player, state); });
    player.SetURL("/media/show.webm"); // Transitioning, then Playing
    player.Pause();
    player.Play();
    player.Stop();
    player.SimulateStateChange(IPlayer::psMediaEnded);
    EXPECT_TRUE(pauses.empty()) << "nothing is sent before the reports are delivered";
    ASSERT_TRUE(QTest::qWaitFor([this] { return pauses.size() >= 6u; }, 5000));
    // Transitioning and Media Ended send nothing.
    EXPECT_EQ(Sent(), (std::vector<int>{21, 22, 11, 12, 13, 31}));
}

TEST_F(PlayerStateTest, ListsAreReadAfreshEachTime) {
    wmpPlayStateChange(&player, IPlayer::psStopped);
    EXPECT_EQ(Sent(), (std::vector<int>{31}));
    folder.execSql(ListRow("CommandsForStop", 2, 0, 30, "0") +
                   "update CommandsForStop set DeviceID=77 where CommandID=1");
    wmpPlayStateChange(&player, IPlayer::psStopped);
    EXPECT_EQ(Sent(), (std::vector<int>{30, 77}));
}

TEST_F(PlayerStateTest, NothingOnceClosing) {
    AppClosing = true;
    for (int state : {1, 2, 3})
        wmpPlayStateChange(&player, state);
    EXPECT_TRUE(Sent().empty());
    EXPECT_TRUE(pauses.empty());
    EXPECT_TRUE(player.calls.isEmpty()) << "no full screen either";
}

TEST_F(PlayerStateTest, ClosingDuringTheListSkipsTheRest) {
    onPause = [](int count) {
        if (count == 2)
            AppClosing = true;
    };
    wmpPlayStateChange(&player, IPlayer::psPlaying);
    EXPECT_EQ(Sent(), (std::vector<int>{11, 12}));
    EXPECT_EQ(pauses, (std::vector<int>{50, 500})) << "the pause of a sent command is still taken";
    EXPECT_TRUE(player.calls.isEmpty()) << "no full screen while closing";
}

TEST_F(PlayerStateTest, EmptyOrMissingTableSendsNothingAndSaysNothing) {
    ChangeSchema("delete from CommandsForStop; drop table CommandsForPause");
    wmpPlayStateChange(&player, IPlayer::psStopped);
    wmpPlayStateChange(&player, IPlayer::psPaused);
    EXPECT_TRUE(Sent().empty());
    EXPECT_TRUE(pauses.empty());
    // The other lists still work, and no message was shown (checked on tear-down).
    wmpPlayStateChange(&player, IPlayer::psPlaying);
    EXPECT_EQ(Sent(), (std::vector<int>{11, 12, 13}));
}

// A row that cannot be read as a command (text in an integer column is
// impossible with these tables, so the table is replaced) ends the list
// quietly: the rows before it still go out, none after it.
TEST_F(PlayerStateTest, UnreadableRowEndsTheListQuietly) {
    ChangeSchema("drop table CommandsForStop;"
                 "create table CommandsForStop(CommandID integer, SequenceNo integer,"
                 "SubnetID text, DeviceID integer, CommandTypeID integer, FirstParameter integer,"
                 "SecondParameter integer, ThirdParameter integer, DelayMS integer);"
                 "insert into CommandsForStop values(1,1,1,31,0,1,2,0,0);"
                 "insert into CommandsForStop values(2,2,'one',32,0,1,2,0,0);"
                 "insert into CommandsForStop values(3,3,1,33,0,1,2,0,0)");
    wmpPlayStateChange(&player, IPlayer::psStopped);
    EXPECT_EQ(Sent(), std::vector<int>{31});
    EXPECT_TRUE(messages.messages.empty());
}

TEST_F(PlayerStateTest, NoDatabaseSendsNothing) {
    pblDisconnectDB();
    for (int state : {1, 2, 3})
        wmpPlayStateChange(&player, state);
    EXPECT_TRUE(Sent().empty());
    EXPECT_TRUE(pauses.empty());
}

} // namespace
