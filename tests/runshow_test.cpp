// Starting shows from the show list and firing their time points, with a real
// database, the scripted player, and every command captured on the wire by a
// BusPeer. Ticks are driven by hand at chosen positions; a pause handler
// stands in for time passing while a command's pause blocks the GUI thread.
#include "app/Settings.h"
#include "platform/Pause.h"
#include "playback/PublicVariable.h"
#include "playback/RunShow.h"
#include "playback/ShowModel.h"
#include "store/Database.h"
#include "support/BusPeer.h"
#include "support/FakePlayer.h"
#include "support/MessageRecorder.h"
#include "support/ShowListBus.h"
#include "support/TempProgramFolder.h"

#include <QApplication>
#include <QLabel>
#include <QTest>
#include <QTreeWidget>
#include <functional>
#include <gtest/gtest.h>
#include <vector>

namespace {

// Every command in this suite is kind 0 to subnet 1 with its tag as device ID,
// so a captured packet tells which time point sent it.
QString CommandRow(int show, int timePoint, int command, int sequenceNo, int tag, int delayMS) {
    return QString("insert into CommandsForShow(ShowID,TimePointID,CommandID,SequenceNo,SubnetID,"
                   "DeviceID,CommandTypeID,FirstParameter,SecondParameter,ThirdParameter,DelayMS)"
                   " values(%1,%2,%3,%4,1,%5,0,1,100,0,%6);")
        .arg(show)
        .arg(timePoint)
        .arg(command)
        .arg(sequenceNo)
        .arg(tag)
        .arg(delayMS);
}

QString TimePointRow(int show, int timePoint, int second) {
    return QString("insert into TimePoint(ShowID,TimePointID,SecondOfTimePoint) values(%1,%2,%3);")
        .arg(show)
        .arg(timePoint)
        .arg(second);
}

TControlObject Tagged(uint8_t tag) {
    TControlObject c;
    c.SubnetID = 1;
    c.DeviceID = tag;
    c.FirstParameter = 1;
    c.SecondParameter = 100;
    return c;
}

class RunShowTest : public ShowListBusTest {
  public:
    void SetUp() override {
        ShowListBusTest::SetUp();
        if (HasFatalFailure())
            return;
        PlayingShowID = -1;
        // Show 1 and show 3 share their media; show 2 has its own.
        // One transaction: one sync of the file instead of one per row.
        folder.execSql("begin;"
                       "insert into Show values(1, 10, 0, 0);"
                       "insert into Show values(2, 20, 0, 0);"
                       "insert into Show values(3, 30, 0, 0);" +
                       TimePointRow(1, 1, 0) + CommandRow(1, 1, 1, 1, 10, 0) +
                       TimePointRow(1, 2, 3) + CommandRow(1, 2, 1, 1, 30, 2000) +
                       TimePointRow(1, 3, 4) + CommandRow(1, 3, 1, 1, 40, 0) +
                       TimePointRow(1, 4, 5) + CommandRow(1, 4, 1, 1, 50, 0) +
                       TimePointRow(1, 5, 7) + CommandRow(1, 5, 1, 1, 70, 0) +
                       TimePointRow(2, 1, 5) + CommandRow(2, 1, 1, 1, 150, 0) +
                       TimePointRow(3, 1, 5) + CommandRow(3, 1, 1, 1, 250, 0) + "commit");
        folder.writeFile("Database/Show.ini",
                         "[1]\r\nShowName=Alpha\r\nURL=/media/alpha.webm\r\n"
                         "[2]\r\nShowName=Beta\r\nURL=/media/beta.webm\r\n"
                         "[3]\r\nShowName=Alpha again\r\nURL=/media/alpha.webm\r\n");
        OpenShowList();
        if (HasFatalFailure())
            return;
        ASSERT_EQ(Shows.size(), 3u);
        // Wired as the main window wires its list.
        QObject::connect(&list, &QTreeWidget::itemDoubleClicked,
                         [this] { StartSelectedShow(&list, &player, CurrentShowIndex); });

        // Time passes while the GUI thread pauses after a command.
        SetPauseHandler([this](int ms) {
            pauses.push_back(ms);
            player.SimulatePosition(player.CurrentPosition() + ms / 1000.0);
        });
    }

