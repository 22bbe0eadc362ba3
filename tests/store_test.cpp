// The database file: made once from the shipped script and never overwritten,
// never created by opening, the schema's keys and indexes, and the query
// objects every routine runs its statements on.
#include "store/Database.h"
#include "store/Helpers.h"
#include "support/MessageRecorder.h"
#include "support/TempProgramFolder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QString kScript = QStringLiteral(CUELARK_SOURCE_DIR "/resources/Database/DB.sql");
const QString kMkdb = QStringLiteral(CUELARK_BIN_DIR "/../tools/cuelark-mkdb");

struct ToolRun {
    int exitCode = -1;
    QString out;
    QString err;
};

ToolRun runMkdb(const QStringList& args) {
    QProcess p;
    p.start(kMkdb, args);
    ToolRun r;
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished(5000);
        r.err = QStringLiteral("did not finish");
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

QByteArray fileHash(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash h(QCryptographicHash::Sha256);
    h.addData(&f);
    return h.result();
}

QStringList folderEntries(const QString& path) {
    return QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

// A program folder with the connection and the three query objects open.
class Connected : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(pblConnectDB(folder.dbPath())); }
    void TearDown() override { pblDisconnectDB(); }

    // The steps SQLite plans for a statement.
    static QStringList planOf(const QString& statement) {
        TQuery q(DBConnection);
        q.SetSQL(QStringLiteral("explain query plan ") + statement);
        q.Open();
        QStringList details;
        for (; !q.Eof(); q.Next())
            details << q.FieldAsString(QStringLiteral("detail"));
        return details;
    }

    TempProgramFolder folder;
    MessageRecorder messages;
};

} // namespace

TEST(DatabaseFile, ToolCreatesTheDatabaseOnceAndNeverTouchesItAgain) {
    ASSERT_TRUE(QFileInfo::exists(kMkdb))
        << "build the cuelark-mkdb target first: " << kMkdb.toStdString();
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("DB.sqlite"));

    const ToolRun first = runMkdb({QStringLiteral("--if-missing"), kScript, db});
    ASSERT_EQ(first.exitCode, 0) << first.err.toStdString();
    ASSERT_TRUE(QFileInfo::exists(db));
    EXPECT_EQ(folderEntries(dir.path()), QStringList{QStringLiteral("DB.sqlite")})
        << "no building leftovers beside the database";

    // The user's data from now on.
    {
        TDBConnection c;
        c.Open(db);
        TQuery q(&c);
        q.SetSQL(QStringLiteral("insert into Show(ShowID,SequenceNo,ActivedUniversalSwitch,"
                                "UniversalSwitchID) values(1,1,0,0)"));
        q.ExecSQL();
    }
    // An old time stamp shows whether the second run so much as touched the file.
    QFile(db).setFileTime(QDateTime::fromSecsSinceEpoch(1000000000),
                          QFileDevice::FileModificationTime);
    const QByteArray before = fileHash(db);
    const QDateTime mtime = QFileInfo(db).lastModified();

    const ToolRun second = runMkdb({QStringLiteral("--if-missing"), kScript, db});
    EXPECT_EQ(second.exitCode, 0) << second.err.toStdString();
    EXPECT_TRUE(second.out.contains(QStringLiteral("left untouched"))) << second.out.toStdString();
    EXPECT_EQ(fileHash(db), before);
    EXPECT_EQ(QFileInfo(db).lastModified(), mtime);

    TDBConnection c;
    c.Open(db);
    TQuery q(&c);
    q.SetSQL(QStringLiteral("select * from Show"));
    q.Open();
    EXPECT_EQ(q.RecordCount(), 1) << "the show survived the second run";
}

