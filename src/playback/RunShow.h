#pragma once
// Starting a show from the show list, and the run-show timer that fires the
// current show's time points while the player plays.
class IPlayer;
class QTreeWidget;

// Starts the show selected in the list: loads its time points when its media
// differ from what the player holds, and plays.
void StartSelectedShow(QTreeWidget* lsvShow, IPlayer* wmp, int& CurrentShowIndex);

// One tick: while the player plays, sends the commands of every time point of
// the current show whose second equals the truncated position.
void timerRunShowTimer(IPlayer* wmp, int CurrentShowIndex);
