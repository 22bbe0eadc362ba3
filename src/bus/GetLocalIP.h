#pragma once
// The computer's IPv4 addresses and the choice of the local address that goes
// into every datagram header.
#include <QString>
#include <QStringList>
#include <array>

constexpr int LocalIPListSize = 5;

// The computer's addresses as dotted text, at most five; empty slots are "".
extern std::array<QString, LocalIPListSize> LocalIPList;

// The computer's host name.
QString GetLocalComputerName();

// Orders interface addresses for LocalIPList: non-loopback ones first, in the
// given order, loopback ones last, at most five in all. When there are more,
// a slot is kept for the first loopback address, so that 127.0.0.1 can always
// be configured and a machine can be kept off its network.
QStringList OrderLocalAddresses(const QStringList& nonLoopback, const QStringList& loopback);

// The IPv4 addresses of the interfaces that are up, ordered as above.
QStringList ComputerIPv4Addresses();

// Puts the first five addresses into LocalIPList; the remaining slots are cleared.
void StoreLocalIPList(const QStringList& addresses);

// Fills LocalIPList with the computer's addresses (resolving hostName only
// when the interfaces give none) and returns the first, or "" when there is
// none; LocalIPList is then left as it was.
QString GetLocalIP(const QString& hostName);

// The local address among computerAddresses, of which only the first five are
// looked at (blanks and control characters around each are ignored): the
// configured address when it is one of them, else the first of them (which
// may be ""), and *replaced (may be null) is then true.
QString SelectLocalAddressFrom(const QStringList& computerAddresses, const QString& configured,
                               bool* replaced);

// Chooses the local address from the computer's addresses, writes it to
// [ip] "ip" of SystemIniFile (when there is one) when it replaced the
// configured one, and sets LocalIPString and LocalIPOctets. Returns it.
QString SelectLocalAddress(const QString& configured);