TEST(DatabaseFile, ToolFailsClearlyAndLeavesNothingBehind) {
    ASSERT_TRUE(QFileInfo::exists(kMkdb)) << kMkdb.toStdString();
    QTemporaryDir dir;
    const QString bad = dir.filePath(QStringLiteral("bad.sql"));
    {
        QFile f(bad);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("create table A (x integer);\ncreate tabel B (y integer);\n");
    }
    const QString db = dir.filePath(QStringLiteral("DB.sqlite"));
    const struct {
        QStringList args;
        int minExit;
    } cases[] = {
        {{QStringLiteral("--if-missing"), bad, db}, 1},
        {{QStringLiteral("--if-missing"), dir.filePath(QStringLiteral("none.sql")), db}, 1},
        {{QStringLiteral("--if-missing"), kScript, dir.filePath(QStringLiteral("no/DB.sqlite"))},
         1},
        {{kScript, db}, 1},
        {{}, 1},
    };
    for (const auto& c : cases) {
        const ToolRun r = runMkdb(c.args);
        SCOPED_TRACE(c.args.join(' ').toStdString());
        EXPECT_GE(r.exitCode, c.minExit);
        EXPECT_FALSE(r.err.trimmed().isEmpty()) << "a failure says why";
        EXPECT_EQ(folderEntries(dir.path()), QStringList{QStringLiteral("bad.sql")});
    }
}

TEST(DatabaseFile, CreatingRefusesAnExistingFile) {
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("DB.sqlite"));
    {
        QFile f(db);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("precious");
    }
    EXPECT_THROW(CreateDatabaseFromScript(kScript, db), EDatabaseError);
    QFile f(db);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("precious"));
    EXPECT_EQ(folderEntries(dir.path()), QStringList{QStringLiteral("DB.sqlite")});
}

TEST(DatabaseFile, OpeningNeverCreatesAFile) {
    TempProgramFolder folder(false);
    MessageRecorder messages;
    ASSERT_FALSE(QFileInfo::exists(folder.dbPath()));

    {
        TDBConnection c;
        EXPECT_THROW(c.Open(folder.dbPath()), EDatabaseError);
        EXPECT_FALSE(c.Connected());
    }
    EXPECT_FALSE(pblConnectDB(folder.dbPath()));
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].kind, MsgKind::Error);
    EXPECT_FALSE(messages.messages[0].text.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(folder.dbPath()));
    EXPECT_EQ(folderEntries(folder.file(QStringLiteral("Database"))),
              QStringList{QStringLiteral("System.ini")});

    // The program starts anyway: later statements fail in their routines
    // instead of crashing, and still create nothing.
    ASSERT_NE(DBQuery1, nullptr);
    messages.clear();
    EXPECT_FALSE(pblExecSQL(DBQuery1, QStringLiteral("delete from Show")));
    EXPECT_FALSE(pblIsExistData(DBQuery2, QStringLiteral("select * from Show")));
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_TRUE(messages.messages[0].text.endsWith(QStringLiteral("(pblIsExistData)")));
    EXPECT_FALSE(QFileInfo::exists(folder.dbPath()));
    pblDisconnectDB();
}

TEST(DatabaseFile, AFileThatIsNoDatabaseIsRefused) {
    TempProgramFolder folder(false);
    MessageRecorder messages;
    folder.writeFile(QStringLiteral("Database/DB.sqlite"), QByteArray(4096, 'x'));
    EXPECT_FALSE(pblConnectDB(folder.dbPath()));
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].kind, MsgKind::Error);
    pblDisconnectDB();
}

