// The lookup lists, their searches, and the rendering of stored commands in a
// command list view, on a real database and a real language file.
#include "commands/Lookup.h"
#include "playback/PublicVariable.h"
#include "store/Database.h"
#include "store/Helpers.h"
#include "store/IniFile.h"
#include "support/MessageRecorder.h"
#include "support/TempProgramFolder.h"

#include <QComboBox>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace {

// Captions chosen for the tests; "9" of ControlType and "00012" of
// ParameterOfControlType are missing on purpose.
const QByteArray kLanguage = "[ControlType]\r\n"
                             "0=Scene\r\n1=Sequence\r\n2=Switch\r\n3=New\r\n4=Channel\r\n"
                             "5=Scene all\r\n6=Channel all\r\n7=Curtain\r\n8=Cmd 8\r\n"
                             "10=Cmd 10\r\n11=Mode\r\n12=Alarm\r\n"
                             "[ParameterOfControlType]\r\n"
                             "00001=P1\r\n00002=P2\r\n00003=P3\r\n00004=P4\r\n00005=P5\r\n"
                             "00006=P6\r\n00007=P7\r\n00008=P8\r\n00009=Every area\r\n"
                             "00010=Every channel\r\n00011=P11\r\n";

class Lookup : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetPublicVariables();
        folder.writeFile(QStringLiteral("Language/English.ini"), kLanguage);
        LanguageIniFile = new TIniFile(folder.file(QStringLiteral("Language/English.ini")));
        ASSERT_TRUE(pblConnectDB(folder.dbPath()));
        exec("delete from Define_Universal_Switch_Status;"
             "insert into Define_Universal_Switch_Status(ID,Note) values(255,'On'),(0,'Off');"
             "delete from Define_Curtain_Status;"
             "insert into Define_Curtain_Status(ID,Note) values(1,'Open'),(0,'Stop'),(2,'Close');"
             "delete from Define_Security_Mode;"
             "insert into Define_Security_Mode(ID,Note) values(2,'Away'),(1,'Vacation');"
             "delete from Define_Security_Alarm_Type;"
             "insert into Define_Security_Alarm_Type(ID,Note,Value) "
             "values(2,'Fire',1),(1,'Intrusion',16)");
    }
    void TearDown() override {
        pblDisconnectDB();
        delete LanguageIniFile;
        LanguageIniFile = nullptr;
        ResetPublicVariables();
    }

    void exec(const QString& statements) {
        for (const QString& s : statements.split(';', Qt::SkipEmptyParts))
            ASSERT_TRUE(pblExecSQL(DBQuery1, s)) << s.toStdString();
    }

    void loadAll() {
        LoadUniversalSwitchStatuses();
        LoadCommandTypes();
        LoadSecurityAlarmTypes();
        LoadSecurityModes();
        LoadCurtainStatuses();
    }

    static QStringList rowTexts(const QTreeWidgetItem* item) {
        QStringList texts;
        for (int c = 0; c < 10; ++c)
            texts << item->text(c);
        return texts;
    }

    TempProgramFolder folder;
    MessageRecorder messages;
};

QStringList notes(const std::vector<TDefineNote>& list) {
    QStringList out;
    for (const auto& e : list)
        out << QString::number(e.ID) + QLatin1Char('=') + e.Note;
    return out;
}

} // namespace

