#include "playback/PlayerStateLists.h"

#include "commands/CommandRows.h"
#include "commands/Dispatch.h"
#include "platform/Player.h"
#include "playback/PublicVariable.h"
#include "store/Database.h"

void wmpPlayStateChange(IPlayer* wmp, int newState) {
    if (AppClosing)
        return;
    if (newState != IPlayer::psStopped && newState != IPlayer::psPaused &&
        newState != IPlayer::psPlaying)
        return;
    SendPlayerStateCommands(newState);
    if (newState == IPlayer::psPlaying && wmp && !AppClosing && !wmp->FullScreen())
        wmp->SetFullScreen(true);
}

void SendPlayerStateCommands(int kind) {
    const char* table = nullptr;
    switch (kind) {
    case IPlayer::psStopped:
        table = "CommandsForStop";
        break;
    case IPlayer::psPaused:
        table = "CommandsForPause";
        break;
    case IPlayer::psPlaying:
        table = "CommandsForPlay";
        break;
    default:
        return;
    }
    try {
        if (!DBQuery3)
            return;
        const auto list =
            ReadCommandList(*DBQuery3, QString("select * from ") + table + " order by SequenceNo ");
        RunCommandList(list, true);
    } catch (...) {
    }
}