TEST_F(Connected, SchemaHasEveryTableAndColumnAndCompareNamesWithoutCase) {
    const struct {
        const char* table;
        const char* columns;
    } tables[] = {
        {"Show", "ShowID,SequenceNo,ActivedUniversalSwitch,UniversalSwitchID"},
        {"TimePoint", "ShowID,TimePointID,SecondOfTimePoint,Remark"},
        {"CommandsForShow", "ShowID,TimePointID,CommandID,SequenceNo,SubnetID,DeviceID,"
                            "CommandTypeID,FirstParameter,SecondParameter,ThirdParameter,DelayMS,"
                            "Remark"},
        {"CommandsForPlay", "CommandID,SequenceNo,SubnetID,DeviceID,CommandTypeID,FirstParameter,"
                            "SecondParameter,ThirdParameter,DelayMS,Remark"},
        {"CommandsForPause", "CommandID,SequenceNo,SubNetID,DeviceID,CommandTypeID,FirstParameter,"
                             "SecondParameter,ThirdParameter,DelayMS,Remark"},
        {"commandsforstop", "COMMANDID,SEQUENCENO,SUBNETID,DEVICEID,COMMANDTYPEID,FIRSTPARAMETER,"
                            "SECONDPARAMETER,THIRDPARAMETER,DELAYMS,REMARK"},
        {"Define_Security_Alarm_Type", "ID,Note,Value"},
        {"Define_Security_Mode", "ID,Note"},
        {"Define_Command_Type", "ID"},
        {"Define_Universal_Switch_Status", "ID,Note"},
        {"Define_Curtain_Status", "ID,Note"},
    };
    for (const auto& t : tables) {
        SCOPED_TRACE(t.table);
        EXPECT_TRUE(pblExecSQL(DBQuery1, QStringLiteral("select ") + QLatin1String(t.columns) +
                                             QStringLiteral(" from ") + QLatin1String(t.table)));
    }
    EXPECT_TRUE(messages.messages.empty());
}

TEST_F(Connected, KeysFollowTheKeyRules) {
    const struct {
        const char* sql;
        bool ok;
    } steps[] = {
        {"insert into Show(ShowID,SequenceNo) values(1,1)", true},
        {"insert into show(ShowID,SequenceNo) values(1,2)", false},
        {"insert into Show(ShowID,SequenceNo) values(2,1)", true}, // SequenceNo is not unique
        {"insert into TimePoint(ShowID,TimePointID,SecondOfTimePoint) values(1,1,75)", true},
        {"insert into TimePoint(ShowID,TimePointID,SecondOfTimePoint) values(1,1,80)", false},
        {"insert into TimePoint(ShowID,TimePointID,SecondOfTimePoint) values(2,1,75)", true},
        {"insert into CommandsForShow(ShowID,TimePointID,CommandID,SequenceNo) values(1,1,1,1)",
         true},
        {"insert into CommandsForShow(ShowID,TimePointID,CommandID,SequenceNo) values(1,1,1,2)",
         false},
        // Commands of different time points may share IDs.
        {"insert into CommandsForShow(ShowID,TimePointID,CommandID,SequenceNo) values(2,1,1,1)",
         true},
        {"insert into CommandsForPlay(CommandID,SequenceNo) values(1,1)", true},
        {"insert into CommandsForPlay(CommandID,SequenceNo) values(1,2)", false},
        {"insert into CommandsForPause(CommandID,SequenceNo) values(1,1)", true},
        {"insert into CommandsForStop(CommandID,SequenceNo) values(1,1)", true},
        // Text never lands in an integer column.
        {"insert into CommandsForStop(CommandID,SequenceNo,DelayMS) values(2,1,'soon')", false},
        {"update CommandsForStop set SubNetID=7 where CommandID=1", true},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.sql);
        EXPECT_EQ(pblExecSQL(DBQuery1, QLatin1String(s.sql)), s.ok);
    }
    EXPECT_EQ(GetSearchResultFrmDB(DBQuery1, QStringLiteral("select SubnetID from CommandsForStop"),
                                   QStringLiteral("SUBNETID"), QString()),
              QStringLiteral("7"));
}

TEST_F(Connected, LookupTablesComeFilledAndThereAreNoShows) {
    const struct {
        const char* sql;
        const char* expected;
    } checks[] = {
        {"select count(*) as N from Show", "0"},
        {"select count(*) as N from TimePoint", "0"},
        {"select count(*) as N from CommandsForShow", "0"},
        {"select count(*) as N from Define_Command_Type where ID between 0 and 12", "13"},
        {"select count(*) as N from Define_Command_Type", "13"},
        {"select count(*) as N from Define_Universal_Switch_Status where ID in (0,255)", "2"},
        {"select count(*) as N from Define_Curtain_Status where ID=0", "1"},
        {"select min(count(*),1) as N from Define_Security_Mode", "1"},
        {"select count(*) as N from Define_Security_Alarm_Type where Value is null or Note is null",
         "0"},
        {"select min(count(*),1) as N from Define_Security_Alarm_Type", "1"},
    };
    for (const auto& c : checks) {
        SCOPED_TRACE(c.sql);
        EXPECT_EQ(GetSearchResultFrmDB(DBQuery1, QLatin1String(c.sql), QStringLiteral("N"), {}),
                  QLatin1String(c.expected));
    }
}

