#pragma once
// The one database connection and the query objects that run every statement.
// Query objects follow a close / replace statement / open protocol, read fields
// by name without regard to case, and read NULL as 0 or the empty text.
#include <QSqlDatabase>
#include <QSqlRecord>
#include <QString>
#include <stdexcept>
#include <vector>

// Raised by the database layer; what() carries the engine's message.
class EDatabaseError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class TDBConnection {
  public:
    TDBConnection();
    ~TDBConnection();
    TDBConnection(const TDBConnection&) = delete;
    TDBConnection& operator=(const TDBConnection&) = delete;

    // Opens an existing database file; never creates one. Throws EDatabaseError.
    void Open(const QString& path);
    void Close();
    bool Connected() const;
    QSqlDatabase& Database() { return db_; }

    // Throw EDatabaseError on failure.
    void BeginTrans();
    void CommitTrans();
    void RollbackTrans();

  private:
    QString connectionName_;
    QSqlDatabase db_;
};

class TQuery {
  public:
    explicit TQuery(TDBConnection* connection);

    void Close();
    // Clears the statement text and sets the new one.
    void SetSQL(const QString& sql);
    const QString& SQL() const { return sql_; }
    // Runs a statement that returns rows and positions on the first row.
    // Throws EDatabaseError with the engine's message.
    void Open();
    // Runs a statement without a result. Throws EDatabaseError.
    void ExecSQL();

    bool Active() const { return active_; }
    bool Eof() const;
    void Next();
    int RecordCount() const;

    // Fields of the current row by name, without regard to case.
    // A missing field throws EDatabaseError; NULL reads as "" or 0.
    QString FieldAsString(const QString& name) const;
    // Text that is not a whole number throws EDatabaseError.
    qint64 FieldAsInteger(const QString& name) const;
    bool FieldIsNull(const QString& name) const;

  private:
    const QSqlRecord& current(const QString& name, int* index) const;

    TDBConnection* connection_;
    QString sql_;
    bool active_ = false;
    std::vector<QSqlRecord> rows_;
    size_t pos_ = 0;
};

extern TDBConnection* DBConnection;
extern TQuery* DBQuery1;
extern TQuery* DBQuery2;
extern TQuery* DBQuery3;

// Opens the database file at path (an existing file only). On failure shows the
// engine's message in an error box and returns false; the program goes on.
bool pblConnectDB(const QString& path);

// Deletes the query objects and the connection and clears the globals; the
// program calls it once at its end (tests between cases).
void pblDisconnectDB();

// Creates a database file from an SQL script; refuses when the file exists.
// Throws EDatabaseError with a readable reason.
void CreateDatabaseFromScript(const QString& scriptPath, const QString& dbPath);
