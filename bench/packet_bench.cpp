// What framing and sending one packet costs, next to a bare sendto of the same
// bytes, and how late the blocking pause of a command list puts packets on the
// wire. Everything goes to loopback: local address 127.0.0.1, broadcast
// 127.255.255.255, port 6000.
#include "bus/Packet.h"
#include "bus/Socket.h"
#include "commands/Dispatch.h"
#include "playback/PublicVariable.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>
#include <vector>

namespace {

using namespace std::chrono;

const uint8_t WorkedPayload[] = {0x01, 0x05};

bool OpenProgramSocket() {
    OwnSubnetID = 1;
    OwnDeviceID = 250;
    BusGeneration = 3;
    return pblInitUDP("127.0.0.1", 0, false) &&
           BroadcastAddressFor(LocalIPOctets) == "127.255.255.255";
}

// A plain broadcasting socket for the bare sendto.
class BareSender {
  public:
    BareSender() {
        fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
        const int on = 1;
        setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
        dest_.sin_family = AF_INET;
        dest_.sin_port = htons(BusDestinationPort);
        inet_pton(AF_INET, "127.255.255.255", &dest_.sin_addr);
    }
    ~BareSender() { close(fd_); }
    void send(const uint8_t* data, size_t len) {
        sendto(fd_, data, len, 0, reinterpret_cast<const sockaddr*>(&dest_), sizeof dest_);
    }

