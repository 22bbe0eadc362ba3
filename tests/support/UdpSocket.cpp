#include "support/UdpSocket.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

int BindUdpSocket(uint16_t port, bool nonBlocking, const std::vector<SocketOption>& options) {
    const int fd =
        socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), IPPROTO_UDP);
    if (fd < 0)
        return -1;
    for (const SocketOption& o : options)
        setsockopt(fd, SOL_SOCKET, o.name, &o.value, sizeof o.value);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}