TEST_F(Lookup, LoadersFillTheListsInIdOrder) {
    loadAll();
    EXPECT_EQ(notes(UniversalSwitchStatusList), (QStringList{"0=Off", "255=On"}));
    EXPECT_EQ(notes(CurtainStatusList), (QStringList{"0=Stop", "1=Open", "2=Close"}));
    EXPECT_EQ(notes(SecurityModeList), (QStringList{"1=Vacation", "2=Away"}));
    ASSERT_EQ(SecurityAlarmTypeList.size(), 2u);
    EXPECT_EQ(SecurityAlarmTypeList[0].ID, 1);
    EXPECT_EQ(SecurityAlarmTypeList[0].Note, QStringLiteral("Intrusion"));
    EXPECT_EQ(SecurityAlarmTypeList[0].Value, 16);
    EXPECT_EQ(SecurityAlarmTypeList[1].Value, 1);
    // Command type names come from the language file; kind 9 has none there.
    EXPECT_EQ(notes(CommandTypeList),
              (QStringList{"0=Scene", "1=Sequence", "2=Switch", "3=New", "4=Channel", "5=Scene all",
                           "6=Channel all", "7=Curtain", "8=Cmd 8", "9=", "10=Cmd 10", "11=Mode",
                           "12=Alarm"}));
    EXPECT_FALSE(DBQuery1->Active());
    EXPECT_TRUE(messages.messages.empty());
}

TEST_F(Lookup, ShippedFilesNameEveryKindAndCaption) {
    delete LanguageIniFile;
    LanguageIniFile =
        new TIniFile(QStringLiteral(CUELARK_SOURCE_DIR "/resources/Language/English.ini"));
    LoadCommandTypes();
    ASSERT_EQ(CommandTypeList.size(), 13u);
    QStringList names;
    for (const auto& e : CommandTypeList) {
        EXPECT_FALSE(e.Note.isEmpty()) << e.ID;
        EXPECT_FALSE(names.contains(e.Note)) << "the grid editor finds kinds by name";
        names << e.Note;
    }
    for (int k = 1; k <= 12; ++k) {
        const QString caption =
            LanguageString(QStringLiteral("ParameterOfControlType"),
                           QStringLiteral("%1").arg(k, 5, 10, QLatin1Char('0')));
        EXPECT_FALSE(caption.isEmpty()) << k;
        EXPECT_FALSE(caption.contains(QLatin1Char('('))) << "a cell's value ends at the first (";
    }
    for (int k = 23; k <= 35; ++k)
        EXPECT_FALSE(
            LanguageString(QStringLiteral("Public"), QStringLiteral("000%1").arg(k)).isEmpty())
            << k;
}

TEST_F(Lookup, AMissingTableStopsOnlyTheStrictLoaders) {
    loadAll();
    exec("drop table Define_Universal_Switch_Status;drop table Define_Command_Type;"
         "drop table Define_Security_Alarm_Type;drop table Define_Security_Mode;"
         "drop table Define_Curtain_Status");
    EXPECT_THROW(LoadUniversalSwitchStatuses(), EDatabaseError);
    EXPECT_FALSE(DBQuery1->Active());
    EXPECT_THROW(LoadSecurityModes(), EDatabaseError);
    EXPECT_FALSE(DBQuery1->Active());
    EXPECT_NO_THROW(LoadCommandTypes());
    EXPECT_NO_THROW(LoadSecurityAlarmTypes());
    EXPECT_NO_THROW(LoadCurtainStatuses());
    EXPECT_FALSE(DBQuery1->Active());
    // Nothing was read, so the lists keep what they held.
    EXPECT_EQ(CurtainStatusList.size(), 3u);
    EXPECT_EQ(SecurityAlarmTypeList.size(), 2u);
    EXPECT_TRUE(messages.messages.empty());
}

TEST_F(Lookup, AQuietLoaderKeepsTheRowsReadBeforeABadOne) {
    // A table without the strict types, so that a bad value can be stored.
    exec("drop table Define_Security_Alarm_Type;"
         "create table Define_Security_Alarm_Type(ID integer, Note text, Value);"
         "insert into Define_Security_Alarm_Type values(1,'Fire',1),(2,'Smoke','lots'),"
         "(3,'Gas',3)");
    EXPECT_NO_THROW(LoadSecurityAlarmTypes());
    ASSERT_EQ(SecurityAlarmTypeList.size(), 3u);
    EXPECT_EQ(SecurityAlarmTypeList[0].Note, QStringLiteral("Fire"));
    EXPECT_EQ(SecurityAlarmTypeList[0].Value, 1);
    EXPECT_EQ(SecurityAlarmTypeList[2].Note, QString());
    EXPECT_FALSE(DBQuery1->Active());
}

