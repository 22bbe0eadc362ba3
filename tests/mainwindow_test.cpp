// The main window: what start-up puts on screen, the close box, and the exit
// sequence. Runs against a temporary installation with a fake player; the
// socket is real (loopback, a port the system picks). UsesBusPorts.
#include "app/MainCuelark.h"
#include "app/Settings.h"
#include "app/Settings_Address.h"
#include "bus/Socket.h"
#include "bus/ThreadUDPReceive.h"
#include "platform/Modal.h"
#include "playback/PublicVariable.h"
#include "store/Database.h"
#include "store/IniFile.h"
#include "support/BusPeer.h"
#include "support/FakePlayer.h"
#include "support/MessageRecorder.h"
#include "support/TempProgramFolder.h"
#include "support/UdpSocket.h"

#include <QAction>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {
QStringList MenuTexts(QMenu* menu) {
    QStringList out;
    for (QAction* a : menu->actions())
        out << (a->isSeparator() ? "-" : a->text());
    return out;
}

class MainWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetPublicVariables();
        folder.writeFile("Database/System.ini", "[ip]\r\nip=127.0.0.1\r\n[Port]\r\nPort=0\r\n"
                                                "[SubnetID]\r\nSubnetID=1\r\n"
                                                "[DeviceID]\r\nDeviceID=250\r\n");
        folder.writeFile("Database/Show.ini", "[1]\r\nShowName=Lobby\r\nURL=/m/lobby.webm\r\n"
                                              "[2]\r\nShowName=Garden\r\nURL=/m/garden.webm\r\n");
        folder.execSql("insert into Show(ShowID,SequenceNo,ActivedUniversalSwitch,"
                       "UniversalSwitchID) values(1,2,0,0);"
                       "insert into Show(ShowID,SequenceNo,ActivedUniversalSwitch,"
                       "UniversalSwitchID) values(2,1,1,4);"
                       "insert into CommandsForStop(CommandID,SequenceNo,SubnetID,DeviceID,"
                       "CommandTypeID,FirstParameter,SecondParameter,ThirdParameter,DelayMS) "
                       "values(1,1,1,20,0,1,0,0,0)");
    }
    void TearDown() override {
        delete window;
        pblCloseUDP();
        CloseIniFiles();
        pblDisconnectDB();
        ResetPublicVariables();
    }
    void Open() {
        player = new FakePlayer;
        window = new TfrmMainCuelark(player);
    }
    QString SystemKey(const QString& section, const QString& key) {
        return TIniFile(folder.file("Database/System.ini")).ReadString(section, key, "<none>");
    }

    TempProgramFolder folder;
    MessageRecorder messages;
    FakePlayer* player = nullptr;
    TfrmMainCuelark* window = nullptr;
};

TEST_F(MainWindowTest, StartUpFillsTheWindow) {
    Open();
    ASSERT_TRUE(window->StartedUp());
    EXPECT_TRUE(messages.messages.empty()) << messages.texts().join("|").toStdString();
    EXPECT_EQ(window->windowTitle(), "Cuelark V1.2");
    EXPECT_EQ(window->StatusText(0), "Ready,Port:0");
    EXPECT_EQ(window->StatusText(1), "Subnet ID:1 Device ID:250");
    EXPECT_EQ(window->StatusText(2), "IP:127.0.0.1");
    for (int panel = 3; panel < 6; ++panel)
        EXPECT_EQ(window->StatusText(panel), "");
    EXPECT_EQ(window->lblTotal->text(), "2");
    ASSERT_EQ(window->lsvShow->topLevelItemCount(), 2);
    EXPECT_EQ(window->lsvShow->topLevelItem(0)->text(0), "Garden");
    EXPECT_EQ(window->lsvShow->topLevelItem(0)->text(1), "2");
    EXPECT_EQ(window->CurrentShowIndex, -1);
    EXPECT_EQ(PlayingShowID, -1);
    EXPECT_TRUE(window->timerRunShow->isActive());
    EXPECT_EQ(window->timerRunShow->interval(), 100);
    ASSERT_TRUE(window->ReceiveThread);
    EXPECT_TRUE(window->ReceiveThread->isRunning());
    EXPECT_TRUE(window->windowState() & Qt::WindowMaximized);
    // The volume and mute of the settings file reach the player.
    EXPECT_EQ(player->Volume(), 20);
    EXPECT_FALSE(player->Mute());

    const QStringList common{"Play/Pause/Stop Settings...",
                             "-",
                             "Software Address and UDP Port Settings...",
                             "-",
                             "About...",
                             "-",
                             "Exit"};
    EXPECT_EQ(MenuTexts(window->popmenuIcon), QStringList{"Show Settings..."} + common);
    EXPECT_EQ(MenuTexts(window->popmenuShowList), QStringList{"Add/Edit Show..."} + common);
}