TEST_F(Connected, IndexesServeTheListStatements) {
    const char* statements[] = {
        "select * from Show order by SequenceNo",
        "select * from TimePoint where ShowID=1 order by SecondOfTimePoint",
        "select * from TimePoint where SecondOfTimePoint=75 and ShowID=1",
        "select * from CommandsForShow where ShowID=1 and TimePointID=2 order by SequenceNo",
        "select * from CommandsForPlay order by SequenceNo",
        "select * from CommandsForPause order by SequenceNo",
        "select * from CommandsForStop order by SequenceNo",
    };
    for (const char* s : statements) {
        const QString plan = planOf(QLatin1String(s)).join(QStringLiteral(" | "));
        SCOPED_TRACE(std::string(s) + " -> " + plan.toStdString());
        EXPECT_TRUE(plan.contains(QStringLiteral("INDEX")));
        EXPECT_FALSE(plan.contains(QStringLiteral("TEMP B-TREE"))) << "sorted without an index";
    }
}

TEST_F(Connected, ConnectionIsDurable) {
    EXPECT_EQ(GetSearchResultFrmDB(DBQuery1, QStringLiteral("pragma synchronous"),
                                   QStringLiteral("synchronous"), {}),
              QStringLiteral("2"))
        << "FULL";
    const QString journal = GetSearchResultFrmDB(DBQuery1, QStringLiteral("pragma journal_mode"),
                                                 QStringLiteral("journal_mode"), {});
    EXPECT_TRUE(journal == QStringLiteral("delete") || journal == QStringLiteral("wal"))
        << journal.toStdString();
}

TEST_F(Connected, QueryReadsFieldsByNameWithoutCaseAndNullAsEmpty) {
    ASSERT_TRUE(pblExecSQL(DBQuery1, QStringLiteral("insert into CommandsForPlay(CommandID,"
                                                    "SequenceNo,SubnetID,DeviceID,CommandTypeID,"
                                                    "FirstParameter,SecondParameter,ThirdParameter)"
                                                    " values(4,2,1,20,3,0,0,0)")));
    TQuery& q = *DBQuery1;
    q.Close();
    q.SetSQL(QStringLiteral("select * from CommandsForPlay"));
    q.Open();
    ASSERT_TRUE(q.Active());
    ASSERT_EQ(q.RecordCount(), 1);
    EXPECT_FALSE(q.Eof());
    EXPECT_EQ(q.FieldAsInteger(QStringLiteral("commandid")), 4);
    EXPECT_EQ(q.FieldAsString(QStringLiteral("SubNetID")), QStringLiteral("1"));
    EXPECT_EQ(q.FieldAsInteger(QStringLiteral("DEVICEID")), 20);
    EXPECT_TRUE(q.FieldIsNull(QStringLiteral("DelayMS")));
    EXPECT_EQ(q.FieldAsInteger(QStringLiteral("DelayMS")), 0);
    EXPECT_EQ(q.FieldAsString(QStringLiteral("Remark")), QString());
    EXPECT_THROW(q.FieldAsString(QStringLiteral("NoSuchColumn")), EDatabaseError);
    q.Next();
    EXPECT_TRUE(q.Eof());
    EXPECT_THROW(q.FieldAsString(QStringLiteral("CommandID")), EDatabaseError);
    q.Close();
    EXPECT_FALSE(q.Active());
    EXPECT_EQ(q.RecordCount(), 0);

    q.SetSQL(QStringLiteral("select * from NoSuchTable"));
    try {
        q.Open();
        FAIL() << "a bad statement throws";
    } catch (const EDatabaseError& e) {
        EXPECT_TRUE(QString::fromUtf8(e.what()).contains(QStringLiteral("NoSuchTable")))
            << e.what();
    }
    EXPECT_FALSE(q.Active());
}