TEST(LookupSearch, FirstMatchInListOrderOrTheNotFoundValue) {
    ResetPublicVariables();
    UniversalSwitchStatusList = {{0, "Off"}, {255, "On"}, {7, "On"}};
    CurtainStatusList = {{0, "Stop"}, {1, "Open"}};
    SecurityModeList = {{2, "Away"}, {1, "Vacation"}};
    SecurityAlarmTypeList = {{1, "Intrusion", 16}, {2, "Fire", 1}};

    EXPECT_EQ(UniversalSwitchStatusNote(255), QStringLiteral("On"));
    EXPECT_EQ(UniversalSwitchStatusNote(1), QString());
    EXPECT_EQ(UniversalSwitchStatusID(QStringLiteral("On")), 255);
    EXPECT_EQ(UniversalSwitchStatusID(QStringLiteral("on")), -1);
    EXPECT_EQ(MatchUniversalSwitchStatus(QStringLiteral("On")), QStringLiteral("On"));
    EXPECT_EQ(MatchUniversalSwitchStatus(QStringLiteral("Dim")), QStringLiteral("Off"));
    EXPECT_EQ(CurtainStatusNote(1), QStringLiteral("Open"));
    EXPECT_EQ(CurtainStatusNote(9), QString());
    EXPECT_EQ(CurtainStatusID(QStringLiteral("Stop")), 0);
    EXPECT_EQ(CurtainStatusID(QStringLiteral("Stop ")), -1);
    EXPECT_EQ(SecurityModeNote(1), QStringLiteral("Vacation"));
    EXPECT_EQ(SecurityModeID(QStringLiteral("Away")), 2);
    EXPECT_EQ(SecurityModeID(QStringLiteral("Night")), -1);
    // Alarm types are found by Value, never by ID.
    EXPECT_EQ(AlarmTypeNote(1), QStringLiteral("Fire"));
    EXPECT_EQ(AlarmTypeNote(16), QStringLiteral("Intrusion"));
    EXPECT_EQ(AlarmTypeNote(2), QString());
    EXPECT_EQ(AlarmTypeValue(QStringLiteral("Intrusion")), 16);
    EXPECT_EQ(AlarmTypeValue(QStringLiteral("Gas")), -1);

    QComboBox combo;
    combo.addItems({QStringLiteral("stale")});
    FillUniversalSwitchStatusCombo(&combo);
    ASSERT_EQ(combo.count(), 3);
    EXPECT_EQ(combo.itemText(0), QStringLiteral("Off"));
    EXPECT_EQ(combo.itemText(2), QStringLiteral("On"));

    ResetPublicVariables();
    EXPECT_EQ(UniversalSwitchStatusID(QStringLiteral("On")), -1);
    EXPECT_EQ(MatchUniversalSwitchStatus(QStringLiteral("On")), QString());
    FillUniversalSwitchStatusCombo(&combo);
    EXPECT_EQ(combo.count(), 0);
}

