#pragma once
// A temporary folder laid out like an installation: Database/DB.sqlite made
// from the shipped script, Language/English.ini, FormsDesignPosition/, and a
// System.ini that keeps every datagram on loopback. The program folder points
// here for the fixture's lifetime.
#include <QString>
#include <QTemporaryDir>

class TempProgramFolder {
public:
    // withDatabase = false leaves Database/DB.sqlite missing.
    explicit TempProgramFolder(bool withDatabase = true);
    ~TempProgramFolder();

    QString path() const;                 // ends in "/"
    QString file(const QString& relative) const { return path() + relative; }
    QString dbPath() const { return file("Database/DB.sqlite"); }
    // Runs SQL statements (separated by ';') straight on the database file.
    void execSql(const QString& statements) const;
    void writeFile(const QString& relative, const QByteArray& content) const;
    QByteArray readFile(const QString& relative) const;

private:
    QTemporaryDir dir_;
};
