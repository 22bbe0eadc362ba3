#include "platform/SingleInstance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <unistd.h>

namespace {
bool answers(const QString& name) {
    QLocalSocket probe;
    probe.connectToServer(name);
    return probe.waitForConnected(500);
}
} // namespace

QString TSingleInstance::DefaultName() {
    return QStringLiteral("cuelark-%1").arg(static_cast<unsigned>(getuid()));
}

TSingleInstance::TSingleInstance(const QString& name, QObject* parent)
    : QObject(parent), name_(name) {
    // Two copies started at the same moment take turns here, so the second
    // always finds the first listening.
    QLockFile lock(QDir(QDir::tempPath()).filePath(name_ + ".lock"));
    lock.tryLock(3000);
    // Ask first: listening with access options replaces a socket file that
    // another copy is still serving, so a failed listen proves nothing.
    if (answers(name_)) {
        otherRunning_ = true;
        return;
    }
    // A copy that crashed leaves its socket file behind.
    QLocalServer::removeServer(name_);
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    server_->listen(name_);
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* s = server_->nextPendingConnection()) {
            connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
            connect(s, &QLocalSocket::readyRead, this, [this, s] {
                if (s->readAll().contains("show"))
                    emit ShowRequested();
            });
        }
    });
}

TSingleInstance::~TSingleInstance() = default;

void TSingleInstance::AskOtherToShow() {
    QLocalSocket s;
    s.connectToServer(name_);
    if (!s.waitForConnected(500))
        return;
    s.write("show\n");
    s.waitForBytesWritten(500);
    s.disconnectFromServer();
}
