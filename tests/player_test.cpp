// The embedded player on real media made by ffmpeg, offscreen. Playback speed
// varies from machine to machine, so the tests wait for states, never for a
// fixed time, and every wait gives up after a generous limit.
#include "playback/PlayerWidget.h"
#include "support/FakePlayer.h"
#include "support/TestMedia.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMouseEvent>
#include <QPointer>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QVideoWidget>
#include <QWindow>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace {

constexpr int kStopped = IPlayer::psStopped;
constexpr int kPaused = IPlayer::psPaused;
constexpr int kPlaying = IPlayer::psPlaying;
constexpr int kMediaEnded = IPlayer::psMediaEnded;
constexpr int kTransitioning = IPlayer::psTransitioning;

constexpr int kWaitMs = 20000;

bool WaitFor(const std::function<bool()>& condition, int timeoutMs = kWaitMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(10);
    }
    return true;
}

// Every PlayStateChange the player delivers, and whether each came on the GUI thread.
struct StateLog {
    explicit StateLog(IPlayer& player) {
        connection = QObject::connect(&player, &IPlayer::PlayStateChange, [this](int state) {
            states.push_back(state);
            if (QThread::currentThread() != qApp->thread())
                offGuiThread = true;
        });
    }
    ~StateLog() { QObject::disconnect(connection); }

    int last() const { return states.empty() ? 0 : states.back(); }
    bool contains(int state) const {
        return std::find(states.begin(), states.end(), state) != states.end();
    }
    bool WaitForLast(int state, int timeoutMs = kWaitMs) const {
        return WaitFor([&] { return last() == state; }, timeoutMs);
    }
    bool hasRepeats() const {
        return std::adjacent_find(states.begin(), states.end()) != states.end();
    }

    std::vector<int> states;
    bool offGuiThread = false;
    QMetaObject::Connection connection;
};

template <typename T> T* Part(TPlayerWidget& player, const char* name) {
    T* part = player.Widget()->findChild<T*>(QLatin1String(name));
    EXPECT_NE(part, nullptr) << name;
    return part;
}

class PlayerTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    QString Media(int seconds, const QString& ext = "webm") {
        return MakeTestMedia(dir.path(), seconds, ext);
    }

    // Sets the URL and waits until the media really plays.
    static void StartPlaying(TPlayerWidget& player, const StateLog& log, const QString& url) {
        player.SetURL(url);
        ASSERT_TRUE(log.WaitForLast(kPlaying)) << url.toStdString();
        ASSERT_TRUE(WaitFor([&] { return player.CurrentPosition() > 0.1; }));
    }

    QTemporaryDir dir;
};

class PlayerFormatTest : public PlayerTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(PlayerFormatTest, PlaysByItselfToTheEndAndReportsMediaEnded) {
    const QString media = Media(2, GetParam());
    ASSERT_FALSE(media.isEmpty());
    TPlayerWidget player;
    StateLog log(player);

    player.SetURL(media);
    // Qt says Playing before anything is loaded; the player says Transitioning,
    // and tells nobody in the middle of the call.
    EXPECT_EQ(player.PlayState(), kTransitioning);
    EXPECT_TRUE(log.states.empty());
    EXPECT_EQ(player.URL(), media);

    ASSERT_TRUE(log.WaitForLast(kPlaying));
    ASSERT_TRUE(WaitFor([&] { return player.CurrentPosition() >= 0.5; }));
    ASSERT_TRUE(log.WaitForLast(kStopped));
    EXPECT_EQ(log.states, (std::vector<int>{kTransitioning, kPlaying, kMediaEnded, kStopped}));
    EXPECT_FALSE(log.offGuiThread);
    EXPECT_EQ(player.PlayState(), kStopped);
}

INSTANTIATE_TEST_SUITE_P(Formats, PlayerFormatTest, ::testing::Values("webm", "mp4", "ogg"));

