// The shared data-access and message helpers: their results, the exact
// messages they show, and that a failure never leaves a query object open.
#include "platform/ProgramFolder.h"
#include "store/Database.h"
#include "store/Helpers.h"
#include "support/MessageRecorder.h"
#include "support/TempProgramFolder.h"

#include <QComboBox>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>

namespace {

class Helpers : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(pblConnectDB(folder.dbPath())); }
    void TearDown() override { pblDisconnectDB(); }

    void exec(const QString& sql) { ASSERT_TRUE(pblExecSQL(DBQuery1, sql)) << sql.toStdString(); }

    TempProgramFolder folder;
    MessageRecorder messages;
};

} // namespace

TEST(CheckNumber, AcceptsPlainDecimalIntegersOtherThanMinusOneWithinTheRange) {
    const QString notANumber = QStringLiteral("Date type is incorrect, only numbers!");
    const QString outOf0to255 = QStringLiteral("Invalid number, scope is within 0-255");
    const struct {
        const char* text;
        bool checkRange;
        int lowest, highest;
        bool ok;
        QString message;
    } cases[] = {
        {"-1", false, 0, 0, false, notANumber},
        {"-1", true, -5, 5, false, notANumber}, // -1 is the "no number" marker
        {"", false, 0, 0, false, notANumber},
        {"0", true, 0, 255, true, {}},
        {"255", true, 0, 255, true, {}},
        {"256", true, 0, 255, false, outOf0to255},
        {"-2", true, 0, 255, false, outOf0to255},
        {"255", true, 0, 254, false, QStringLiteral("Invalid number, scope is within 0-254")},
        {"99999", false, 0, 10, true, {}}, // range ignored
        {"-2", false, 0, 0, true, {}},
        {"+7", true, 0, 255, true, {}},
        {"007", true, 0, 255, true, {}},
        {"2147483647", false, 0, 0, true, {}},
        {"2147483648", false, 0, 0, false, notANumber},
        {"-2147483648", false, 0, 0, true, {}},
        {"abc", false, 0, 0, false, notANumber},
        {"12a", true, 0, 255, false, notANumber},
        {" 12", true, 0, 255, false, notANumber},
        {"12 ", true, 0, 255, false, notANumber},
        {"1.5", false, 0, 0, false, notANumber},
        {"0x10", false, 0, 0, false, notANumber},
        {"$10", false, 0, 0, false, notANumber},
        {"-", false, 0, 0, false, notANumber},
        {"+", false, 0, 0, false, notANumber},
        {"1;drop table Show", false, 0, 0, false, notANumber},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("'") + c.text + "'");
        for (bool show : {false, true}) {
            MessageRecorder messages;
            int value = -12345;
            EXPECT_EQ(pblCheckNumber(QString::fromLatin1(c.text), c.checkRange, c.lowest, c.highest,
                                     show, &value),
                      c.ok);
            if (c.ok)
                EXPECT_EQ(value, QString::fromLatin1(c.text).toInt());
            if (!show || c.message.isEmpty()) {
                EXPECT_TRUE(messages.messages.empty());
                continue;
            }
            ASSERT_EQ(messages.messages.size(), 1u);
            EXPECT_EQ(messages.messages[0].kind, MsgKind::Plain);
            EXPECT_EQ(messages.messages[0].title, QString());
            EXPECT_EQ(messages.messages[0].text, c.message);
        }
    }
}

TEST(SubStr, SplitsAtTheSeparatorAndTrimsEveryPart) {
    const struct {
        const char* text;
        int part;
        char separator;
        bool keepRest;
        const char* expected;
    } cases[] = {
        {"12 - Kitchen - Main", 1, '-', false, "12"},
        {"12 - Kitchen - Main", 2, '-', false, "Kitchen"},
        {"12 - Kitchen - Main", 3, '-', false, "Main"},
        {"12 - Kitchen - Main", 4, '-', false, ""},
        {"12", 1, '-', false, "12"},
        {"12", 2, '-', false, ""},
        {"5:30", 1, ':', false, "5"},
        {"5:30", 2, ':', false, "30"},
        {"a-b-c-d", 3, '-', true, "c-d"},
        {"a-b-c-d", 3, '-', false, "c"},
        {"1-2", 3, '-', true, ""},
        {"12 - Kitchen", 1, '-', true, "12"},
        {"12 - Kitchen", 0, '-', false, ""},
        {"", 1, '-', false, ""},
        {"  padded  ", 1, '-', false, "padded"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " part " + std::to_string(c.part));
        EXPECT_EQ(
            pblGetSubStr(QString::fromLatin1(c.text), c.part, QLatin1Char(c.separator), c.keepRest),
            QString::fromLatin1(c.expected));
    }
}

