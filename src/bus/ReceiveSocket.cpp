#include "bus/ReceiveSocket.h"

#include "bus/Packet.h"
#include "bus/Socket.h"
#include "commands/RWFun.h"
#include "platform/Player.h"
#include "playback/PublicVariable.h"

#include <QTreeWidget>
#include <array>
#include <span>

namespace {
constexpr uint16_t OpUniversalSwitch = 0xE01C;
// Length byte, source subnet and device, device type, opcode, target subnet
// and device, switch number and status.
constexpr size_t UniversalSwitchBodyLength = 11;
} // namespace

void ReceiveStep(QTreeWidget* lsvShow, IPlayer* wmp) {
    try {
        if (AppClosing)
            return;
        std::array<uint8_t, UDPReceiveBufferSize> buffer{};
        QString from;
        const int length = pblRecvFrom(buffer.data(), static_cast<int>(buffer.size()), &from);
        if (length <= 0)
            return;
        if (from.isEmpty() || LocalIPString.isEmpty())
            return;
        const auto body =
            pblAcceptDatagram(std::span<const uint8_t>(buffer.data(), static_cast<size_t>(length)));
        if (!body)
            return;
        HandleUniversalSwitch(body->data(), body->size(), lsvShow, wmp);
    } catch (...) {
    }
}

void HandleUniversalSwitch(const uint8_t* body, size_t length, QTreeWidget* lsvShow, IPlayer* wmp) {
    try {
        // A short body does not hold the switch number and status at all.
        if (length < UniversalSwitchBodyLength)
            return;
        const uint16_t opcode = static_cast<uint16_t>(body[5] << 8 | body[6]);
        if (opcode != OpUniversalSwitch || body[7] != OwnSubnetID || body[8] != OwnDeviceID)
            return;
        const uint8_t number = body[9];
        const uint8_t status = body[10];
        if (Shows.empty())
            return;
        for (size_t i = 0; i < Shows.size(); ++i) {
            if (AppClosing)
                return;
            const TShow& show = Shows[i];
            if (show.ActivedUniversalSwitch != 1 || show.UniversalSwitchID != number)
                continue;
            if (status == 0) {
                wmp->Stop();
            } else if (show.ShowID == PlayingShowID) {
                wmp->Play();
            } else {
                // Selecting the item starts the show through the list's own handler.
                if (QTreeWidgetItem* item = lsvShow->topLevelItem(static_cast<int>(i))) {
                    lsvShow->setCurrentItem(item);
                    item->setSelected(true);
                }
                wmp->Play();
            }
            ReplyCmdE01D(body[1], body[2], number, status);
            return;
        }
    } catch (...) {
    }
}