TEST_F(Lookup, CommandListRendersEveryKind) {
    loadAll();
    const struct {
        int kind;
        const char* first; // stored parameters; "NULL" leaves the column empty
        const char* second;
        const char* third;
        const char* delay;
        const char* remark;
        QStringList shown; // Type, First, Second, Third, Delay
    } cases[] = {
        {0, "3", "4", "0", "100", "'Lobby'", {"Scene", "3(P1)", "4(P2)", "N/A", "100"}},
        {1, "3", "4", "9", "0", "NULL", {"Sequence", "3(P1)", "4(P3)", "N/A", "0"}},
        {2, "12", "255", "0", "NULL", "NULL", {"Switch", "12(P4)", "On(P5)", "N/A", "0"}},
        {2, "12", "77", "0", "50", "NULL", {"Switch", "12(P4)", "(P5)", "N/A", "50"}},
        {3, "0", "0", "0", "NULL", "NULL", {"New", "0", "0", "N/A", "0"}},
        {4, "1", "100", "125", "0", "NULL", {"Channel", "1(P6)", "100(P7)", "2:5(P8)", "0"}},
        {4, "1", "100", "59", "0", "NULL", {"Channel", "1(P6)", "100(P7)", "0:59(P8)", "0"}},
        {4, "1", "100", "NULL", "0", "NULL", {"Channel", "1(P6)", "100(P7)", "0:0(P8)", "0"}},
        {5, "42", "6", "0", "0", "NULL", {"Scene all", "Every area", "6(P2)", "N/A", "0"}},
        {6,
         "42",
         "80",
         "3600",
         "0",
         "NULL",
         {"Channel all", "Every channel", "80(P7)", "60:0(P8)", "0"}},
        {7, "2", "1", "0", "0", "NULL", {"Curtain", "2(P4)", "Open(P5)", "N/A", "0"}},
        {7, "2", "9", "0", "0", "NULL", {"Curtain", "2(P4)", "(P5)", "N/A", "0"}},
        {8, "5", "6", "7", "0", "NULL", {"Cmd 8", "5", "6", "N/A", "0"}},
        {9, "5", "6", "7", "0", "NULL", {"3", "5", "6", "N/A", "0"}}, // no name: "3"
        {10, "5", "6", "7", "0", "NULL", {"Cmd 10", "5", "6", "N/A", "0"}},
        {11, "1", "2", "0", "0", "NULL", {"Mode", "1(P1)", "Away()", "N/A", "0"}}, // no caption
        {12, "1", "1", "7", "0", "NULL", {"Alarm", "1(P1)", "Fire(P11)", "N/A", "0"}},
        {12, "1", "16", "7", "0", "NULL", {"Alarm", "1(P1)", "Intrusion(P11)", "N/A", "0"}},
        {12, "1", "2", "7", "0", "NULL", {"Alarm", "1(P1)", "(P11)", "N/A", "0"}},
        {13, "1", "2", "3", "0", "NULL", {"3", "1", "2", "N/A", "0"}},
    };
    int n = 0;
    for (const auto& c : cases) {
        ++n;
        // SequenceNo runs backwards to show the rows come in statement order.
        exec(QStringLiteral("insert into CommandsForPause(CommandID,SequenceNo,SubnetID,DeviceID,"
                            "CommandTypeID,FirstParameter,SecondParameter,ThirdParameter,"
                            "DelayMS,Remark) values(%1,%2,%3,%4,%5,%6,%7,%8,%9,%10)")
                 .arg(n)
                 .arg(100 - n)
                 .arg(n % 3)
                 .arg(200 + n)
                 .arg(c.kind)
                 .arg(QLatin1String(c.first), QLatin1String(c.second), QLatin1String(c.third),
                      QLatin1String(c.delay), QLatin1String(c.remark)));
    }
    QTreeWidget lsv;
    InitCommandListColumns(&lsv);
    FillCommandListView(&lsv, DBQuery3,
                        QStringLiteral("select * from CommandsForPause order by SequenceNo desc"));
    ASSERT_EQ(lsv.topLevelItemCount(), n);
    for (int i = 0; i < n; ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE("kind " + std::to_string(c.kind) + ", case " + std::to_string(i + 1));
        const QTreeWidgetItem* item = lsv.topLevelItem(i);
        const QString remark = QString::fromLatin1(c.remark) == QLatin1String("NULL")
                                   ? QString()
                                   : QString::fromLatin1(c.remark).remove(QLatin1Char('\''));
        const QStringList expected =
            QStringList{QString::number(i + 1), QString::number(100 - (i + 1)), remark,
                        QString::number((i + 1) % 3), QString::number(200 + i + 1)} +
            c.shown;
        EXPECT_EQ(rowTexts(item), expected);
        EXPECT_TRUE(item->flags() & Qt::ItemIsUserCheckable);
        EXPECT_EQ(item->checkState(0), Qt::Unchecked) << "several rows start unticked";
    }
    EXPECT_FALSE(DBQuery3->Active());
    EXPECT_EQ(CountCheckedItems(&lsv), 0);
    EXPECT_TRUE(messages.messages.empty());
}