TEST_F(PlayerTest, PauseHoldsThePositionAndStopRewinds) {
    const QString media = Media(3);
    ASSERT_FALSE(media.isEmpty());
    TPlayerWidget player;
    StateLog log(player);
    StartPlaying(player, log, media);

    player.Pause();
    EXPECT_EQ(player.PlayState(), kPaused);
    ASSERT_TRUE(log.WaitForLast(kPaused));
    const double pausedAt = player.CurrentPosition();
    QTest::qWait(300);
    EXPECT_NEAR(player.CurrentPosition(), pausedAt, 0.05);

    player.Play();
    ASSERT_TRUE(log.WaitForLast(kPlaying));
    ASSERT_TRUE(WaitFor([&] { return player.CurrentPosition() > pausedAt + 0.1; }));

    player.Stop();
    EXPECT_EQ(player.PlayState(), kStopped);
    ASSERT_TRUE(log.WaitForLast(kStopped));
    EXPECT_LT(player.CurrentPosition(), 0.05);

    // Stopping twice, or pausing while stopped, changes nothing.
    const std::vector<int> before = log.states;
    player.Stop();
    player.Pause();
    QTest::qWait(200);
    EXPECT_EQ(log.states, before);
    EXPECT_EQ(player.PlayState(), kStopped);

    // Play after stop starts again; a stop the program asked for is no Media Ended.
    player.Play();
    ASSERT_TRUE(log.WaitForLast(kPlaying));
    player.Stop();
    ASSERT_TRUE(log.WaitForLast(kStopped));
    EXPECT_FALSE(log.contains(kMediaEnded));
    EXPECT_FALSE(log.hasRepeats());
}

TEST_F(PlayerTest, PlayAfterTheEndStartsOver) {
    const QString media = Media(2);
    ASSERT_FALSE(media.isEmpty());
    TPlayerWidget player;
    StateLog log(player);
    player.SetURL(media);
    ASSERT_TRUE(log.WaitForLast(kStopped));
    ASSERT_TRUE(log.contains(kMediaEnded));

    log.states.clear();
    player.Play();
    ASSERT_TRUE(log.WaitForLast(kPlaying));
    ASSERT_TRUE(WaitFor([&] { return player.CurrentPosition() > 0.1; }));
    EXPECT_LT(player.CurrentPosition(), 1.5);
    ASSERT_TRUE(log.WaitForLast(kStopped));
    EXPECT_EQ(log.states.back(), kStopped);
    EXPECT_EQ(log.states[log.states.size() - 2], kMediaEnded);
    EXPECT_FALSE(log.hasRepeats());
}

// The program sends its command lists on the GUI thread, which may keep it
// busy just when Qt's video renderer asks it for help to start. The media
// must still play and end.
TEST_F(PlayerTest, BusyGuiThreadWhileLoadingStillPlays) {
    const QString media = Media(2);
    ASSERT_FALSE(media.isEmpty());
    TPlayerWidget player;
    player.Widget()->resize(320, 240);
    player.Widget()->show();
    StateLog log(player);

    player.SetURL(media);
    QTimer::singleShot(0, [] { QThread::msleep(1500); });
    ASSERT_TRUE(log.WaitForLast(kPlaying));
    ASSERT_TRUE(log.WaitForLast(kStopped));
    EXPECT_TRUE(log.contains(kMediaEnded));
}

// Qt leaves a player whose media failed at Playing for good; a show would
// then fire its second-0 commands for ever.
struct BrokenMedia {
    const char* name;
    const char* file;
    QByteArray content; // written unless the case is about a missing file
    bool missing;
};

void PrintTo(const BrokenMedia& c, std::ostream* os) {
    *os << c.name;
}

class BrokenMediaTest : public PlayerTest, public ::testing::WithParamInterface<BrokenMedia> {};

