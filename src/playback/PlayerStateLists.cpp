#include "playback/PlayerStateLists.h"

#include "commands/CommandRows.h"
#include "commands/Dispatch.h"
#include "platform/Player.h"
#include "playback/PublicVariable.h"
#include "store/Database.h"

#include <vector>

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
    if (!DBQuery3)
        return;
    // Rows are read up to the first one that cannot be read; those before it
    // still go out, as they would if each were sent as soon as it was read.
    std::vector<TControlObject> list;
    try {
        DBQuery3->Close();
        DBQuery3->SetSQL(QString("select * from ") + table + " order by SequenceNo ");
        DBQuery3->Open();
        for (; !DBQuery3->Eof(); DBQuery3->Next())
            list.push_back(ReadCommandToSend(*DBQuery3));
    } catch (...) {
    }
    DBQuery3->Close();
    RunCommandList(list, true);
}
