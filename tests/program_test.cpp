// The built program itself (cuelark_executable), started in a temporary
// installation on the offscreen platform. Message boxes go to its standard
// error and are answered at once (CUELARK_MESSAGE_LOG). Everything it sends
// stays on loopback: its System.ini names 127.0.0.1.
#include "platform/SingleInstance.h"
#include "support/BusPeer.h"
#include "support/TempProgramFolder.h"
#include "support/TestMedia.h"

#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QThread>
#include <arpa/inet.h>
#include <chrono>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A free UDP port: bound once by the system's choice, then released.
uint16_t FreeUdpPort() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

// Whether some socket of this machine is bound to the UDP port, read from
// /proc so that looking does not take the port away from the program.
bool UdpPortBound(uint16_t port) {
    QFile f("/proc/net/udp");
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray needle =
        ":" + QByteArray::number(port, 16).toUpper().rightJustified(4, '0') + " ";
    for (const QByteArray& line : f.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 1 && (fields[1] + " ").endsWith(needle))
            return true;
    }
    return false;
}

bool InstanceAnswers() {
    QLocalSocket s;
    s.connectToServer(TSingleInstance::DefaultName());
    return s.waitForConnected(200);
}

template <typename Pred> bool WaitFor(Pred pred, std::chrono::milliseconds limit) {
    const auto until = Clock::now() + limit;
    while (Clock::now() < until) {
        if (pred())
            return true;
        QThread::msleep(20);
    }
    return pred();
}

// One installed copy of the program in a temporary folder.
class Installation {
  public:
    explicit Installation(const QByteArray& systemIni) {
        const QString exe = folder.file("cuelark");
        QFile::copy(QStringLiteral(CUELARK_BIN_DIR "/cuelark"), exe);
        QFile::setPermissions(exe, QFile::permissions(exe) | QFileDevice::ExeOwner);
        folder.writeFile("Database/System.ini", "[ip]\r\nip=127.0.0.1\r\n" + systemIni);
    }
    ~Installation() {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
    void Start() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("CUELARK_MESSAGE_LOG", "1");
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(folder.path());
        process.start(folder.file("cuelark"), {});
        ASSERT_TRUE(process.waitForStarted(10000));
    }
    // Ends the program as a shutdown would, and says whether it ended cleanly.
    bool Terminate() {
        if (process.state() == QProcess::NotRunning)
            return false;
        ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
        return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit &&
               process.exitCode() == 0;
    }
    QString Messages() { return QString::fromLocal8Bit(process.readAllStandardError()); }

    TempProgramFolder folder;
    QProcess process;
};

TEST(Program, PortTakenEndsWithTheMessageAndNoWindow) {
    // Another program holds the port.
    const int holder = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    socklen_t len = sizeof a;
    ::getsockname(holder, reinterpret_cast<sockaddr*>(&a), &len);

    Installation app("[Port]\r\nPort=" + QByteArray::number(ntohs(a.sin_port)) + "\r\n");
    app.Start();
    ASSERT_TRUE(app.process.waitForFinished(20000));
    ::close(holder);
    EXPECT_EQ(app.process.exitCode(), 1);
    const QString messages = app.Messages();
    EXPECT_TRUE(messages.contains("cuelark-message: Cuelark|Fail to initialize UDP socket!\n"))
        << messages.toStdString();
    EXPECT_EQ(messages.count("cuelark-message:"), 1) << messages.toStdString();
}

TEST(Program, SecondStartIsRefused) {
    Installation first("[Port]\r\nPort=" + QByteArray::number(FreeUdpPort()) + "\r\n");
    first.Start();
    ASSERT_TRUE(WaitFor(InstanceAnswers, 15s));

    Installation second("[Port]\r\nPort=" + QByteArray::number(FreeUdpPort()) + "\r\n");
    second.Start();
    ASSERT_TRUE(second.process.waitForFinished(15000));
    EXPECT_EQ(second.process.exitCode(), 0);
    EXPECT_TRUE(second.Messages().contains(
        "cuelark-message: |Cuelark Software has already been opened!\n"));
    EXPECT_EQ(first.process.state(), QProcess::Running);

    // Ending it the way a shutdown does still saves the player's volume.
    EXPECT_TRUE(first.Terminate());
    EXPECT_TRUE(first.folder.readFile("Database/System.ini").contains("VOL=20"));
}

