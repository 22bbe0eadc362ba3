#include "platform/ProgramFolder.h"

#include <QCoreApplication>

namespace {
QString& overridden() {
    static QString folder;
    return folder;
}
} // namespace

void SetProgramFolder(const QString& folder) {
    QString f = folder;
    if (!f.isEmpty() && !f.endsWith('/'))
        f += '/';
    overridden() = f;
}

QString ProgramFolder() {
    if (!overridden().isEmpty())
        return overridden();
    QString dir = QCoreApplication::applicationDirPath();
    if (!dir.endsWith('/'))
        dir += '/';
    return dir;
}
