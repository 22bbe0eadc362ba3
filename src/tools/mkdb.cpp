// cuelark-mkdb --if-missing <script> <database>
//
// Lays down the program's database from the shipped SQL script. An existing
// database holds the user's shows and is never touched, not even its time
// stamps, so a rebuild or reinstall cannot lose data.
#include "store/Database.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStringList>
#include <cstdio>

namespace {

int usage() {
    std::fprintf(stderr, "usage: cuelark-mkdb --if-missing <script.sql> <database file>\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 4 || args[1] != QLatin1String("--if-missing"))
        return usage();
    const QString script = args[2];
    const QString database = args[3];

    const QFileInfo target(database);
    if (target.exists() || target.isSymLink()) {
        if (!target.isFile()) {
            std::fprintf(stderr, "cuelark-mkdb: %s exists but is not a database file\n",
                         qPrintable(database));
            return 1;
        }
        std::printf("cuelark-mkdb: %s already exists; left untouched\n", qPrintable(database));
        return 0;
    }
    try {
        CreateDatabaseFromScript(script, database);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "cuelark-mkdb: %s\n", e.what());
        return 1;
    }
    std::printf("cuelark-mkdb: created %s from %s\n", qPrintable(database), qPrintable(script));
    return 0;
}
