#include "bus/Socket.h"

#include "platform/Messages.h"

#include <QCoreApplication>
#include <QStringList>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

bool SocketOpened = false;
QString LocalIPString;
std::array<uint8_t, 4> LocalIPOctets{};

namespace {
// The receive thread reads the descriptor to wait on it while the GUI thread
// may close and reopen the socket (a port change).
std::atomic<int> SocketFD{-1};

bool ParseIPv4(const QString& text, in_addr* out) {
    const QByteArray ascii = text.trimmed().toLatin1();
    return inet_pton(AF_INET, ascii.constData(), out) == 1;
}
} // namespace

QString BroadcastAddressFor(const std::array<uint8_t, 4>& o) {
    const auto n = [](uint8_t v) { return QString::number(v); };
    if (o[0] < 128)
        return n(o[0]) + ".255.255.255";
    if (o[0] < 192)
        return n(o[0]) + "." + n(o[1]) + ".255.255";
    return n(o[0]) + "." + n(o[1]) + "." + n(o[2]) + ".255";
}

std::array<uint8_t, 4> IPOctetsFromString(const QString& address) {
    std::array<uint8_t, 4> octets{};
    const QStringList parts = address.split('.');
    for (int i = 0; i < 4 && i < parts.size(); ++i) {
        bool ok = false;
        const int v = parts[i].trimmed().toInt(&ok);
        octets[i] = ok ? static_cast<uint8_t>(v & 0xFF) : 0;
    }
    return octets;
}

bool pblInitUDP(const QString& localAddress, uint16_t port, bool showError) {
    pblCloseUDP();
    LocalIPString = localAddress;

    in_addr local{};
    bool bound = false;
    if (ParseIPv4(localAddress, &local)) {
        LocalIPOctets = IPOctetsFromString(localAddress);
        const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_UDP);
        if (fd >= 0) {
            // Bound to any address: a socket bound to a unicast address gets no
            // broadcasts here. No SO_REUSEADDR, so a port held elsewhere fails.
            sockaddr_in addr{};
            addr.sin_family = AF_INET;
            addr.sin_port = htons(port);
            addr.sin_addr.s_addr = htonl(INADDR_ANY);
            if (bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) {
                const int on = 1;
                setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
                SocketFD = fd;
                SocketOpened = true;
                bound = true;
            } else {
                close(fd);
            }
        }
    }
    if (!bound && showError)
        ShowMessageBox(MsgKind::Application, nullptr, QCoreApplication::applicationName(),
                       QStringLiteral("Fail to initialize UDP socket!"));
    return bound;
}

void pblCloseUDP() {
    if (SocketFD >= 0) {
        close(SocketFD);
        SocketFD = -1;
    }
}

void pblBroadcastSend(const uint8_t* data, int len) {
    if (SocketFD < 0 || data == nullptr || len <= 0)
        return;
    sockaddr_in dest{};
    dest.sin_family = AF_INET;
    dest.sin_port = htons(BusDestinationPort);
    if (!ParseIPv4(BroadcastAddressFor(LocalIPOctets), &dest.sin_addr))
        return;
    sendto(SocketFD, data, static_cast<size_t>(len), 0, reinterpret_cast<const sockaddr*>(&dest),
           sizeof dest);
}

int pblRecvFrom(uint8_t* buf, int cap, QString* fromAddress) {
    if (SocketFD < 0 || buf == nullptr || cap <= 0)
        return -1;
    sockaddr_in from{};
    socklen_t fromLen = sizeof from;
    // MSG_TRUNC reports the datagram's real length, so one longer than the
    // buffer is recognised and dropped instead of being handed on cut short.
    const ssize_t got = recvfrom(SocketFD, buf, static_cast<size_t>(cap), MSG_TRUNC,
                                 reinterpret_cast<sockaddr*>(&from), &fromLen);
    if (got <= 0)
        return got == 0 ? 0 : -1;
    if (got > cap)
        return -1;
    if (fromAddress) {
        char text[INET_ADDRSTRLEN] = {};
        if (from.sin_family == AF_INET && inet_ntop(AF_INET, &from.sin_addr, text, sizeof text))
            *fromAddress = QString::fromLatin1(text);
        else
            fromAddress->clear();
    }
    return static_cast<int>(got);
}

int pblSocketDescriptor() {
    return SocketFD;
}

uint16_t pblBoundPort() {
    if (SocketFD < 0)
        return 0;
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    if (getsockname(SocketFD, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return 0;
    return ntohs(addr.sin_port);
}