  private:
    int fd_ = -1;
    sockaddr_in dest_{};
};

std::vector<uint8_t> WorkedDatagram() {
    std::vector<uint8_t> out(UDPSendBufferSize);
    out.resize(static_cast<size_t>(FrameDatagram(out, WorkedPayload, 2, 0x0002, 1, 20, false)));
    return out;
}

void BM_FramePacket(benchmark::State& state) {
    OwnSubnetID = 1;
    OwnDeviceID = 250;
    BusGeneration = 3;
    LocalIPOctets = {127, 0, 0, 1};
    std::array<uint8_t, UDPSendBufferSize> out{};
    for (auto _ : state) {
        benchmark::DoNotOptimize(FrameDatagram(out, WorkedPayload, 2, 0x0002, 1, 20, false));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_FramePacket);

void BM_pblSendBUF(benchmark::State& state) {
    if (!OpenProgramSocket()) {
        state.SkipWithError("cannot open the program's socket on loopback");
        return;
    }
    for (auto _ : state)
        pblSendBUF(WorkedPayload, 2, 0x0002, 1, 20, false);
    pblCloseUDP();
}
BENCHMARK(BM_pblSendBUF);

void BM_BareSendto(benchmark::State& state) {
    const std::vector<uint8_t> datagram = WorkedDatagram();
    BareSender sender;
    for (auto _ : state)
        sender.send(datagram.data(), datagram.size());
}
BENCHMARK(BM_BareSendto);

// Both kinds of send measured in alternating batches, so that the ratio is
// taken under the same load: pblSendBUF costs / bare sendto costs.
void BM_SendOverhead(benchmark::State& state) {
    if (!OpenProgramSocket()) {
        state.SkipWithError("cannot open the program's socket on loopback");
        return;
    }
    const std::vector<uint8_t> datagram = WorkedDatagram();
    BareSender sender;
    constexpr int Batch = 256;
    nanoseconds framed{0}, bare{0};
    int64_t batches = 0;
    for (auto _ : state) {
        auto t0 = steady_clock::now();
        for (int i = 0; i < Batch; ++i)
            pblSendBUF(WorkedPayload, 2, 0x0002, 1, 20, false);
        auto t1 = steady_clock::now();
        for (int i = 0; i < Batch; ++i)
            sender.send(datagram.data(), datagram.size());
        auto t2 = steady_clock::now();
        framed += t1 - t0;
        bare += t2 - t1;
        ++batches;
    }
    pblCloseUDP();
    const double sends = static_cast<double>(batches) * Batch;
    const double framedNs = static_cast<double>(framed.count()) / sends;
    const double bareNs = static_cast<double>(bare.count()) / sends;
    state.counters["pblSendBUF_ns"] = framedNs;
    state.counters["sendto_ns"] = bareNs;
    state.counters["ratio"] = bareNs > 0 ? framedNs / bareNs : 0;
}
BENCHMARK(BM_SendOverhead);

// Receives the program's packets on port 6000 with the kernel's arrival stamps.
class StampingReceiver {
  public:
    StampingReceiver() {
        fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
        const int on = 1;
        setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        setsockopt(fd_, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(BusDestinationPort);
        addr.sin_addr.s_addr = htonl(INADDR_ANY);
        if (bind(fd_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    ~StampingReceiver() {
        if (fd_ >= 0)
            close(fd_);
    }
    bool ok() const { return fd_ >= 0; }

    // Arrival stamp of the next datagram from fromPort, or nothing after timeoutMs.
    std::optional<system_clock::time_point> next(uint16_t fromPort, int timeoutMs) {
        const auto deadline = steady_clock::now() + milliseconds(timeoutMs);
        while (steady_clock::now() < deadline) {
            pollfd p{fd_, POLLIN, 0};
            const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
            if (poll(&p, 1, static_cast<int>(std::max<int64_t>(left, 0))) <= 0)
                continue;
            uint8_t buf[2048];
            sockaddr_in from{};
            iovec iov{buf, sizeof buf};
            alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))] = {};
            msghdr msg{};
            msg.msg_name = &from;
            msg.msg_namelen = sizeof from;
            msg.msg_iov = &iov;
            msg.msg_iovlen = 1;
            msg.msg_control = control;
            msg.msg_controllen = sizeof control;
            if (recvmsg(fd_, &msg, 0) < 0 || ntohs(from.sin_port) != fromPort)
                continue;
            for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
                if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
                    timespec ts;
                    std::memcpy(&ts, CMSG_DATA(c), sizeof ts);
                    return system_clock::time_point(duration_cast<system_clock::duration>(
                        seconds(ts.tv_sec) + nanoseconds(ts.tv_nsec)));
                }
            }
            return system_clock::now();
        }
        return std::nullopt;
    }

  private:
    int fd_ = -1;
};

// A list with DelayMS 1000, 0, 500 and -10 sent with the real pause: each
// packet is due at 0, 1000, 1050 and 1550 ms after the list starts.
void BM_ListPauseLateness(benchmark::State& state) {
    StampingReceiver receiver;
    if (!receiver.ok() || !OpenProgramSocket()) {
        state.SkipWithError("cannot bind port 6000 or open the program's socket on loopback");
        return;
    }
    std::vector<TControlObject> list;
    const int32_t delays[] = {1000, 0, 500, -10};
    for (int i = 0; i < 4; ++i) {
        TControlObject c;
        c.SequenceNo = i + 1;
        c.SubnetID = 1;
        c.DeviceID = 20;
        c.FirstParameter = static_cast<uint16_t>(i + 1);
        c.DelayMS = delays[i];
        list.push_back(c);
    }
    const milliseconds due[] = {milliseconds(0), milliseconds(1000), milliseconds(1050),
                                milliseconds(1550)};
    double maxLatenessMs = 0;
    for (auto _ : state) {
        const auto start = system_clock::now();
        RunCommandList(list, false);
        for (int i = 0; i < 4; ++i) {
            const auto arrived = receiver.next(pblBoundPort(), 2000);
            if (!arrived) {
                state.SkipWithError("a packet of the list did not arrive");
                pblCloseUDP();
                return;
            }
            const double late =
                duration_cast<microseconds>(*arrived - (start + due[i])).count() / 1000.0;
            maxLatenessMs = std::max(maxLatenessMs, late);
        }
    }
    pblCloseUDP();
    state.counters["max_lateness_ms"] = maxLatenessMs;
}
BENCHMARK(BM_ListPauseLateness)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