TEST_F(Connected, OneQueryCanBeWalkedWhileAnotherWrites) {
    for (int i = 1; i <= 3; ++i)
        ASSERT_TRUE(pblExecSQL(DBQuery1, QStringLiteral("insert into Show(ShowID,SequenceNo) "
                                                        "values(%1,%2)")
                                             .arg(i)
                                             .arg(4 - i)));
    TQuery& walk = *DBQuery2;
    walk.Close();
    walk.SetSQL(QStringLiteral("select * from Show order by SequenceNo"));
    walk.Open();
    QStringList order;
    for (; !walk.Eof(); walk.Next()) {
        const QString id = walk.FieldAsString(QStringLiteral("ShowID"));
        order << id;
        EXPECT_TRUE(pblExecSQL(DBQuery1, QStringLiteral("delete from Show where ShowID=") + id));
    }
    walk.Close();
    EXPECT_EQ(order, (QStringList{"3", "2", "1"}));
    EXPECT_FALSE(pblIsExistData(DBQuery1, QStringLiteral("select * from Show")));
}

TEST_F(Connected, TransactionsCommitForGoodAndRollBackCompletely) {
    DBConnection->BeginTrans();
    EXPECT_TRUE(pblExecSQL(DBQuery1, QStringLiteral("insert into CommandsForPlay(CommandID,"
                                                    "SequenceNo) values(1,1)")));
    EXPECT_FALSE(pblExecSQL(DBQuery1, QStringLiteral("insert into CommandsForPlay(CommandID,"
                                                     "SequenceNo) values(1,2)")));
    DBConnection->RollbackTrans();
    EXPECT_FALSE(pblIsExistData(DBQuery1, QStringLiteral("select * from CommandsForPlay")));

    DBConnection->BeginTrans();
    EXPECT_TRUE(pblExecSQL(DBQuery1, QStringLiteral("insert into CommandsForPlay(CommandID,"
                                                    "SequenceNo) values(1,1)")));
    EXPECT_TRUE(pblExecSQL(DBQuery1, QStringLiteral("insert into CommandsForPlay(CommandID,"
                                                    "SequenceNo) values(2,2)")));
    DBConnection->CommitTrans();
    pblDisconnectDB();

    // A fresh connection sees what was committed.
    ASSERT_TRUE(pblConnectDB(folder.dbPath()));
    EXPECT_EQ(GetSearchResultFrmDB(DBQuery1,
                                   QStringLiteral("select count(*) as N from CommandsForPlay"),
                                   QStringLiteral("N"), {}),
              QStringLiteral("2"));
}

TEST_F(Connected, IntegersReadFromLooselyTypedValuesOnlyWhenWhole) {
    ASSERT_TRUE(pblExecSQL(DBQuery1, QStringLiteral("create table Loose(Value)")));
    ASSERT_TRUE(pblExecSQL(DBQuery1, QStringLiteral("insert into Loose values(2.0),(' 17 '),(''),"
                                                    "(2.5),('x'),(1e300)")));
    const struct {
        bool ok;
        qint64 value;
    } rows[] = {{true, 2}, {true, 17}, {true, 0}, {false, 0}, {false, 0}, {false, 0}};
    TQuery& q = *DBQuery1;
    q.Close();
    q.SetSQL(QStringLiteral("select Value from Loose order by rowid"));
    q.Open();
    for (const auto& r : rows) {
        ASSERT_FALSE(q.Eof());
        SCOPED_TRACE(q.FieldAsString(QStringLiteral("Value")).toStdString());
        if (r.ok)
            EXPECT_EQ(q.FieldAsInteger(QStringLiteral("Value")), r.value);
        else
            EXPECT_THROW(q.FieldAsInteger(QStringLiteral("Value")), EDatabaseError);
        q.Next();
    }
    q.Close();
}