TEST_F(Lookup, WithoutALanguageFileCaptionsAreEmpty) {
    loadAll();
    delete LanguageIniFile;
    LanguageIniFile = nullptr;
    exec("insert into CommandsForPlay(CommandID,SequenceNo,SubnetID,DeviceID,CommandTypeID,"
         "FirstParameter,SecondParameter,ThirdParameter) values(1,1,1,2,4,3,100,61)");
    QTreeWidget lsv;
    FillCommandListView(&lsv, DBQuery1, QStringLiteral("select * from CommandsForPlay"));
    ASSERT_EQ(lsv.topLevelItemCount(), 1);
    EXPECT_EQ(rowTexts(lsv.topLevelItem(0)),
              (QStringList{"1", "1", "", "1", "2", "3", "3()", "100()", "1:1()", "0"}));
}

TEST_F(Lookup, ASingleRowStartsTickedAndCountingFollowsTheTicks) {
    const QString sql = QStringLiteral("select * from CommandsForStop order by SequenceNo");
    QTreeWidget lsv;
    InitCommandListColumns(&lsv);
    EXPECT_EQ(CountCheckedItems(&lsv), 0);
    EXPECT_EQ(CountCheckedItems(nullptr), 0);

    exec("insert into CommandsForStop(CommandID,SequenceNo,CommandTypeID) values(1,1,3)");
    FillCommandListView(&lsv, DBQuery3, sql);
    ASSERT_EQ(lsv.topLevelItemCount(), 1);
    EXPECT_EQ(lsv.topLevelItem(0)->checkState(0), Qt::Checked);
    EXPECT_EQ(CountCheckedItems(&lsv), 1);

    exec("insert into CommandsForStop(CommandID,SequenceNo,CommandTypeID) values(2,2,3)");
    FillCommandListView(&lsv, DBQuery3, sql);
    ASSERT_EQ(lsv.topLevelItemCount(), 2) << "a refill replaces the rows";
    EXPECT_EQ(CountCheckedItems(&lsv), 0);
    lsv.topLevelItem(1)->setCheckState(0, Qt::Checked);
    EXPECT_EQ(CountCheckedItems(&lsv), 1);
    lsv.topLevelItem(0)->setCheckState(0, Qt::Checked);
    EXPECT_EQ(CountCheckedItems(&lsv), 2);

    // A statement that fails keeps the rows shown, quietly.
    FillCommandListView(&lsv, DBQuery3, QStringLiteral("select * from NoSuchTable"));
    EXPECT_EQ(lsv.topLevelItemCount(), 2);
    EXPECT_FALSE(DBQuery3->Active());
    EXPECT_TRUE(messages.messages.empty());

    exec("delete from CommandsForStop");
    FillCommandListView(&lsv, DBQuery3, sql);
    EXPECT_EQ(lsv.topLevelItemCount(), 0);
}

TEST(CommandListColumns, HaveTheTenCaptions) {
    QTreeWidget lsv;
    InitCommandListColumns(&lsv);
    ASSERT_EQ(lsv.columnCount(), 10);
    QStringList captions;
    for (int c = 0; c < 10; ++c)
        captions << lsv.headerItem()->text(c);
    EXPECT_EQ(captions, (QStringList{"CMD ID", "Sequence ID", "Remark", "Subnet ID", "Device ID",
                                     "Type", "First Parameter", "Second parameter",
                                     "Third parameter", "Delay(millisecond)"}));
}
