#pragma once
// The show list as the main window holds it: a real database and INI files in
// a temporary program folder, the list and its total, the scripted player,
// and the program's socket on the loopback bus.
#include "support/FakePlayer.h"
#include "support/LoopbackBus.h"
#include "support/MessageRecorder.h"
#include "support/TempProgramFolder.h"

#include <QLabel>
#include <QTreeWidget>

class ShowListBusTest : public LoopbackBusTest {
  protected:
    // Opens the folder's database and INI files, fills the list, and starts
    // the selected show whenever the selection changes, as the main window
    // does. Call it once the folder holds the suite's shows.
    void OpenShowList();
    // Closes everything and checks that no message was shown.
    void TearDown() override;

  public:
    // Open to the tables of cases that arrange a fixture from outside.
    TempProgramFolder folder;
    MessageRecorder messages;
    FakePlayer player;
    QTreeWidget list;
    QLabel total;
    int CurrentShowIndex = -1;
};
