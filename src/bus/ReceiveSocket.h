#pragma once
// Taking datagrams off the socket and acting on universal-switch commands
// addressed to this program. Runs on the GUI thread only.
#include <cstddef>
#include <cstdint>

class IPlayer;
class QTreeWidget;

// One poll of the socket: takes at most one datagram and, when it is an
// accepted packet, hands its body on.
void ReceiveStep(QTreeWidget* lsvShow, IPlayer* wmp);

// Acts on one accepted packet body (length byte first): a universal-switch
// command to our own subnet and device starts or stops the show bound to the
// switch and is answered.
void HandleUniversalSwitch(const uint8_t* body, size_t length, QTreeWidget* lsvShow, IPlayer* wmp);
