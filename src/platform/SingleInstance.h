#pragma once
// Only one copy of the program runs per user. The first copy listens on a
// local socket named for the user; a later copy finds it there, asks it to
// bring its window forward, and ends.
#include <QObject>
#include <QString>

class QLocalServer;

class TSingleInstance : public QObject {
    Q_OBJECT
  public:
    // name: the local socket name; DefaultName() for the program itself.
    explicit TSingleInstance(const QString& name, QObject* parent = nullptr);
    ~TSingleInstance() override;

    static QString DefaultName();

    // True when another copy already holds the name.
    bool OtherRunning() const { return otherRunning_; }
    // Asks the running copy to come forward; waits briefly for it to hear.
    void AskOtherToShow();

  signals:
    // A later copy asked this one to come forward.
    void ShowRequested();

  private:
    QString name_;
    bool otherRunning_ = false;
    QLocalServer* server_ = nullptr;
};
