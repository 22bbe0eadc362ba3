#include "commands/Dispatch.h"

#include "commands/RWFun.h"
#include "platform/Pause.h"

namespace {
uint8_t Low(uint16_t v) {
    return static_cast<uint8_t>(v & 0xFF);
}
constexpr uint8_t AllChannels = 255;
} // namespace

void SendCommand(uint8_t subnet, uint8_t device, uint8_t commandTypeID, uint16_t first,
                 uint16_t second, uint16_t third) {
    try {
        switch (commandTypeID) {
        case 0:
            SendCmd0002(subnet, device, Low(first), Low(second));
            break;
        case 1:
            SendCmd001A(subnet, device, Low(first), Low(second));
            break;
        case 2:
            SendCmdE01C(subnet, device, Low(first), Low(second));
            break;
        case 4:
            SendCmd0031(subnet, device, Low(first), Low(second), third);
            break;
        case 5:
            SendCmd0002(subnet, device, AllChannels, Low(second));
            break;
        case 6:
            SendCmd0031(subnet, device, AllChannels, Low(second), third);
            break;
        case 7:
            SendCmdE3E0(subnet, device, Low(first), Low(second));
            break;
        case 8:
            SendCmdF116(subnet, device, Low(first), Low(second));
            break;
        case 9:
            SendCmdE3D4(subnet, device, Low(first), Low(second));
            break;
        case 10:
            SendCmdE3D8(subnet, device, Low(first), Low(second));
            break;
        case 11:
            SendCmd0104(subnet, device, Low(first), Low(second));
            break;
        case 12:
            SendCmd010C(subnet, device, Low(first), second, 0, Low(third));
            break;
        default:
            // 3 marks a command not yet edited; unknown kinds are skipped alike.
            break;
        }
    } catch (...) {
    }
}

int CommandPauseMS(int32_t delayMS) {
    return delayMS > 0 ? delayMS : MinCommandPauseMS;
}

void RunCommandList(const std::vector<TControlObject>& commands, bool stopWhenAppClosing) {
    try {
        for (const TControlObject& c : commands) {
            SendCommand(c.SubnetID, c.DeviceID, c.CommandTypeID, c.FirstParameter,
                        c.SecondParameter, c.ThirdParameter);
            PauseMS(CommandPauseMS(c.DelayMS));
            if (stopWhenAppClosing && AppClosing)
                return;
        }
    } catch (...) {
    }
}