std::vector<uint8_t> SwitchCommand(uint8_t number, uint8_t status) {
    // From subnet 2, device 9 to the program at 1/250: opcode 0xE01C.
    std::vector<uint8_t> d = {127, 0, 0, 1, 'Z', 'E', 'V', 'I', 'Z', 'A', 'R', 'E', 'R', 'E'};
    std::vector<uint8_t> packet = {0xAA, 0xAA, 13, 2,   9,      0xFF,  0xFD,
                                   0xE0, 0x1C, 1,  250, number, status};
    uint16_t crc = 0;
    for (size_t i = 2; i < packet.size(); ++i) {
        crc ^= static_cast<uint16_t>(packet[i] << 8);
        for (int b = 0; b < 8; ++b)
            crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    packet.push_back(static_cast<uint8_t>(crc >> 8));
    packet.push_back(static_cast<uint8_t>(crc));
    d.insert(d.end(), packet.begin(), packet.end());
    return d;
}

struct Seen {
    uint16_t opcode;
    std::vector<uint8_t> payload;
    Clock::time_point arrival;
};

// Everything the program sends until stop says enough (or limit passes).
template <typename Stop>
std::vector<Seen> Capture(BusPeer& peer, uint16_t from, Stop stop, std::chrono::seconds limit) {
    std::vector<Seen> seen;
    const auto until = Clock::now() + limit;
    while (Clock::now() < until) {
        auto d = peer.receiveFrom(from, 200);
        if (!d || d->bytes.size() < 27)
            continue;
        const auto& b = d->bytes;
        seen.push_back({static_cast<uint16_t>(b[21] << 8 | b[22]),
                        std::vector<uint8_t>(b.begin() + 25, b.end() - 2), d->arrival});
        if (stop(seen.back()))
            break;
    }
    return seen;
}

// A show of a three-second media file bound to switch 5 plays when the
// switch command arrives: the reply, the Play list, the time point at second
// 1 with its pauses, and the Stop list at the end of the media all go out.
TEST(Program, UniversalSwitchPlaysAShowEndToEnd) {
    BusPeer peer;
    ASSERT_TRUE(peer.ok());
    const uint16_t port = FreeUdpPort();
    Installation app("[Port]\r\nPort=" + QByteArray::number(port) +
                     "\r\n[SubnetID]\r\nSubnetID=1\r\n[DeviceID]\r\nDeviceID=250\r\n");
    const QString media = MakeTestMedia(app.folder.path(), 3);
    ASSERT_FALSE(media.isEmpty());
    app.folder.writeFile("Database/Show.ini",
                         "[1]\r\nShowName=Fountain\r\nURL=" + media.toUtf8() + "\r\n");
    app.folder.execSql(
        "insert into Show(ShowID,SequenceNo,ActivedUniversalSwitch,UniversalSwitchID) "
        "values(1,1,1,5);"
        "insert into TimePoint(ShowID,TimePointID,SecondOfTimePoint) values(1,1,1);"
        "insert into CommandsForShow(ShowID,TimePointID,CommandID,SequenceNo,SubnetID,DeviceID,"
        "CommandTypeID,FirstParameter,SecondParameter,ThirdParameter,DelayMS) "
        "values(1,1,1,1,1,20,0,1,5,0,300);"
        "insert into CommandsForPlay(CommandID,SequenceNo,SubnetID,DeviceID,CommandTypeID,"
        "FirstParameter,SecondParameter,ThirdParameter,DelayMS) values(1,1,1,30,1,7,8,0,100);"
        "insert into CommandsForStop(CommandID,SequenceNo,SubnetID,DeviceID,CommandTypeID,"
        "FirstParameter,SecondParameter,ThirdParameter,DelayMS) values(1,1,1,40,7,2,1,0,0)");
    app.Start();
    ASSERT_TRUE(WaitFor([&] { return UdpPortBound(port); }, 20s)) << app.Messages().toStdString();
    peer.drain();

    ASSERT_TRUE(peer.send(SwitchCommand(5, 255), port));
    auto seen = Capture(
        peer, port, [](const Seen& s) { return s.opcode == 0xE3E0; }, 30s);
    ASSERT_FALSE(seen.empty()) << app.Messages().toStdString();

    // The reply first, then the Play list, then the time point, then Stop.
    EXPECT_EQ(seen.front().opcode, 0xE01D);
    EXPECT_EQ(seen.front().payload, (std::vector<uint8_t>{5, 255}));
    ASSERT_GE(seen.size(), 4u);
    EXPECT_EQ(seen[1].opcode, 0x001A);
    EXPECT_EQ(seen[1].payload, (std::vector<uint8_t>{7, 8}));
    EXPECT_EQ(seen.back().opcode, 0xE3E0);
    EXPECT_EQ(seen.back().payload, (std::vector<uint8_t>{2, 1}));
    int timePointSends = 0;
    for (size_t i = 2; i + 1 < seen.size(); ++i) {
        EXPECT_EQ(seen[i].opcode, 0x0002) << i;
        EXPECT_EQ(seen[i].payload, (std::vector<uint8_t>{1, 5})) << i;
        ++timePointSends;
    }
    EXPECT_GE(timePointSends, 1);
    // Each send is followed by its pause before anything else goes out.
    for (size_t i = 1; i + 1 < seen.size(); ++i) {
        const auto pause = seen[i].opcode == 0x001A ? 100ms : 300ms;
        EXPECT_GE(seen[i + 1].arrival - seen[i].arrival, pause - 2ms) << i;
    }

    // Switch on again replays the show; switch off stops it with a reply.
    ASSERT_TRUE(peer.send(SwitchCommand(5, 1), port));
    seen = Capture(
        peer, port, [](const Seen& s) { return s.opcode == 0x0002; }, 20s);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back().opcode, 0x0002);
    ASSERT_TRUE(peer.send(SwitchCommand(5, 0), port));
    seen = Capture(
        peer, port, [](const Seen& s) { return s.opcode == 0xE3E0; }, 10s);
    bool replied = false;
    for (const Seen& s : seen)
        replied |= s.opcode == 0xE01D && s.payload == std::vector<uint8_t>{5, 0};
    EXPECT_TRUE(replied);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back().opcode, 0xE3E0);

    EXPECT_TRUE(app.Terminate());
    EXPECT_FALSE(UdpPortBound(port));
}
} // namespace