TEST(QuotedStr, EnclosesAndDoublesInnerQuotes) {
    EXPECT_EQ(pblQuotedStr(QStringLiteral("Kitchen")), QStringLiteral("'Kitchen'"));
    EXPECT_EQ(pblQuotedStr(QString()), QStringLiteral("''"));
    EXPECT_EQ(pblQuotedStr(QStringLiteral("it's")), QStringLiteral("'it''s'"));
}

TEST(AppPath, JoinsTheProgramFolderWithForwardSlashes) {
    SetProgramFolder(QStringLiteral("/opt/show"));
    EXPECT_EQ(pblAppPath(QStringLiteral("Database/DB.sqlite")),
              QStringLiteral("/opt/show/Database/DB.sqlite"));
    EXPECT_EQ(pblAppPath(QStringLiteral("Database\\Show.ini")),
              QStringLiteral("/opt/show/Database/Show.ini"));
    EXPECT_EQ(pblAppPath(QString()), QStringLiteral("/opt/show/"));
    SetProgramFolder(QString());
}

TEST(ComboIndex, FindsTheFirstMatchingEntry) {
    QComboBox combo;
    combo.addItems({QStringLiteral("12 - Kitchen - Main"), QStringLiteral("3 - Hall"),
                    QStringLiteral("  Off  "), QStringLiteral("12 - Kitchen - Side")});
    const struct {
        const char* text;
        bool exact;
        int mode;
        int expected;
    } cases[] = {
        {"Off", true, 1, 2},  // entries are trimmed before comparing
        {"off", true, 1, -1}, // case counts
        {"3 - Hall", true, 0, 1},
        {"3", true, 1, -1},
        {"3", false, 1, 1},
        {"12-Kitchen", false, 2, 0},
        {"12 - Kitchen - Side", false, 2, 0}, // only the first two parts count
        {"12 - Cellar", false, 2, -1},
        {"3", false, 3, -1},
        {"nothing", false, 1, -1},
    };
    MessageRecorder messages;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(GetItemIndexIncboCtrl(&combo, QString::fromLatin1(c.text), c.exact, c.mode),
                  c.expected);
    }
    EXPECT_TRUE(messages.messages.empty());

    EXPECT_EQ(GetItemIndexIncboCtrl(nullptr, QStringLiteral("Off"), true, 1), -1);
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].kind, MsgKind::Error);
    EXPECT_TRUE(messages.messages[0].text.endsWith(QStringLiteral("(GetItemIndexIncboCtrl)")));
}

TEST(MessageBoxes, InquireAndShowMsgUseTheirBoxes) {
    MessageRecorder messages;
    messages.answers = {QMessageBox::Yes, QMessageBox::Cancel};
    EXPECT_EQ(pblInquire(nullptr, QStringLiteral("Delete the show?"), QString()), QMessageBox::Yes);
    EXPECT_EQ(pblInquire(nullptr, QStringLiteral("Really?"), QStringLiteral("Careful")),
              QMessageBox::Cancel);
    EXPECT_EQ(pblInquire(nullptr, QStringLiteral("Unanswered"), QString()), QMessageBox::No);
    pblShowMsg(nullptr, QStringLiteral("Saved."), QString());

    ASSERT_EQ(messages.messages.size(), 4u);
    EXPECT_EQ(messages.messages[0].kind, MsgKind::Question);
    EXPECT_EQ(messages.messages[0].title, QStringLiteral("Inquire"));
    EXPECT_EQ(messages.messages[0].text, QStringLiteral("Delete the show?"));
    EXPECT_EQ(messages.messages[1].title, QStringLiteral("Careful"));
    EXPECT_EQ(messages.messages[3].kind, MsgKind::Plain);
    EXPECT_EQ(messages.messages[3].title, QString());
    EXPECT_EQ(messages.messages[3].text, QStringLiteral("Saved."));
}