TEST_P(BrokenMediaTest, EndsStoppedNeverPlayingAndRecovers) {
    const BrokenMedia& c = GetParam();
    const QString path = dir.filePath(QLatin1String(c.file));
    if (!c.missing) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(c.content);
    }
    TPlayerWidget player;
    StateLog log(player);

    player.SetURL(path);
    ASSERT_TRUE(log.WaitForLast(kStopped));
    QTest::qWait(500);
    EXPECT_EQ(player.PlayState(), kStopped);
    EXPECT_EQ(log.last(), kStopped);
    EXPECT_FALSE(log.contains(kPlaying));
    EXPECT_EQ(std::count(log.states.begin(), log.states.end(), kStopped), 1);
    EXPECT_EQ(player.URL(), path);

    // Play tries the media again, and fails again the same way.
    log.states.clear();
    player.Play();
    ASSERT_TRUE(log.WaitForLast(kStopped));
    EXPECT_FALSE(log.contains(kPlaying));

    // A good media afterwards plays normally.
    const QString good = Media(2);
    ASSERT_FALSE(good.isEmpty());
    player.SetURL(good);
    ASSERT_TRUE(log.WaitForLast(kPlaying));
    EXPECT_FALSE(log.hasRepeats());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BrokenMediaTest,
    ::testing::Values(BrokenMedia{"MissingFile", "absent.webm", {}, true},
                      BrokenMedia{"Garbage", "garbage.webm", QByteArray(20000, '\x5a'), false},
                      BrokenMedia{"TextFile", "notes.mp4", "just some text\n", false},
                      BrokenMedia{"EmptyFile", "empty.webm", {}, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PlayerTest, SameUrlIsANoOpAndANewOneSwitches) {
    const QString first = Media(3);
    const QString second = Media(2, "mp4");
    ASSERT_FALSE(first.isEmpty());
    ASSERT_FALSE(second.isEmpty());
    TPlayerWidget player;
    StateLog log(player);
    StartPlaying(player, log, first);

    const std::vector<int> before = log.states;
    const double position = player.CurrentPosition();
    player.SetURL(first);
    EXPECT_EQ(player.PlayState(), kPlaying);
    QTest::qWait(300);
    EXPECT_EQ(log.states, before);
    EXPECT_GT(player.CurrentPosition(), position); // not reloaded from the start

    player.SetURL(second);
    EXPECT_EQ(player.URL(), second);
    EXPECT_EQ(player.PlayState(), kTransitioning);
    ASSERT_TRUE(log.WaitForLast(kPlaying));

    // Once stopped, the same URL does not start it again.
    player.Stop();
    ASSERT_TRUE(log.WaitForLast(kStopped));
    player.SetURL(second);
    QTest::qWait(300);
    EXPECT_EQ(player.PlayState(), kStopped);
    EXPECT_EQ(log.last(), kStopped);
    EXPECT_FALSE(log.hasRepeats());
}

TEST_F(PlayerTest, UrlKeepsTheTextAsGiven) {
    ASSERT_FALSE(Media(2).isEmpty());
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    TPlayerWidget player;
    StateLog log(player);
    player.SetURL("media-2s.webm");
    const bool played = log.WaitForLast(kPlaying);
    QDir::setCurrent(previous);
    EXPECT_TRUE(played);
    EXPECT_EQ(player.URL(), "media-2s.webm");

    player.SetURL("");
    EXPECT_EQ(player.URL(), "");
    ASSERT_TRUE(log.WaitForLast(kStopped));
}

TEST_F(PlayerTest, VolumeAndMuteRoundTrip) {
    TPlayerWidget player;
    auto* slider = Part<QSlider>(player, "trkVolume");
    auto* mute = Part<QToolButton>(player, "bitbtnMute");
    ASSERT_TRUE(slider && mute);
    EXPECT_EQ(player.Volume(), 50);
    EXPECT_EQ(slider->value(), 50);
    EXPECT_FALSE(player.Mute());

    const struct {
        int set, expected;
    } volumes[] = {{0, 0}, {37, 37}, {100, 100}, {-5, 0}, {150, 100}, {255, 100}};
    for (const auto& v : volumes) {
        player.SetVolume(v.set);
        EXPECT_EQ(player.Volume(), v.expected) << v.set;
        EXPECT_EQ(slider->value(), v.expected) << v.set;
    }
    slider->setValue(64); // as the user drags it
    EXPECT_EQ(player.Volume(), 64);

    player.SetMute(true);
    EXPECT_TRUE(player.Mute());
    EXPECT_TRUE(mute->isChecked());
    player.SetMute(false);
    EXPECT_FALSE(player.Mute());
    EXPECT_FALSE(mute->isChecked());
    mute->click();
    EXPECT_TRUE(player.Mute());
    mute->click();
    EXPECT_FALSE(player.Mute());
    EXPECT_EQ(player.Volume(), 64); // muting keeps the volume
}

TEST_F(PlayerTest, FullScreenLeavesItsHostAndComesBack) {
    QWidget host;
    auto* layout = new QVBoxLayout(&host);
    TPlayerWidget player;
    QWidget* view = player.Widget();
    layout->addWidget(view);
    host.resize(400, 300);
    host.show();
    auto* button = Part<QToolButton>(player, "bitbtnFullScreen");
    auto* video = Part<QVideoWidget>(player, "vidPlayer");
    ASSERT_TRUE(button && video);

    auto expectEmbedded = [&](const char* how) {
        SCOPED_TRACE(how);
        EXPECT_FALSE(player.FullScreen());
        EXPECT_FALSE(view->isWindow());
        EXPECT_EQ(view->parentWidget(), &host);
        EXPECT_TRUE(view->isVisible());
        EXPECT_FALSE(button->isChecked());
    };
    auto expectFull = [&](const char* how) {
        SCOPED_TRACE(how);
        EXPECT_TRUE(player.FullScreen());
        EXPECT_TRUE(view->isFullScreen());
        EXPECT_TRUE(button->isChecked());
    };

    expectEmbedded("at start");
    player.SetFullScreen(true);
    expectFull("SetFullScreen(true)");
    player.SetFullScreen(true);
    expectFull("twice");
    player.SetFullScreen(false);
    expectEmbedded("SetFullScreen(false)");
    QTest::qWait(50);
    EXPECT_EQ(view->geometry(), host.contentsRect().marginsRemoved(layout->contentsMargins()));

    player.SetFullScreen(true);
    QTest::keyClick(view, Qt::Key_Escape);
    expectEmbedded("Escape");

    QTest::mouseDClick(video, Qt::LeftButton);
    expectFull("double-click");
    QTest::mouseDClick(video, Qt::LeftButton);
    expectEmbedded("double-click again");

    // The picture itself is a window of Qt's inside the video widget; a
    // double-click on it arrives there, not at any widget.
    QWindow* picture = nullptr;
    for (QWindow* window : QGuiApplication::allWindows()) {
        if (qstrcmp(window->metaObject()->className(), "QVideoWindow") == 0)
            picture = window;
    }
    ASSERT_NE(picture, nullptr);
    auto doubleClickPicture = [&] {
        const QPointF local(video->width() / 2, video->height() / 2);
        QMouseEvent click(QEvent::MouseButtonDblClick, local, video->mapToGlobal(local),
                          Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(picture, &click);
    };
    doubleClickPicture();
    expectFull("double-click on the picture");
    doubleClickPicture();
    expectEmbedded("double-click on the picture again");

    button->click();
    expectFull("button");
    button->click();
    expectEmbedded("button again");

    // Escape does nothing when not full screen.
    QTest::keyClick(view, Qt::Key_Escape);
    expectEmbedded("Escape while embedded");
}

TEST_F(PlayerTest, FullScreenOfAStandAlonePlayer) {
    TPlayerWidget player;
    QWidget* view = player.Widget();
    view->resize(320, 240);
    view->show();
    player.SetFullScreen(true);
    EXPECT_TRUE(player.FullScreen());
    player.SetFullScreen(false);
    EXPECT_FALSE(player.FullScreen());
    EXPECT_TRUE(view->isWindow());
    EXPECT_TRUE(view->isVisible());
}

TEST_F(PlayerTest, TransportBarDrivesThePlayer) {
    const QString media = Media(3);
    ASSERT_FALSE(media.isEmpty());
    TPlayerWidget player;
    player.Widget()->resize(480, 320);
    player.Widget()->show();
    auto* play = Part<QToolButton>(player, "bitbtnPlay");
    auto* pause = Part<QToolButton>(player, "bitbtnPause");
    auto* stop = Part<QToolButton>(player, "bitbtnStop");
    auto* seek = Part<QSlider>(player, "trkSeek");
    auto* time = Part<QLabel>(player, "lblTime");
    ASSERT_TRUE(play && pause && stop && seek && time);
    EXPECT_FALSE(play->isEnabled()); // nothing to play yet

    StateLog log(player);
    StartPlaying(player, log, media);
    EXPECT_FALSE(play->isEnabled());
    EXPECT_TRUE(pause->isEnabled());

    QTest::mouseClick(pause, Qt::LeftButton);
    ASSERT_TRUE(log.WaitForLast(kPaused));

    // Moving the position slider seeks the media; the time reads m:ss / m:ss.
    seek->setValue(1500);
    ASSERT_TRUE(WaitFor([&] { return qAbs(player.CurrentPosition() - 1.5) < 0.2; }));
    ASSERT_TRUE(WaitFor([&] { return time->text().startsWith("0:01 / "); }));
    EXPECT_TRUE(QRegularExpression("^0:01 / 0:0[23]$").match(time->text()).hasMatch())
        << time->text().toStdString();

    QTest::mouseClick(play, Qt::LeftButton);
    ASSERT_TRUE(log.WaitForLast(kPlaying));
    EXPECT_GE(player.CurrentPosition(), 1.4);

    QTest::mouseClick(stop, Qt::LeftButton);
    ASSERT_TRUE(log.WaitForLast(kStopped));
    EXPECT_FALSE(stop->isEnabled());
    EXPECT_TRUE(play->isEnabled());
    EXPECT_EQ(log.states,
              (std::vector<int>{kTransitioning, kPlaying, kPaused, kPlaying, kStopped}));
}

// Each case destroys something while the media is busy; the run must end
// cleanly, with no report after the player is gone.
TEST_F(PlayerTest, DestroyingIsClean) {
    const QString media = Media(3);
    ASSERT_FALSE(media.isEmpty());
    int reports = 0;
    QObject counter;

    {
        SCOPED_TRACE("while loading");
        auto* player = new TPlayerWidget;
        QObject::connect(player, &IPlayer::PlayStateChange, &counter, [&] { ++reports; });
        player->SetURL(media);
        delete player;
        QTest::qWait(300);
        EXPECT_EQ(reports, 0);
    }
    {
        SCOPED_TRACE("while playing, with a report still queued");
        auto* player = new TPlayerWidget;
        StateLog log(*player);
        StartPlaying(*player, log, media);
        QObject::connect(player, &IPlayer::PlayStateChange, &counter, [&] { ++reports; });
        player->Pause();
        delete player;
        QTest::qWait(300);
        EXPECT_EQ(reports, 0);
    }
    {
        SCOPED_TRACE("host window first");
        auto host = std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(host.get());
        TPlayerWidget player;
        layout->addWidget(player.Widget());
        host->show();
        StateLog log(player);
        StartPlaying(player, log, media);
        host.reset();
        EXPECT_EQ(player.Widget(), nullptr);
        EXPECT_FALSE(player.FullScreen());
        player.SetFullScreen(true); // nothing left to show
        player.Pause();
        ASSERT_TRUE(log.WaitForLast(kPaused));
        player.Stop();
        ASSERT_TRUE(log.WaitForLast(kStopped));
    }
}

// Other suites drive the program through the fake; it must report the way
// the real player does, or their tests prove nothing.
TEST(FakePlayerTest, ReportsLikeTheRealPlayer) {
    FakePlayer player;
    StateLog log(player);
    auto settled = [&] {
        QTest::qWait(20);
        return log.states;
    };

    player.SetURL("a.mp4");
    EXPECT_EQ(player.PlayState(), kTransitioning);
    EXPECT_TRUE(log.states.empty()); // queued, never inside the call
    EXPECT_EQ(settled(), (std::vector<int>{kTransitioning, kPlaying}));

    player.SetURL("a.mp4"); // the URL it holds: no-op
    player.Play();          // already playing: no report
    EXPECT_EQ(settled(), (std::vector<int>{kTransitioning, kPlaying}));

    player.Pause();
    player.Stop();
    player.Stop();
    player.Pause(); // nothing to pause when stopped
    EXPECT_EQ(settled(), (std::vector<int>{kTransitioning, kPlaying, kPaused, kStopped}));

    // Stopped while loading: the media must not start afterwards.
    log.states.clear();
    player.SetURL("b.mp4");
    player.Stop();
    EXPECT_EQ(settled(), (std::vector<int>{kTransitioning, kStopped}));

    log.states.clear();
    player.autoStart = false;
    player.SetURL("c.mp4");
    player.SimulateStateChange(kPlaying); // the user presses play on the player
    player.SimulateStateChange(kMediaEnded);
    EXPECT_EQ(settled(), (std::vector<int>{kPlaying, kMediaEnded}));
    EXPECT_FALSE(log.offGuiThread);

    player.SetVolume(300);
    player.SetMute(true);
    player.SetFullScreen(true);
    player.SetCurrentPosition(12.5);
    EXPECT_EQ(player.Volume(), 100);
    EXPECT_TRUE(player.Mute());
    EXPECT_TRUE(player.FullScreen());
    EXPECT_DOUBLE_EQ(player.CurrentPosition(), 12.5);
    player.SimulateFullScreen(false);
    EXPECT_FALSE(player.FullScreen());

    EXPECT_EQ(player.calls,
              QStringList({"SetURL:a.mp4", "SetURL:a.mp4", "Play", "Pause", "Stop", "Stop", "Pause",
                           "SetURL:b.mp4", "Stop", "SetURL:c.mp4", "SetVolume:300", "SetMute:1",
                           "SetFullScreen:1", "SetCurrentPosition:12.5"}));
}

} // namespace