TEST_F(MainWindowTest, MissingDatabaseIsReportedAndStartUpGoesOn) {
    QFile::remove(folder.dbPath());
    Open();
    EXPECT_TRUE(window->StartedUp());
    EXPECT_FALSE(QFile::exists(folder.dbPath()));
    ASSERT_FALSE(messages.messages.empty());
    EXPECT_EQ(messages.messages[0].kind, MsgKind::Error);
    EXPECT_EQ(window->lblTotal->text(), "0");
}

// A start that cannot open its port ends before showing anything, and leaves
// the settings file exactly as the user wrote it.
TEST_F(MainWindowTest, FailedStartLeavesTheSettingsFileAlone) {
    const int holder = BindUdpSocket(0, false, {});
    ASSERT_GE(holder, 0);
    sockaddr_in bound{};
    socklen_t len = sizeof bound;
    ::getsockname(holder, reinterpret_cast<sockaddr*>(&bound), &len);
    const QByteArray ini =
        "[ip]\r\nip=127.0.0.1\r\n[Port]\r\nPort=" + QByteArray::number(ntohs(bound.sin_port)) +
        "\r\n[IP]\r\nVOL=150\r\nMUTE=x\r\n";
    folder.writeFile("Database/System.ini", ini);
    Open();
    EXPECT_FALSE(window->StartedUp());
    EXPECT_TRUE(AppClosing);
    EXPECT_EQ(messages.texts(), QStringList{"Fail to initialize UDP socket!"});
    delete window;
    window = nullptr;
    ::close(holder);
    EXPECT_EQ(folder.readFile("Database/System.ini"), ini);
}

// Without a notification area the close box minimises instead of hiding, so
// the program can always be reached; it never ends the program.
TEST_F(MainWindowTest, CloseBoxKeepsTheProgramRunning) {
    Open();
    window->show();
    window->close();
    EXPECT_FALSE(AppClosing);
    EXPECT_TRUE(window->timerRunShow->isActive());
    EXPECT_TRUE(window->isMinimized() || window->isHidden());
    window->BringToFront();
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->isMinimized());
}

// What the address dialog saved shows in the status bar at once; a dialog
// closed without saving changes nothing there.
TEST_F(MainWindowTest, AddressDialogUpdatesTheStatusBar) {
    Open();
    bool save = false;
    SetModalHook([&save](QDialog* d) {
        auto* dialog = qobject_cast<TfrmSettings_Address*>(d);
        dialog->editSubnetID->setText("3");
        dialog->editDeviceID->setText("4");
        (save ? dialog->bitbtnSave : dialog->bitbtnClose)->click();
        return dialog->result();
    });
    window->AddressSettingsCommand();
    EXPECT_EQ(window->StatusText(1), "Subnet ID:1 Device ID:250");
    EXPECT_EQ(window->StatusText(0), "Ready,Port:0");

    save = true;
    window->AddressSettingsCommand();
    SetModalHook({});
    EXPECT_EQ(window->StatusText(1), "Subnet ID:3 Device ID:4");
    // Port 0 is neither bus port, so the dialog offered and saved 15000.
    EXPECT_EQ(window->StatusText(0), "Ready,Port:15000");
    EXPECT_EQ(pblBoundPort(), 15000);
}