    // Selects a row the way the program does it (current item, then selected).
    void Select(int row) { list.setCurrentItem(list.topLevelItem(row)); }
    bool WaitUntilPlaying() {
        return QTest::qWaitFor([this] { return player.PlayState() == IPlayer::psPlaying; }, 5000);
    }
    // Starts show `row` and lets the media "load".
    void StartAndPlay(int row) {
        Select(row);
        ASSERT_TRUE(WaitUntilPlaying());
    }

    void Tick(double position) {
        player.SimulatePosition(position);
        timerRunShowTimer(&player, CurrentShowIndex);
    }

    // The tags of everything sent since the last call, in order.
    std::vector<int> Fired() {
        std::vector<int> tags;
        for (const std::vector<uint8_t>& body : SentBodiesUntilMarker(peer)) {
            const uint16_t opcode = static_cast<uint16_t>(body[5] << 8 | body[6]);
            EXPECT_EQ(opcode, 0x0002);
            tags.push_back(body[8]);
        }
        return tags;
    }

    std::vector<int> pauses;
};

using RunShowTimer = RunShowTest;
using RunShowStart = RunShowTest;

// ---- The timer -----------------------------------------------------------------------

TEST_F(RunShowTimer, TimePointFiresOnEveryTickWithinItsSecond) {
    StartAndPlay(0);
    Fired(); // second 0 may have fired while starting
    pauses.clear();
    for (int tenths = 50; tenths <= 60; ++tenths) {
        SCOPED_TRACE(tenths);
        // The pause handler moves the position; each tick sets it anew.
        Tick(tenths / 10.0);
    }
    EXPECT_EQ(Fired(), std::vector<int>(10, 50)) << "5.0 to 5.9: ten ticks, ten sends";
    EXPECT_EQ(pauses, std::vector<int>(10, 50)) << "DelayMS 0 pauses 50 ms";
}

TEST_F(RunShowTimer, SecondZeroFiresAsSoonAsThePlayerPlays) {
    Select(0);
    ASSERT_EQ(PlayingShowID, 1);
    // The real player reports Transitioning until its media has loaded.
    player.SimulateStateChange(IPlayer::psTransitioning);
    Tick(0.0);
    EXPECT_TRUE(Fired().empty());
    player.SimulateStateChange(IPlayer::psPlaying);
    Tick(0.0);
    Tick(0.4);
    EXPECT_EQ(Fired(), (std::vector<int>{10, 10}));
}

// The loaded order of two time points at one second decides: an empty one
// first ends the tick before the other is reached.
TEST_F(RunShowTimer, EmptyTimePointAtTheSameSecondEndsTheTick) {
    StartAndPlay(1);
    Fired();
    TTimePoint empty;
    empty.SecondOfTimePoint = 10;
    TTimePoint full;
    full.SecondOfTimePoint = 10;
    full.Commands = {Tagged(11), Tagged(12)};
    TTimePoint later;
    later.SecondOfTimePoint = 11;
    later.Commands = {Tagged(13)};

    const struct {
        const char* name;
        std::vector<TTimePoint> timePoints;
        double position;
        std::vector<int> fired;
    } cases[] = {
        {"empty first: nothing at 10", {empty, full, later}, 10.5, {}},
        {"empty second: the first fires", {full, empty, later}, 10.5, {11, 12}},
        {"an empty one at another second is passed over", {empty, full, later}, 11.2, {13}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Shows[static_cast<size_t>(CurrentShowIndex)].TimePoints = c.timePoints;
        Tick(c.position);
        EXPECT_EQ(Fired(), c.fired);
    }
}

// A tick that pauses past the next second skips that second's time point.
TEST_F(RunShowTimer, LongPauseSkipsTheNextSecond) {
    StartAndPlay(0);
    Fired();
    pauses.clear();
    // Ticks every 100 ms of media time, plus whatever the pauses take.
    for (double position = 2.95; position < 6.5; position = player.CurrentPosition() + 0.1)
        Tick(position);
    const std::vector<int> fired = Fired();
    ASSERT_FALSE(fired.empty());
    EXPECT_EQ(fired.front(), 30);
    EXPECT_EQ(std::count(fired.begin(), fired.end(), 30), 1);
    EXPECT_EQ(std::count(fired.begin(), fired.end(), 40), 0) << "second 4 passed during the pause";
    EXPECT_GT(std::count(fired.begin(), fired.end(), 50), 0) << "second 5 fires after it";
    ASSERT_FALSE(pauses.empty());
    EXPECT_EQ(pauses.front(), 2000);
}

TEST_F(RunShowTimer, PauseAndResumeFiresTheSameSecondAgain) {
    StartAndPlay(0);
    Fired();
    for (double p : {7.0, 7.1, 7.2, 7.3, 7.4})
        Tick(p);
    EXPECT_EQ(Fired(), std::vector<int>(5, 70));

    player.Pause();
    for (int i = 0; i < 3; ++i)
        Tick(7.5);
    EXPECT_TRUE(Fired().empty()) << "nothing while paused";

    player.Play();
    for (double p : {7.5, 7.6, 7.7, 7.8, 7.9})
        Tick(p);
    EXPECT_EQ(Fired(), std::vector<int>(5, 70)) << "the system does not remember what it sent";
}

TEST_F(RunShowTimer, NothingFiresUnlessAStartedShowPlays) {
    const struct {
        const char* name;
        std::function<void(RunShowTest&)> arrange;
    } cases[] = {
        {"no show started yet",
         [](RunShowTest& t) {
             t.player.SetURL("/media/alpha.webm");
             t.player.Play();
         }},
        {"paused",
         [](RunShowTest& t) {
             t.StartAndPlay(0);
             t.player.Pause();
         }},
        {"stopped",
         [](RunShowTest& t) {
             t.StartAndPlay(0);
             t.player.Stop();
         }},
        {"scanning forward",
         [](RunShowTest& t) {
             t.StartAndPlay(0);
             t.player.SimulateStateChange(IPlayer::psScanForward);
         }},
        {"media ended",
         [](RunShowTest& t) {
             t.StartAndPlay(0);
             t.player.SimulateStateChange(IPlayer::psMediaEnded);
         }},
        {"closing",
         [](RunShowTest& t) {
             t.StartAndPlay(0);
             AppClosing = true;
         }},
        {"current index past the end",
         [](RunShowTest& t) {
             t.StartAndPlay(0);
             t.CurrentShowIndex = static_cast<int>(Shows.size());
         }},
        {"current show's time points not loaded",
         [](RunShowTest& t) {
             t.StartAndPlay(0);
             Shows[0].TimePoints.clear();
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        list.clearSelection();
        list.setCurrentItem(nullptr);
        player.Stop();
        player.SetURL(QString());
        CurrentShowIndex = -1;
        AppClosing = false;
        c.arrange(*this);
        Fired();
        pauses.clear();
        for (double p : {0.0, 5.0, 5.5, 7.2})
            Tick(p);
        EXPECT_TRUE(Fired().empty());
        EXPECT_TRUE(pauses.empty());
        AppClosing = false;
        LoadShowTimePoints("1");
    }
}

// ---- Starting a show -----------------------------------------------------------------

TEST_F(RunShowStart, TimePointsLoadOnlyWhenTheMediaDiffer) {
    Select(0);
    EXPECT_EQ(player.calls, (QStringList{"SetURL:/media/alpha.webm", "Play"}));
    EXPECT_EQ(CurrentShowIndex, 0);
    EXPECT_EQ(PlayingShowID, 1);
    EXPECT_EQ(Shows[0].TimePoints.size(), 5u);
    EXPECT_TRUE(list.isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    ASSERT_TRUE(WaitUntilPlaying());

    // A new time point for every show, visible only to a load.
    folder.execSql(TimePointRow(1, 9, 9) + TimePointRow(3, 9, 9));
    player.calls.clear();

    // Same media: the current show changes, nothing else does.
    Select(2);
    EXPECT_EQ(CurrentShowIndex, 2);
    EXPECT_EQ(PlayingShowID, 1);
    EXPECT_TRUE(player.calls.isEmpty()) << player.calls.join(",").toStdString();
    EXPECT_TRUE(Shows[2].TimePoints.empty()) << "show 3 was never loaded";
    EXPECT_EQ(Shows[0].TimePoints.size(), 5u);
    Fired();
    Tick(5.5);
    EXPECT_TRUE(Fired().empty()) << "the timer follows the current show, whose time points are "
                                    "those held at its position";

    // Other media: loaded afresh, and the old show's time points stop at once.
    Select(1);
    EXPECT_EQ(player.calls, (QStringList{"SetURL:/media/beta.webm", "Play"}));
    EXPECT_EQ(CurrentShowIndex, 1);
    EXPECT_EQ(PlayingShowID, 2);
    ASSERT_TRUE(WaitUntilPlaying());
    Tick(5.5);
    EXPECT_EQ(Fired(), (std::vector<int>{150}));

    // Back to the first show's media: reloaded, with the new time point.
    Select(0);
    EXPECT_EQ(PlayingShowID, 1);
    EXPECT_EQ(Shows[0].TimePoints.size(), 6u);
}

TEST_F(RunShowStart, DoubleClickOnTheLoadedPausedShowResumesWithoutReloading) {
    StartAndPlay(0);
    player.Pause();
    folder.execSql(TimePointRow(1, 9, 9) + CommandRow(1, 9, 1, 1, 90, 0));
    player.calls.clear();

    emit list.itemDoubleClicked(list.topLevelItem(0), 0);
    EXPECT_EQ(player.calls, (QStringList{"Play"}));
    EXPECT_EQ(player.PlayState(), IPlayer::psPlaying);
    EXPECT_EQ(Shows[0].TimePoints.size(), 5u) << "no reload";
    Fired();
    Tick(9.1);
    EXPECT_TRUE(Fired().empty()) << "the new time point is not in memory";
    Tick(7.1);
    EXPECT_EQ(Fired(), (std::vector<int>{70}));

    // While it plays, another double-click asks nothing of the player.
    player.calls.clear();
    emit list.itemDoubleClicked(list.topLevelItem(0), 0);
    EXPECT_TRUE(player.calls.isEmpty());
}

TEST_F(RunShowStart, NoSelectionStartsNothing) {
    StartAndPlay(0);
    player.Stop();
    player.calls.clear();
    // Deselecting raises the same event; with nothing selected it does nothing.
    list.clearSelection();
    StartSelectedShow(&list, &player, CurrentShowIndex);
    EXPECT_TRUE(player.calls.isEmpty());
    EXPECT_EQ(CurrentShowIndex, 0);
    EXPECT_TRUE(list.isEnabled());
}

// A show listed in the list but missing from Shows keeps the current index;
// its media still start.
TEST_F(RunShowStart, UnknownShowKeepsTheCurrentIndex) {
    StartAndPlay(1);
    auto* stray = new QTreeWidgetItem(&list);
    stray->setText(0, "Stray");
    stray->setText(1, "77");
    folder.writeFile("Database/Show.ini",
                     folder.readFile("Database/Show.ini") +
                         "[77]\r\nShowName=Stray\r\nURL=/media/stray.webm\r\n");
    player.calls.clear();
    list.setCurrentItem(stray);
    EXPECT_EQ(CurrentShowIndex, 1);
    EXPECT_EQ(PlayingShowID, 77);
    EXPECT_EQ(player.calls, (QStringList{"SetURL:/media/stray.webm", "Play"}));
}

} // namespace