TEST_F(Helpers, MaxIndexIsOneInAnEmptyScopeElseHighestPlusOne) {
    EXPECT_EQ(pblGetMaxIndex(DBQuery1, QStringLiteral("Show"), QStringLiteral("ShowID"), {}),
              QStringLiteral("1"));
    for (int id : {1, 2, 7})
        exec(QStringLiteral("insert into Show(ShowID,SequenceNo) values(%1,%1)").arg(id));
    EXPECT_EQ(pblGetMaxIndex(DBQuery1, QStringLiteral("Show"), QStringLiteral("ShowID"), {}),
              QStringLiteral("8"));

    exec(QStringLiteral("insert into TimePoint(ShowID,TimePointID,SecondOfTimePoint) "
                        "values(2,4,10)"));
    EXPECT_EQ(pblGetMaxIndex(DBQuery1, QStringLiteral("TimePoint"), QStringLiteral("TimePointID"),
                             QStringLiteral(" where ShowID=2")),
              QStringLiteral("5"));
    EXPECT_EQ(pblGetMaxIndex(DBQuery1, QStringLiteral("TimePoint"), QStringLiteral("TimePointID"),
                             QStringLiteral(" where ShowID=7")),
              QStringLiteral("1"));
    EXPECT_TRUE(messages.messages.empty());
    EXPECT_FALSE(DBQuery1->Active());

    // A failed query has already said so; the next ID is then 1.
    EXPECT_EQ(pblGetMaxIndex(DBQuery1, QStringLiteral("NoSuchTable"), QStringLiteral("ID"), {}),
              QStringLiteral("1"));
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].kind, MsgKind::Error);
    EXPECT_TRUE(messages.messages[0].text.startsWith(QStringLiteral("no such table: NoSuchTable")))
        << messages.messages[0].text.toStdString();
    EXPECT_TRUE(messages.messages[0].text.endsWith(QStringLiteral("(GetSearchResultFrmDB)")));
    EXPECT_FALSE(DBQuery1->Active());
}

TEST_F(Helpers, SearchResultReadsOneOrTwoFieldsOfTheFirstRow) {
    exec(QStringLiteral("insert into TimePoint(ShowID,TimePointID,SecondOfTimePoint,Remark) "
                        "values(1,1,75,'  Lights up  ')"));
    exec(QStringLiteral("insert into TimePoint(ShowID,TimePointID,SecondOfTimePoint) "
                        "values(1,2,90)"));
    const QString first = QStringLiteral("select * from TimePoint order by TimePointID");
    const QString second = QStringLiteral("select * from TimePoint where TimePointID=2");
    const struct {
        QString sql;
        const char* f1;
        const char* f2;
        const char* expected;
    } cases[] = {
        {first, "Remark", "", "Lights up"},
        {first, "", "SecondOfTimePoint", "75"},
        {first, "secondoftimepoint", "Remark", "75-Lights up"},
        {first, "", "", ""},
        {second, "Remark", "", ""}, // NULL
        {second, "TimePointID", "Remark", "2-"},
        {QStringLiteral("select * from TimePoint where ShowID=9"), "Remark", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sql.toStdString() + " / " + c.f1 + " / " + c.f2);
        EXPECT_EQ(GetSearchResultFrmDB(DBQuery2, c.sql, QLatin1String(c.f1), QLatin1String(c.f2)),
                  QLatin1String(c.expected));
        EXPECT_FALSE(DBQuery2->Active());
    }
    EXPECT_TRUE(messages.messages.empty());
}

