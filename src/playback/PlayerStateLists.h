#pragma once
// The command lists sent when the player starts playing, pauses or stops.
class IPlayer;

// Handler of the player's state changes: Stopped, Paused and Playing send
// their lists; after the Play list the player goes full screen.
void wmpPlayStateChange(IPlayer* wmp, int newState);

// Sends the stored list for 1 (Stop), 2 (Pause) or 3 (Play), read afresh.
void SendPlayerStateCommands(int kind);
