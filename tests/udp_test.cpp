// The UDP endpoint, the broadcast destination and the choice of the local
// address. Everything sent goes to loopback and is captured by a BusPeer.
#include "bus/GetLocalIP.h"
#include "bus/Packet.h"
#include "bus/Socket.h"
#include "playback/PublicVariable.h"
#include "store/IniFile.h"
#include "support/BusPeer.h"
#include "support/LoopbackBus.h"
#include "support/MessageRecorder.h"
#include "support/UdpSocket.h"

#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// Holds a port the way another program would: bound to any address, with or
// without SO_REUSEADDR. Port 0 picks a free one.
class PortHolder {
  public:
    PortHolder(uint16_t port, bool reuseAddress) {
        std::vector<SocketOption> options;
        if (reuseAddress)
            options.push_back({SO_REUSEADDR, 1});
        fd_ = BindUdpSocket(port, false, options);
        if (fd_ < 0)
            return;
        sockaddr_in addr{};
        socklen_t len = sizeof addr;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
    }
    ~PortHolder() {
        if (fd_ >= 0)
            close(fd_);
    }
    bool ok() const { return fd_ >= 0; }
    uint16_t port() const { return port_; }

  private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

// A port that is free right now.
uint16_t FreePort() {
    PortHolder h(0, false);
    return h.port();
}

class UdpFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetBusState();
        pblCloseUDP();
        LocalIPOctets = {127, 0, 0, 1};
        savedTitle = QCoreApplication::applicationName();
        QCoreApplication::setApplicationName("Cuelark");
    }
    void TearDown() override {
        pblCloseUDP();
        LocalIPString.clear();
        LocalIPOctets = {127, 0, 0, 1};
        SystemIniFile = nullptr;
        QCoreApplication::setApplicationName(savedTitle);
    }
    void SendWorkedExample() {
        const uint8_t payload[] = {0x01, 0x05};
        pblSendBUF(payload, 2, 0x0002, 1, 20, false);
    }

    MessageRecorder messages;
    QString savedTitle;
};

// ---- Opening and closing ----------------------------------------------------

using UdpEndpoint = UdpFixture;

