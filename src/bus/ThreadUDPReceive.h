#pragma once
// The receive thread. It does no work of its own: it waits on the socket and,
// when a datagram is waiting, hands one receive step to the GUI thread and
// waits for it to run. While the GUI thread is busy, no datagram is taken.
#include <QThread>
#include <functional>

class TthreadUDPReceive : public QThread {
    Q_OBJECT
  public:
    // step runs on the thread of guiContext, which must outlive the thread
    // (its owner asks it to stop and waits for it); the thread deletes itself
    // when it ends.
    TthreadUDPReceive(QObject* guiContext, std::function<void()> step);

  protected:
    void run() override;

  private:
    QObject* guiContext_;
    std::function<void()> step_;
};
