#include "support/BusPeer.h"

#include "support/UdpSocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

BusPeer::BusPeer(uint16_t port) {
    // Every peer on port 6000 gets every broadcast of every suite running at
    // the time; a roomy buffer keeps a busy moment from dropping ours.
    fd_ = BindUdpSocket(
        port, true,
        {{SO_REUSEADDR, 1}, {SO_BROADCAST, 1}, {SO_RCVBUF, 4 << 20}, {SO_TIMESTAMPNS, 1}});
}

BusPeer::~BusPeer() {
    if (fd_ >= 0)
        close(fd_);
}

std::optional<ReceivedDatagram> BusPeer::receive(int timeoutMs) {
    if (fd_ < 0)
        return std::nullopt;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        pollfd p{fd_, POLLIN, 0};
        const int ready = poll(&p, 1, left > 0 ? static_cast<int>(left) : 0);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return std::nullopt;

        std::vector<uint8_t> buf(65536);
        sockaddr_in from{};
        iovec iov{buf.data(), buf.size()};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))] = {};
        msghdr msg{};
        msg.msg_name = &from;
        msg.msg_namelen = sizeof from;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        const ssize_t got = recvmsg(fd_, &msg, 0);
        const auto steadyNow = std::chrono::steady_clock::now();
        const auto systemNow = std::chrono::system_clock::now();
        if (got < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                continue;
            return std::nullopt;
        }

        ReceivedDatagram d;
        buf.resize(static_cast<size_t>(got));
        d.bytes = std::move(buf);
        d.arrival = steadyNow;
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
                timespec ts;
                std::memcpy(&ts, CMSG_DATA(c), sizeof ts);
                const auto stamped = std::chrono::system_clock::time_point(
                    std::chrono::duration_cast<std::chrono::system_clock::duration>(
                        std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec)));
                // The datagram waited this long in the socket before we read it.
                const auto waited = systemNow - stamped;
                if (waited > std::chrono::system_clock::duration::zero())
                    d.arrival =
                        steadyNow -
                        std::chrono::duration_cast<std::chrono::steady_clock::duration>(waited);
            }
        }
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
        d.fromAddress = QString::fromLatin1(text);
        d.fromPort = ntohs(from.sin_port);
        return d;
    }
}

std::optional<ReceivedDatagram> BusPeer::receiveFrom(uint16_t fromPort, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        auto d = receive(left > 0 ? static_cast<int>(left) : 0);
        if (!d || d->fromPort == fromPort)
            return d;
    }
}

void BusPeer::drain() {
    while (receive(0)) {
    }
}

bool BusPeer::send(const std::vector<uint8_t>& bytes, uint16_t port) {
    if (fd_ < 0)
        return false;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                  sizeof to) == static_cast<ssize_t>(bytes.size());
}
