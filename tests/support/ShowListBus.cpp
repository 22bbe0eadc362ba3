#include "support/ShowListBus.h"

#include "app/Settings.h"
#include "platform/Pause.h"
#include "playback/PublicVariable.h"
#include "playback/RunShow.h"
#include "playback/ShowModel.h"
#include "store/Database.h"

void ShowListBusTest::OpenShowList() {
    ASSERT_TRUE(pblConnectDB(folder.dbPath()));
    OpenIniFiles();
    list.setColumnCount(2);
    RefreshShowList(&list, &total);
    QObject::connect(&list, &QTreeWidget::itemSelectionChanged,
                     [this] { StartSelectedShow(&list, &player, CurrentShowIndex); });
}

void ShowListBusTest::TearDown() {
    SetPauseHandler({});
    LoopbackBusTest::TearDown();
    CloseIniFiles();
    pblDisconnectDB();
    ResetPublicVariables();
    EXPECT_TRUE(messages.messages.empty()) << messages.texts().join("; ").toStdString();
}
