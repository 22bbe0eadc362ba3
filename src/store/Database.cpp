#include "store/Database.h"

#include "platform/Messages.h"

#include <QAtomicInt>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QVariant>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

TDBConnection* DBConnection = nullptr;
TQuery* DBQuery1 = nullptr;
TQuery* DBQuery2 = nullptr;
TQuery* DBQuery3 = nullptr;

namespace {

QString engineMessage(const QSqlError& e) {
    // The database text is the engine's own words ("no such table: X"); the
    // driver text only says which step of the driver failed.
    QString text = e.databaseText().trimmed();
    if (text.isEmpty())
        text = e.driverText().trimmed();
    if (text.isEmpty())
        text = QStringLiteral("Unknown database error");
    return text;
}

[[noreturn]] void throwDbError(const QString& text) {
    throw EDatabaseError(text.toStdString());
}

QString nextConnectionName() {
    static QAtomicInt counter;
    return QStringLiteral("cuelark-db-%1").arg(counter.fetchAndAddRelaxed(1));
}

// Settings every connection gets: a committed transaction is on the disk
// before the commit returns, so a crash or power loss never loses it.
void applyDurableSettings(QSqlDatabase& db) {
    static const char* const pragmas[] = {
        "PRAGMA journal_mode=DELETE",
        "PRAGMA synchronous=FULL",
    };
    for (const char* p : pragmas) {
        QSqlQuery q(db);
        if (!q.exec(QString::fromLatin1(p)))
            throwDbError(engineMessage(q.lastError()));
    }
}

bool fsyncPath(const QString& path, bool directory) {
    const QByteArray native = QFile::encodeName(path);
    int fd = ::open(native.constData(), (directory ? O_RDONLY | O_DIRECTORY : O_RDWR) | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

// Moves from onto to, failing when to exists, so a database that appeared in
// the meantime is never replaced.
bool renameNoReplace(const QString& from, const QString& to, QString* why) {
    const QByteArray f = QFile::encodeName(from);
    const QByteArray t = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, f.constData(), AT_FDCWD, t.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS) {
        *why = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    // File systems without RENAME_NOREPLACE: a hard link fails on an existing name too.
    if (::link(f.constData(), t.constData()) == 0) {
        ::unlink(f.constData());
        return true;
    }
    *why = QString::fromLocal8Bit(std::strerror(errno));
    return false;
}

// Splits a script into statements at semicolons outside quotes and comments.
QStringList splitStatements(const QString& script) {
    QStringList out;
    QString current;
    enum { Normal, Single, Double, Bracket, LineComment, BlockComment } state = Normal;
    for (qsizetype i = 0; i < script.size(); ++i) {
        const QChar c = script[i];
        const QChar n = i + 1 < script.size() ? script[i + 1] : QChar();
        switch (state) {
        case Normal:
            if (c == '-' && n == '-') {
                state = LineComment;
                ++i;
                continue;
            }
            if (c == '/' && n == '*') {
                state = BlockComment;
                ++i;
                continue;
            }
            if (c == ';') {
                if (!current.trimmed().isEmpty())
                    out << current.trimmed();
                current.clear();
                continue;
            }
            if (c == '\'')
                state = Single;
            else if (c == '"')
                state = Double;
            else if (c == '[')
                state = Bracket;
            current += c;
            break;
        case Single:
            current += c;
            if (c == '\'')
                state = Normal; // a doubled quote re-enters at once
            break;
        case Double:
            current += c;
            if (c == '"')
                state = Normal;
            break;
        case Bracket:
            current += c;
            if (c == ']')
                state = Normal;
            break;
        case LineComment:
            if (c == '\n') {
                state = Normal;
                current += c;
            }
            break;
        case BlockComment:
            if (c == '*' && n == '/') {
                state = Normal;
                ++i;
                current += ' ';
            }
            break;
        }
    }
    if (!current.trimmed().isEmpty())
        out << current.trimmed();
    return out;
}

} // namespace

// ---------------------------------------------------------------- connection

TDBConnection::TDBConnection() : connectionName_(nextConnectionName()) {
    db_ = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName_);
}

TDBConnection::~TDBConnection() {
    Close();
    db_ = QSqlDatabase();
    QSqlDatabase::removeDatabase(connectionName_);
}

void TDBConnection::Open(const QString& path) {
    if (!db_.isValid())
        throwDbError(QStringLiteral("The SQLite driver is not available"));
    Close();
    const QFileInfo info(path);
    if (!info.exists())
        throwDbError(QStringLiteral("Database file not found: %1").arg(path));
    if (!info.isFile())
        throwDbError(QStringLiteral("Not a database file: %1").arg(path));
    // mode=rw makes SQLite itself refuse to create the file, even when it
    // vanishes between the check above and the open.
    QUrl url = QUrl::fromLocalFile(info.absoluteFilePath());
    url.setQuery(QStringLiteral("mode=rw"));
    db_.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=5000"));
    db_.setDatabaseName(QString::fromUtf8(url.toEncoded()));
    if (!db_.open()) {
        const QString text = engineMessage(db_.lastError());
        db_.close();
        throwDbError(text);
    }
    try {
        applyDurableSettings(db_);
        // Opening is lazy in SQLite: read the schema now so that a file that
        // is not a database fails here rather than at the first statement.
        QSqlQuery q(db_);
        if (!q.exec(QStringLiteral("select count(*) from sqlite_master")))
            throwDbError(engineMessage(q.lastError()));
    } catch (...) {
        db_.close();
        throw;
    }
}

void TDBConnection::Close() {
    if (db_.isOpen())
        db_.close();
}

bool TDBConnection::Connected() const {
    return db_.isOpen();
}

void TDBConnection::BeginTrans() {
    if (!db_.isOpen())
        throwDbError(QStringLiteral("Database is not open"));
    if (!db_.transaction())
        throwDbError(engineMessage(db_.lastError()));
}

void TDBConnection::CommitTrans() {
    if (!db_.isOpen())
        throwDbError(QStringLiteral("Database is not open"));
    if (!db_.commit())
        throwDbError(engineMessage(db_.lastError()));
}

void TDBConnection::RollbackTrans() {
    if (!db_.isOpen())
        throwDbError(QStringLiteral("Database is not open"));
    if (!db_.rollback())
        throwDbError(engineMessage(db_.lastError()));
}

// ---------------------------------------------------------------- query

TQuery::TQuery(TDBConnection* connection) : connection_(connection) {}

void TQuery::Close() {
    active_ = false;
    rows_.clear();
    pos_ = 0;
}

void TQuery::SetSQL(const QString& sql) {
    sql_.clear();
    sql_ = sql;
}

void TQuery::Open() {
    Close();
    if (!connection_ || !connection_->Connected())
        throwDbError(QStringLiteral("Database is not open"));
    QSqlQuery q(connection_->Database());
    q.setForwardOnly(true);
    if (!q.exec(sql_))
        throwDbError(engineMessage(q.lastError()));
    // The rows are read at once so that no statement stays open on the file
    // while the caller walks them and runs other statements.
    if (q.isSelect()) {
        while (q.next())
            rows_.push_back(q.record());
        if (q.lastError().isValid())
            throwDbError(engineMessage(q.lastError()));
    }
    q.finish();
    pos_ = 0;
    active_ = true;
}

void TQuery::ExecSQL() {
    Close();
    if (!connection_ || !connection_->Connected())
        throwDbError(QStringLiteral("Database is not open"));
    QSqlQuery q(connection_->Database());
    if (!q.exec(sql_))
        throwDbError(engineMessage(q.lastError()));
    q.finish();
}

bool TQuery::Eof() const {
    return !active_ || pos_ >= rows_.size();
}

void TQuery::Next() {
    if (active_ && pos_ < rows_.size())
        ++pos_;
}

int TQuery::RecordCount() const {
    return active_ ? static_cast<int>(rows_.size()) : 0;
}

const QSqlRecord& TQuery::current(const QString& name, int* index) const {
    if (!active_)
        throwDbError(QStringLiteral("Query is not open"));
    if (pos_ >= rows_.size())
        throwDbError(QStringLiteral("No current record"));
    const QSqlRecord& r = rows_[pos_];
    for (int i = 0; i < r.count(); ++i) {
        if (r.fieldName(i).compare(name, Qt::CaseInsensitive) == 0) {
            *index = i;
            return r;
        }
    }
    throwDbError(QStringLiteral("Field '%1' not found").arg(name));
}

QString TQuery::FieldAsString(const QString& name) const {
    int i = 0;
    const QSqlRecord& r = current(name, &i);
    const QVariant v = r.value(i);
    if (v.isNull())
        return QString();
    if (v.typeId() == QMetaType::QByteArray)
        return QString::fromUtf8(v.toByteArray());
    return v.toString();
}

qint64 TQuery::FieldAsInteger(const QString& name) const {
    int i = 0;
    const QSqlRecord& r = current(name, &i);
    const QVariant v = r.value(i);
    if (v.isNull())
        return 0;
    bool ok = false;
    qint64 result = 0;
    switch (v.typeId()) {
    case QMetaType::Double: {
        // Whole numbers only, and only those a 64-bit integer can hold.
        const double d = v.toDouble();
        ok = std::isfinite(d) && d >= -9.2e18 && d <= 9.2e18 && d == std::trunc(d);
        result = ok ? static_cast<qint64>(d) : 0;
        break;
    }
    case QMetaType::QString:
    case QMetaType::QByteArray: {
        const QString text = v.toString().trimmed();
        result = text.isEmpty() ? 0 : text.toLongLong(&ok);
        ok = ok || text.isEmpty();
        break;
    }
    default:
        result = v.toLongLong(&ok);
        break;
    }
    if (!ok)
        throwDbError(QStringLiteral("'%1' is not a valid integer value").arg(v.toString()));
    return result;
}

bool TQuery::FieldIsNull(const QString& name) const {
    int i = 0;
    const QSqlRecord& r = current(name, &i);
    return r.value(i).isNull();
}

// ---------------------------------------------------------------- globals

bool pblConnectDB(const QString& path) {
    try {
        if (!DBConnection)
            DBConnection = new TDBConnection();
        // The query objects exist even when the file cannot be opened, so
        // every later statement fails in its routine instead of crashing.
        if (!DBQuery1)
            DBQuery1 = new TQuery(DBConnection);
        if (!DBQuery2)
            DBQuery2 = new TQuery(DBConnection);
        if (!DBQuery3)
            DBQuery3 = new TQuery(DBConnection);
        if (!DBConnection->Connected())
            DBConnection->Open(path);
        return true;
    } catch (const std::exception& e) {
        ShowMessageBox(MsgKind::Error, nullptr, QStringLiteral("Error"),
                       QString::fromUtf8(e.what()));
        return false;
    }
}

void pblDisconnectDB() {
    delete DBQuery1;
    delete DBQuery2;
    delete DBQuery3;
    DBQuery1 = DBQuery2 = DBQuery3 = nullptr;
    delete DBConnection;
    DBConnection = nullptr;
}

void CreateDatabaseFromScript(const QString& scriptPath, const QString& dbPath) {
    const QFileInfo target(dbPath);
    if (target.exists() || target.isSymLink())
        throwDbError(QStringLiteral("%1 already exists; it is never overwritten").arg(dbPath));
    const QDir folder = target.absoluteDir();
    if (!folder.exists())
        throwDbError(QStringLiteral("Folder %1 does not exist").arg(folder.path()));

    QFile scriptFile(scriptPath);
    if (!scriptFile.open(QIODevice::ReadOnly))
        throwDbError(
            QStringLiteral("Cannot read %1: %2").arg(scriptPath, scriptFile.errorString()));
    const QStringList statements = splitStatements(QString::fromUtf8(scriptFile.readAll()));
    if (statements.isEmpty())
        throwDbError(QStringLiteral("%1 holds no statements").arg(scriptPath));

    // Build beside the target and move it into place only when complete, so
    // that a failure never leaves a half-made database under the real name.
    // The file is made with the usual permissions (umask applies), unlike a
    // temporary file.
    QString tempPath;
    for (int attempt = 0; attempt < 100 && tempPath.isEmpty(); ++attempt) {
        const QString candidate =
            folder.absoluteFilePath(target.fileName() + QStringLiteral(".building-") +
                                    QString::number(QRandomGenerator::global()->generate64(), 36));
        const int fd = ::open(QFile::encodeName(candidate).constData(),
                              O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            tempPath = candidate;
        } else if (errno != EEXIST) {
            throwDbError(QStringLiteral("Cannot create a file in %1: %2")
                             .arg(folder.path(), QString::fromLocal8Bit(std::strerror(errno))));
        }
    }
    if (tempPath.isEmpty())
        throwDbError(QStringLiteral("Cannot create a file in %1").arg(folder.path()));
    struct RemoveUnlessKept {
        QString path;
        bool keep = false;
        ~RemoveUnlessKept() {
            if (!keep)
                QFile::remove(path);
        }
    } temp{tempPath};

    const QString name = nextConnectionName();
    QString failure;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(tempPath);
        if (!db.open()) {
            failure = engineMessage(db.lastError());
        } else {
            try {
                applyDurableSettings(db);
                if (!db.transaction())
                    throwDbError(engineMessage(db.lastError()));
                for (const QString& s : statements) {
                    QSqlQuery q(db);
                    if (!q.exec(s))
                        throwDbError(
                            QStringLiteral("%1\n in: %2").arg(engineMessage(q.lastError()), s));
                }
                if (!db.commit())
                    throwDbError(engineMessage(db.lastError()));
            } catch (const EDatabaseError& e) {
                db.rollback();
                failure = QString::fromUtf8(e.what());
            }
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    QFile::remove(tempPath + QStringLiteral("-journal"));
    if (!failure.isEmpty())
        throwDbError(QStringLiteral("Cannot create %1: %2").arg(dbPath, failure));

    if (!fsyncPath(tempPath, false))
        throwDbError(QStringLiteral("Cannot flush %1 to disk").arg(tempPath));
    QString why;
    if (!renameNoReplace(tempPath, target.absoluteFilePath(), &why))
        throwDbError(QStringLiteral("Cannot move the new database to %1: %2").arg(dbPath, why));
    temp.keep = true;
    fsyncPath(folder.absolutePath(), true);
}
