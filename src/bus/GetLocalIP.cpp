#include "bus/GetLocalIP.h"

#include "bus/Socket.h"
#include "playback/PublicVariable.h"
#include "store/IniFile.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

std::array<QString, LocalIPListSize> LocalIPList;

namespace {
QString DottedText(const in_addr& a) {
    char text[INET_ADDRSTRLEN] = {};
    if (!inet_ntop(AF_INET, &a, text, sizeof text))
        return {};
    return QString::fromLatin1(text);
}

// Blanks and control characters around an address, as a hand-edited list may hold.
QString TrimAddress(const QString& s) {
    qsizetype b = 0, e = s.size();
    while (b < e && s[b].unicode() <= ' ')
        ++b;
    while (e > b && s[e - 1].unicode() <= ' ')
        --e;
    return s.mid(b, e - b);
}

QStringList ResolveHostName(const QString& hostName) {
    QStringList out;
    if (hostName.isEmpty())
        return out;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* result = nullptr;
    if (getaddrinfo(hostName.toLocal8Bit().constData(), nullptr, &hints, &result) != 0)
        return out;
    for (addrinfo* ai = result; ai; ai = ai->ai_next) {
        if (ai->ai_family != AF_INET || !ai->ai_addr)
            continue;
        const QString text = DottedText(reinterpret_cast<sockaddr_in*>(ai->ai_addr)->sin_addr);
        if (!text.isEmpty() && !out.contains(text))
            out << text;
    }
    freeaddrinfo(result);
    return out;
}
} // namespace

QString GetLocalComputerName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return {};
    return QString::fromLocal8Bit(name);
}

QStringList OrderLocalAddresses(const QStringList& nonLoopback, const QStringList& loopback) {
    const qsizetype reserved = loopback.isEmpty() ? 0 : 1;
    QStringList out = nonLoopback.mid(0, LocalIPListSize - reserved);
    for (const QString& a : loopback) {
        if (out.size() >= LocalIPListSize)
            break;
        out << a;
    }
    return out;
}

QStringList ComputerIPv4Addresses() {
    QStringList nonLoopback, loopback;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return {};
    for (ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || !(i->ifa_flags & IFF_UP))
            continue;
        const QString text = DottedText(reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr);
        if (text.isEmpty() || nonLoopback.contains(text) || loopback.contains(text))
            continue;
        ((i->ifa_flags & IFF_LOOPBACK) ? loopback : nonLoopback) << text;
    }
    freeifaddrs(list);
    return OrderLocalAddresses(nonLoopback, loopback);
}

void StoreLocalIPList(const QStringList& addresses) {
    for (int i = 0; i < LocalIPListSize; ++i)
        LocalIPList[i] = i < addresses.size() ? addresses[i] : QString();
}

QString GetLocalIP(const QString& hostName) {
    QStringList addresses = ComputerIPv4Addresses();
    if (addresses.isEmpty())
        addresses = ResolveHostName(hostName);
    if (addresses.isEmpty())
        return {};
    StoreLocalIPList(addresses);
    return LocalIPList[0];
}

QString SelectLocalAddressFrom(const QStringList& computerAddresses, const QString& configured,
                               bool* replaced) {
    const QString wanted = TrimAddress(configured);
    for (int i = 0; i < LocalIPListSize && i < computerAddresses.size(); ++i) {
        const QString candidate = TrimAddress(computerAddresses[i]);
        if (!candidate.isEmpty() && candidate == wanted) {
            if (replaced)
                *replaced = false;
            return candidate;
        }
    }
    if (replaced)
        *replaced = true;
    return computerAddresses.isEmpty() ? QString() : TrimAddress(computerAddresses[0]);
}

QString SelectLocalAddress(const QString& configured) {
    GetLocalIP(GetLocalComputerName());
    const QStringList known(LocalIPList.begin(), LocalIPList.end());
    bool replaced = false;
    const QString chosen = SelectLocalAddressFrom(known, configured, &replaced);
    if (replaced && SystemIniFile)
        SystemIniFile->WriteString(QStringLiteral("ip"), QStringLiteral("ip"), chosen);
    LocalIPString = chosen;
    LocalIPOctets = IPOctetsFromString(chosen);
    return chosen;
}
