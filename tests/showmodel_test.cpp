// Loading the show list and a show's time points into memory.
#include "app/Settings.h"
#include "playback/PublicVariable.h"
#include "playback/ShowModel.h"
#include "store/Database.h"
#include "support/MessageRecorder.h"
#include "support/TempProgramFolder.h"

#include <QLabel>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace {
class ShowModelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetPublicVariables();
        folder.execSql(
            "insert into Show(ShowID,SequenceNo,ActivedUniversalSwitch,UniversalSwitchID) "
            "values(1, 30, 0, 0);"
            "insert into Show(ShowID,SequenceNo,ActivedUniversalSwitch,UniversalSwitchID) "
            "values(2, 10, 1, 3);"
            "insert into Show(ShowID,SequenceNo,ActivedUniversalSwitch,UniversalSwitchID) "
            "values(3, 20, 1, 300)");
        folder.writeFile("Database/Show.ini",
                         "[1]\r\nShowName=Lobby\r\nURL=/media/lobby.mp4\r\n"
                         "[2]\r\nShowName=Garden\r\nURL=/media/garden.mp4\r\n");
        ASSERT_TRUE(pblConnectDB(folder.dbPath()));
        OpenIniFiles();
    }
    void TearDown() override {
        CloseIniFiles();
        pblDisconnectDB();
        ResetPublicVariables();
    }
    QStringList Captions() const {
        QStringList out;
        for (int i = 0; i < list.topLevelItemCount(); ++i)
            out << list.topLevelItem(i)->text(0) + "#" + list.topLevelItem(i)->text(1);
        return out;
    }

    TempProgramFolder folder;
    MessageRecorder messages;
    QTreeWidget list;
    QLabel total;
};

TEST_F(ShowModelTest, ShowsComeInSequenceOrderWithNamesFromShowIni) {
    list.setColumnCount(2);
    RefreshShowList(&list, &total);
    EXPECT_EQ(total.text(), "3");
    // Show 3 has no section in Show.ini: empty name and URL.
    EXPECT_EQ(Captions(), (QStringList{"Garden#2", "#3", "Lobby#1"}));
    ASSERT_EQ(Shows.size(), 3u);
    EXPECT_EQ(Shows[0].ShowID, 2);
    EXPECT_EQ(Shows[0].URL, "/media/garden.mp4");
    EXPECT_EQ(Shows[0].ActivedUniversalSwitch, 1);
    EXPECT_EQ(Shows[0].UniversalSwitchID, 3);
    EXPECT_EQ(Shows[1].URL, "");
    EXPECT_EQ(Shows[1].UniversalSwitchID, 300 & 0xFF);
    EXPECT_EQ(Shows[2].ShowID, 1);
    EXPECT_FALSE(ShowDataChanged);
}

TEST_F(ShowModelTest, TimePointsAndCommandsLoadInOrder) {
    folder.execSql(
        "insert into TimePoint(ShowID,TimePointID,SecondOfTimePoint,Remark) values(2,1,75,'late');"
        "insert into TimePoint(ShowID,TimePointID,SecondOfTimePoint) values(2,2,5);"
        "insert into TimePoint(ShowID,TimePointID,SecondOfTimePoint) values(2,3,75);"
        "insert into CommandsForShow(ShowID,TimePointID,CommandID,SequenceNo,SubnetID,DeviceID,"
        "CommandTypeID,FirstParameter,SecondParameter,ThirdParameter,DelayMS,Remark) "
        "values(2,1,1,2,256,20,4,70000,100,90,1000,'b');"
        "insert into CommandsForShow(ShowID,TimePointID,CommandID,SequenceNo,SubnetID,DeviceID,"
        "CommandTypeID,FirstParameter,SecondParameter,ThirdParameter) "
        "values(2,1,2,1,1,21,0,1,5,0);"
        // Another show's command with the same IDs must not leak in.
        "insert into CommandsForShow(ShowID,TimePointID,CommandID,SequenceNo,SubnetID,DeviceID,"
        "CommandTypeID,FirstParameter,SecondParameter,ThirdParameter) "
        "values(1,1,1,1,9,9,0,9,9,9)");
    RefreshShowList(&list, &total);
    LoadShowTimePoints("2");

    const auto& tps = Shows[0].TimePoints;
    ASSERT_EQ(tps.size(), 3u);
    EXPECT_EQ(tps[0].SecondOfTimePoint, 5);
    EXPECT_TRUE(tps[0].Commands.empty());
    EXPECT_EQ(tps[0].Remark, "");
    // Two time points at one second both load.
    EXPECT_EQ(tps[1].SecondOfTimePoint, 75);
    EXPECT_EQ(tps[2].SecondOfTimePoint, 75);

    const TTimePoint& late = tps[1].TimePointID == 1 ? tps[1] : tps[2];
    EXPECT_EQ(late.Remark, "late");
    ASSERT_EQ(late.Commands.size(), 2u);
    EXPECT_EQ(late.Commands[0].CommandID, 2);
    EXPECT_EQ(late.Commands[0].DelayMS, 0); // NULL reads as 0
    const TControlObject& c = late.Commands[1];
    EXPECT_EQ(c.SubnetID, 0); // 256 keeps its low 8 bits
    EXPECT_EQ(c.DeviceID, 20);
    EXPECT_EQ(c.CommandTypeID, 4);
    EXPECT_EQ(c.FirstParameter, 70000 & 0xFFFF);
    EXPECT_EQ(c.ThirdParameter, 90);
    EXPECT_EQ(c.DelayMS, 1000);
    EXPECT_EQ(c.Remark, "b");

    LoadShowTimePoints("99"); // unknown: nothing happens
    EXPECT_EQ(Shows[0].TimePoints.size(), 3u);
}

// Entries that survive a refresh keep the time points loaded at their position.
TEST_F(ShowModelTest, RefreshKeepsTimePointsByPosition) {
    folder.execSql("insert into TimePoint(ShowID,TimePointID,SecondOfTimePoint) values(2,1,8)");
    RefreshShowList(&list, &total);
    LoadShowTimePoints("2");
    ASSERT_EQ(Shows[0].TimePoints.size(), 1u);

    folder.execSql("delete from Show where ShowID=2");
    RefreshShowList(&list, &total);
    EXPECT_EQ(total.text(), "2");
    ASSERT_EQ(Shows.size(), 2u);
    EXPECT_EQ(Shows[0].ShowID, 3);
    EXPECT_EQ(Shows[0].TimePoints.size(), 1u);
    EXPECT_TRUE(Shows[1].TimePoints.empty());
}
} // namespace