TEST_F(Helpers, FailuresAreReportedByRoutineAndLeaveTheQueryClosed) {
    const QString bad = QStringLiteral("select * from NoSuchTable");
    const struct {
        const char* tag; // empty: the routine shows nothing
        std::function<void()> run;
    } cases[] = {
        {"(pblIsExistData)", [&] { EXPECT_FALSE(pblIsExistData(DBQuery1, bad)); }},
        {"(GetSearchResultFrmDB)",
         [&] {
             EXPECT_EQ(GetSearchResultFrmDB(DBQuery1, bad, QStringLiteral("ID"), {}), QString());
         }},
        {"(GetSearchResultFrmDB)", // a field the result does not have
         [&] {
             EXPECT_EQ(GetSearchResultFrmDB(DBQuery1,
                                            QStringLiteral("select * from Define_Curtain_Status"),
                                            QStringLiteral("Nope"), {}),
                       QString());
         }},
        {"",
         [&] { EXPECT_FALSE(pblExecSQL(DBQuery1, QStringLiteral("insert into Nope values(1)"))); }},
        {"",
         [&] { // a key that is taken
             pblExecSQL(DBQuery1, QStringLiteral("insert into Show(ShowID) values(1)"));
             EXPECT_FALSE(
                 pblExecSQL(DBQuery1, QStringLiteral("insert into Show(ShowID) values(1)")));
         }},
        {"(pblIsExistData)",
         [&] { EXPECT_FALSE(pblIsExistData(nullptr, QStringLiteral("select 1"))); }},
        {"", [&] { EXPECT_FALSE(pblExecSQL(nullptr, QStringLiteral("delete from Show"))); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tag);
        messages.clear();
        c.run();
        EXPECT_FALSE(DBQuery1->Active());
        if (!*c.tag) {
            EXPECT_TRUE(messages.messages.empty());
            continue;
        }
        ASSERT_EQ(messages.messages.size(), 1u);
        EXPECT_EQ(messages.messages[0].kind, MsgKind::Error);
        const QString text = messages.messages[0].text;
        EXPECT_TRUE(text.endsWith(QLatin1String(c.tag))) << text.toStdString();
        EXPECT_GT(text.size(), qsizetype(strlen(c.tag))) << "the engine's message comes first";
    }
}

TEST_F(Helpers, ExistDataTellsWhetherRowsCome) {
    const QString sql =
        QStringLiteral("select * from TimePoint where SecondOfTimePoint=75 and ShowID=1");
    EXPECT_FALSE(pblIsExistData(DBQuery1, sql));
    exec(QStringLiteral("insert into TimePoint(ShowID,TimePointID,SecondOfTimePoint) "
                        "values(1,1,75)"));
    EXPECT_TRUE(pblIsExistData(DBQuery1, sql));
    EXPECT_FALSE(pblIsExistData(
        DBQuery1,
        QStringLiteral("select * from TimePoint where SecondOfTimePoint=75 and ShowID=2")));
    EXPECT_FALSE(DBQuery1->Active());
    EXPECT_TRUE(messages.messages.empty());
}

TEST_F(Helpers, QuotedRemarksAreStoredAndReadBackLiterally) {
    exec(QStringLiteral("insert into Show(ShowID,SequenceNo) values(1,1)"));
    const QString remarks[] = {
        QStringLiteral("it's"),       QStringLiteral("x'); delete from Show; --"),
        QStringLiteral("''"),         QStringLiteral("'"),
        QStringLiteral("say \"hi\""), QStringLiteral("K\u00fcche \u2603 -- ;"),
        QStringLiteral("plain"),
    };
    int id = 0;
    for (const QString& remark : remarks) {
        SCOPED_TRACE(remark.toStdString());
        ++id;
        ASSERT_TRUE(pblExecSQL(DBQuery1, QStringLiteral("insert into CommandsForPlay(Remark,"
                                                        "CommandID,SequenceNo) values(") +
                                             pblQuotedStr(remark) +
                                             QStringLiteral(",%1,%1)").arg(id)));
        ASSERT_TRUE(pblExecSQL(DBQuery1, QStringLiteral("update CommandsForPlay set Remark=") +
                                             pblQuotedStr(remark + remark) +
                                             QStringLiteral(" where CommandID=%1").arg(id)));
        EXPECT_EQ(GetSearchResultFrmDB(DBQuery1,
                                       QStringLiteral("select Remark from CommandsForPlay where "
                                                      "CommandID=%1")
                                           .arg(id),
                                       QStringLiteral("Remark"), {}),
                  remark + remark);
        EXPECT_TRUE(pblIsExistData(DBQuery1, QStringLiteral("select * from CommandsForPlay where "
                                                            "Remark=") +
                                                 pblQuotedStr(remark + remark)));
    }
    EXPECT_TRUE(pblIsExistData(DBQuery1, QStringLiteral("select * from Show")))
        << "nothing in a remark runs as a statement";
    EXPECT_TRUE(messages.messages.empty());
}