TEST_F(MainWindowTest, ExitAnsweredOtherThanYesChangesNothing) {
    Open();
    for (auto answer : {QMessageBox::No, QMessageBox::Cancel}) {
        messages.clear();
        messages.answers.push_back(answer);
        window->ExitCommand();
        ASSERT_EQ(messages.messages.size(), 1u);
        EXPECT_EQ(messages.messages[0].kind, MsgKind::Question);
        EXPECT_EQ(messages.messages[0].title, "Inquire");
        EXPECT_EQ(messages.messages[0].text, "Are you sure you want to exit?");
        EXPECT_FALSE(AppClosing);
        EXPECT_TRUE(window->timerRunShow->isActive());
        EXPECT_EQ(SystemKey("IP", "VOL"), "<none>");
    }
}

TEST_F(MainWindowTest, ExitSavesVolumeAndMuteAndSendsNoStopList) {
    BusPeer peer;
    ASSERT_TRUE(peer.ok());
    folder.writeFile("Database/System.ini", "[ip]\r\nip=127.0.0.1\r\n[Port]\r\nPort=0\r\n"
                                            "[IP]\r\nMUTE=1\r\nVOL=35\r\n");
    Open();
    EXPECT_TRUE(player->Mute());
    EXPECT_EQ(player->Volume(), 35);
    player->SetMute(false);
    player->SetVolume(60);
    player->SimulateStateChange(IPlayer::psPlaying);
    QCoreApplication::processEvents();
    peer.drain();
    QPointer<TthreadUDPReceive> thread = window->ReceiveThread;
    const uint16_t port = pblBoundPort();

    messages.answers.push_back(QMessageBox::Yes);
    window->ExitCommand();
    EXPECT_TRUE(AppClosing);
    EXPECT_FALSE(window->timerRunShow->isActive());
    EXPECT_EQ(SystemKey("IP", "MUTE"), "0");
    EXPECT_EQ(SystemKey("IP", "VOL"), "60");
    EXPECT_EQ(window->wmp, nullptr); // the player is gone
    QCoreApplication::processEvents();
    EXPECT_FALSE(peer.receiveFrom(port, 300)) << "the Stop list went out at exit";
    if (thread)
        EXPECT_TRUE(thread->wait(1000));
}

TEST_F(MainWindowTest, ExitWhileDatagramsArriveEndsWithinASecond) {
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        Open();
        ASSERT_TRUE(window->StartedUp());
        player->SimulateStateChange(IPlayer::psPlaying);
        const uint16_t port = pblBoundPort();

        std::atomic<bool> stop{false};
        std::thread flood([&] {
            const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_port = htons(port);
            to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            std::vector<uint8_t> junk(40, 0xAA);
            while (!stop)
                ::sendto(fd, junk.data(), junk.size(), 0, reinterpret_cast<sockaddr*>(&to),
                         sizeof to);
            ::close(fd);
        });
        // Let steps run for a moment, as they would while the question is open.
        QEventLoop loop;
        QTimer::singleShot(50, &loop, &QEventLoop::quit);
        loop.exec();

        TthreadUDPReceive* thread = window->ReceiveThread;
        ASSERT_NE(thread, nullptr);
        const auto started = std::chrono::steady_clock::now();
        messages.answers.push_back(QMessageBox::Yes);
        window->ExitCommand();
        const bool ended = thread->wait(1000);
        const auto took = std::chrono::steady_clock::now() - started;
        stop = true;
        flood.join();
        EXPECT_TRUE(ended);
        EXPECT_LT(took, std::chrono::seconds(1));

        delete window;
        window = nullptr;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        pblCloseUDP();
        CloseIniFiles();
        pblDisconnectDB();
        ResetPublicVariables();
    }
}
} // namespace