TEST_F(UdpEndpoint, BindRefusedWhilePortIsHeld) {
    struct Case {
        const char* name;
        bool holderReusesAddress;
        bool showError;
    };
    const Case cases[] = {{"plain holder, with message", false, true},
                          {"plain holder, quiet", false, false},
                          // The program's socket never shares its port, even
                          // with a holder that would allow sharing.
                          {"sharing holder, with message", true, true},
                          {"sharing holder, quiet", true, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        messages.clear();
        PortHolder holder(0, c.holderReusesAddress);
        ASSERT_TRUE(holder.ok());
        EXPECT_FALSE(pblInitUDP("127.0.0.1", holder.port(), c.showError));
        EXPECT_EQ(pblSocketDescriptor(), -1);
        if (c.showError) {
            ASSERT_EQ(messages.messages.size(), 1u);
            EXPECT_EQ(messages.messages[0].kind, MsgKind::Application);
            EXPECT_EQ(messages.messages[0].title, "Cuelark");
            EXPECT_EQ(messages.messages[0].text, "Fail to initialize UDP socket!");
        } else {
            EXPECT_TRUE(messages.messages.empty());
        }
    }
}

TEST_F(UdpEndpoint, LocalAddressThatIsNotAnAddressFailsTheBind) {
    for (const char* address : {"", "not an address", "192.168.1", "300.1.2.3"}) {
        SCOPED_TRACE(address);
        messages.clear();
        EXPECT_FALSE(pblInitUDP(address, FreePort(), true));
        EXPECT_EQ(pblSocketDescriptor(), -1);
        EXPECT_EQ(messages.texts(), QStringList{"Fail to initialize UDP socket!"});
    }
}

TEST_F(UdpEndpoint, CloseWithoutOpenSocketDoesNothingAndCloseFreesThePort) {
    pblCloseUDP();
    pblCloseUDP();
    EXPECT_EQ(pblSocketDescriptor(), -1);
    EXPECT_EQ(pblBoundPort(), 0);

    const uint16_t port = FreePort();
    ASSERT_TRUE(pblInitUDP("127.0.0.1", port, false));
    EXPECT_TRUE(SocketOpened);
    EXPECT_EQ(pblBoundPort(), port);
    EXPECT_FALSE(PortHolder(port, false).ok()) << "the open socket holds its port";
    pblCloseUDP();
    EXPECT_EQ(pblSocketDescriptor(), -1);
    EXPECT_TRUE(PortHolder(port, false).ok()) << "closing gives the port back";
    EXPECT_TRUE(messages.messages.empty());
}

TEST_F(UdpEndpoint, ReopeningOnAnotherPortReleasesTheFirst) {
    const uint16_t first = FreePort();
    ASSERT_TRUE(pblInitUDP("127.0.0.1", first, false));
    const uint16_t second = FreePort();
    ASSERT_TRUE(pblInitUDP("127.0.0.1", second, false));
    EXPECT_EQ(pblBoundPort(), second);
    EXPECT_TRUE(PortHolder(first, false).ok());
}

TEST_F(UdpEndpoint, PacketsGoToPort6000WhileBoundTo15000) {
    BusPeer peer;
    ASSERT_TRUE(peer.ok());
    ASSERT_TRUE(pblInitUDP("127.0.0.1", 15000, true)) << "port 15000 is taken on this machine";
    EXPECT_EQ(LocalIPString, "127.0.0.1");
    peer.drain();
    SendWorkedExample();
    const auto d = peer.receiveFrom(15000, 2000);
    ASSERT_TRUE(d) << "nothing arrived on port 6000";
    EXPECT_EQ(d->fromAddress, "127.0.0.1");
    EXPECT_EQ(d->bytes.size(), 29u);
    EXPECT_EQ(Bytes(d->bytes.begin(), d->bytes.begin() + 4), (Bytes{127, 0, 0, 1}));
    EXPECT_TRUE(messages.messages.empty());
}

TEST_F(UdpEndpoint, NothingIsSentWithoutAnOpenSocket) {
    BusPeer peer;
    ASSERT_TRUE(peer.ok());
    const uint16_t port = FreePort();
    ASSERT_TRUE(pblInitUDP("127.0.0.1", port, false));
    pblCloseUDP();
    peer.drain();
    SendWorkedExample();
    EXPECT_FALSE(peer.receiveFrom(port, 300));
    EXPECT_TRUE(messages.messages.empty());
}

// ---- Receiving ----------------------------------------------------------------

TEST_F(UdpEndpoint, ReceiveTakesOneDatagramWithoutBlocking) {
    BusPeer peer;
    ASSERT_TRUE(peer.ok());
    ASSERT_TRUE(pblInitUDP("127.0.0.1", FreePort(), false));
    std::vector<uint8_t> buf(UDPReceiveBufferSize, 0);
    QString from = "unchanged";
    EXPECT_LE(pblRecvFrom(buf.data(), static_cast<int>(buf.size()), &from), 0)
        << "nothing is waiting, the call must return at once";

    auto waitReadable = [] {
        pollfd p{pblSocketDescriptor(), POLLIN, 0};
        return poll(&p, 1, 2000) == 1;
    };

    // One longer than the receive buffer is dropped whole; the next one is intact.
    const Bytes tooLong(UDPReceiveBufferSize + 1, 0xAA);
    Bytes good(29);
    for (size_t i = 0; i < good.size(); ++i)
        good[i] = static_cast<uint8_t>(i);
    ASSERT_TRUE(peer.send(tooLong, pblBoundPort()));
    ASSERT_TRUE(peer.send(good, pblBoundPort()));

    ASSERT_TRUE(waitReadable());
    EXPECT_LT(pblRecvFrom(buf.data(), static_cast<int>(buf.size()), &from), 0);
    ASSERT_TRUE(waitReadable());
    const int got = pblRecvFrom(buf.data(), static_cast<int>(buf.size()), &from);
    ASSERT_EQ(got, 29);
    EXPECT_EQ(Bytes(buf.begin(), buf.begin() + got), good);
    EXPECT_EQ(from, "127.0.0.1");
    EXPECT_LE(pblRecvFrom(buf.data(), static_cast<int>(buf.size()), &from), 0);
}

TEST_F(UdpEndpoint, ReceiveWithoutSocketFails) {
    std::vector<uint8_t> buf(UDPReceiveBufferSize);
    EXPECT_LT(pblRecvFrom(buf.data(), static_cast<int>(buf.size()), nullptr), 0);
}

// ---- Destination rule -----------------------------------------------------------

TEST(UdpDestination, BroadcastAddressFollowsTheFirstOctet) {
    struct Case {
        std::array<uint8_t, 4> local;
        const char* broadcast;
    };
    const Case cases[] = {
        {{10, 1, 2, 3}, "10.255.255.255"},    {{172, 16, 5, 9}, "172.16.255.255"},
        {{192, 168, 1, 10}, "192.168.1.255"}, {{230, 1, 2, 3}, "230.1.2.255"},
        {{127, 0, 0, 1}, "127.255.255.255"},  {{0, 9, 9, 9}, "0.255.255.255"},
        {{128, 7, 8, 9}, "128.7.255.255"},    {{191, 7, 8, 9}, "191.7.255.255"},
        {{255, 7, 8, 9}, "255.7.8.255"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(BroadcastAddressFor(c.local), c.broadcast) << c.broadcast;
}

TEST(UdpDestination, OctetsKeepTheLowEightBitsOfEachPart) {
    struct Case {
        const char* text;
        std::array<uint8_t, 4> octets;
    };
    const Case cases[] = {
        {"192.168.1.10", {192, 168, 1, 10}}, {"127.0.0.1", {127, 0, 0, 1}},
        {"300.1.2.3", {44, 1, 2, 3}},        {"", {0, 0, 0, 0}},
        {"10.x.2", {10, 0, 2, 0}},           {" 10.1.2.3 ", {10, 1, 2, 3}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IPOctetsFromString(c.text), c.octets) << c.text;
}

// ---- Local addresses ---------------------------------------------------------------

TEST(UdpLocalAddress, SelectionTable) {
    const QStringList seven = {"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4",
                               "10.0.0.5", "10.0.0.6", "10.0.0.7"};
    struct Case {
        const char* name;
        QStringList addresses;
        QString configured;
        QString chosen;
        bool replaced;
    };
    const Case cases[] = {
        {"configured first", {"192.168.1.10", "127.0.0.1"}, "192.168.1.10", "192.168.1.10", false},
        {"configured last of five", seven, "10.0.0.5", "10.0.0.5", false},
        {"configured sixth is not seen", seven, "10.0.0.6", "10.0.0.1", true},
        {"configured not found", {"192.168.1.10", "127.0.0.1"}, "10.9.9.9", "192.168.1.10", true},
        {"configured empty", {"192.168.1.10"}, "", "192.168.1.10", true},
        {"blanks and control characters around an entry",
         {" 192.168.1.10\t", "\r127.0.0.1\n"},
         "127.0.0.1",
         "127.0.0.1",
         false},
        {"empty entries never match", {"", "127.0.0.1"}, "", "", true},
        {"no addresses at all", {}, "127.0.0.1", "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bool replaced = !c.replaced;
        EXPECT_EQ(SelectLocalAddressFrom(c.addresses, c.configured, &replaced), c.chosen);
        EXPECT_EQ(replaced, c.replaced);
    }
}

TEST(UdpLocalAddress, ListHoldsAtMostFiveAndClearsTheRest) {
    StoreLocalIPList(
        {"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4", "10.0.0.5", "10.0.0.6", "10.0.0.7"});
    EXPECT_EQ(LocalIPList,
              (std::array<QString, 5>{"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4", "10.0.0.5"}));
    StoreLocalIPList({"10.0.0.9", "127.0.0.1"});
    EXPECT_EQ(LocalIPList, (std::array<QString, 5>{"10.0.0.9", "127.0.0.1", "", "", ""}));
}

TEST(UdpLocalAddress, LoopbackComesLastAndAlwaysKeepsASlot) {
    struct Case {
        const char* name;
        QStringList nonLoopback;
        QStringList loopback;
        QStringList ordered;
    };
    const Case cases[] = {
        {"few",
         {"10.0.0.1", "192.168.1.10"},
         {"127.0.0.1"},
         {"10.0.0.1", "192.168.1.10", "127.0.0.1"}},
        {"many",
         {"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4", "10.0.0.5", "10.0.0.6"},
         {"127.0.0.1", "127.0.1.1"},
         {"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4", "127.0.0.1"}},
        {"only loopback", {}, {"127.0.0.1", "127.0.1.1"}, {"127.0.0.1", "127.0.1.1"}},
        {"no loopback",
         {"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4", "10.0.0.5", "10.0.0.6"},
         {},
         {"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4", "10.0.0.5"}},
        {"room for two loopback",
         {"10.0.0.1"},
         {"127.0.0.1", "127.0.1.1"},
         {"10.0.0.1", "127.0.0.1", "127.0.1.1"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(OrderLocalAddresses(c.nonLoopback, c.loopback), c.ordered) << c.name;
}

TEST(UdpLocalAddress, ThisComputerListsLoopbackLast) {
    const QStringList addresses = ComputerIPv4Addresses();
    ASSERT_LE(addresses.size(), 5);
    ASSERT_TRUE(addresses.contains("127.0.0.1")) << addresses.join(", ").toStdString();
    bool inLoopback = false;
    for (const QString& a : addresses) {
        if (a.startsWith("127."))
            inLoopback = true;
        else
            EXPECT_FALSE(inLoopback) << "non-loopback " << a.toStdString() << " after loopback";
    }
}

class UdpSelectLocalAddress : public UdpFixture {
  protected:
    void SetUp() override {
        UdpFixture::SetUp();
        ASSERT_TRUE(dir.isValid());
        QFile f(iniPath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[SubnetID]\r\nSubnetID=1\r\n");
        f.close();
        ini = std::make_unique<TIniFile>(iniPath());
        SystemIniFile = ini.get();
    }
    QString iniPath() const { return dir.path() + "/System.ini"; }

    QTemporaryDir dir;
    std::unique_ptr<TIniFile> ini;
};

TEST_F(UdpSelectLocalAddress, ConfiguredLoopbackIsKeptAndNotWritten) {
    EXPECT_EQ(SelectLocalAddress("127.0.0.1"), "127.0.0.1");
    EXPECT_EQ(LocalIPString, "127.0.0.1");
    EXPECT_EQ(LocalIPOctets, (std::array<uint8_t, 4>{127, 0, 0, 1}));
    EXPECT_EQ(ini->ReadString("ip", "ip", "<missing>"), "<missing>");
}

TEST_F(UdpSelectLocalAddress, UnknownAddressIsReplacedByTheFirstAndWrittenBack) {
    // 203.0.113.0/24 is reserved for documentation and never a real interface.
    const QString chosen = SelectLocalAddress("203.0.113.77");
    ASSERT_FALSE(chosen.isEmpty());
    EXPECT_EQ(chosen, LocalIPList[0]);
    EXPECT_EQ(LocalIPString, chosen);
    EXPECT_EQ(LocalIPOctets, IPOctetsFromString(chosen));
    EXPECT_EQ(ini->ReadString("IP", "IP", "<missing>"), chosen);
    EXPECT_EQ(pblSocketDescriptor(), -1) << "choosing an address opens nothing";
}

} // namespace
