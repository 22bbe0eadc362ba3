#include "support/TempProgramFolder.h"

#include "platform/ProgramFolder.h"
#include "store/Database.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <stdexcept>

TempProgramFolder::TempProgramFolder(bool withDatabase) {
    if (!dir_.isValid())
        throw std::runtime_error("cannot create a temporary folder");
    QDir root(dir_.path());
    root.mkpath("Database");
    root.mkpath("Language");
    root.mkpath("FormsDesignPosition");
    QFile::copy(QStringLiteral(CUELARK_SOURCE_DIR "/resources/Language/English.ini"),
                file("Language/English.ini"));
    writeFile("Database/System.ini", "[ip]\r\nip=127.0.0.1\r\n");
    if (withDatabase)
        CreateDatabaseFromScript(QStringLiteral(CUELARK_SOURCE_DIR "/resources/Database/DB.sql"),
                                 dbPath());
    SetProgramFolder(path());
}

TempProgramFolder::~TempProgramFolder() { SetProgramFolder(QString()); }

QString TempProgramFolder::path() const { return dir_.path() + "/"; }

void TempProgramFolder::execSql(const QString& statements) const {
    const QString name = QUuid::createUuid().toString();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", name);
        db.setDatabaseName(dbPath());
        if (!db.open())
            throw std::runtime_error(db.lastError().text().toStdString());
        for (const QString& s : statements.split(';', Qt::SkipEmptyParts)) {
            if (s.trimmed().isEmpty())
                continue;
            QSqlQuery q(db);
            if (!q.exec(s))
                throw std::runtime_error((s + ": " + q.lastError().text()).toStdString());
        }
    }
    QSqlDatabase::removeDatabase(name);
}

void TempProgramFolder::writeFile(const QString& relative, const QByteArray& content) const {
    QFile f(file(relative));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw std::runtime_error("cannot write " + relative.toStdString());
    f.write(content);
}

QByteArray TempProgramFolder::readFile(const QString& relative) const {
    QFile f(file(relative));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}
