#include "bus/ThreadUDPReceive.h"

#include "bus/Socket.h"

#include <QMetaObject>
#include <QSemaphore>
#include <chrono>
#include <memory>
#include <poll.h>
#include <thread>

namespace {
// How long the thread sleeps in poll() before it looks at its stop request.
// Ten wake-ups a second cost nothing measurable and keep exit prompt.
constexpr int PollTimeoutMs = 100;
} // namespace

TthreadUDPReceive::TthreadUDPReceive(QObject* guiContext, std::function<void()> step)
    : guiContext_(guiContext), step_(std::move(step)) {
    connect(this, &QThread::finished, this, &QObject::deleteLater);
}

void TthreadUDPReceive::run() {
    while (!isInterruptionRequested()) {
        const int fd = pblSocketDescriptor();
        if (fd < 0) {
            // No socket open (a port change failed): look again shortly.
            std::this_thread::sleep_for(std::chrono::milliseconds(PollTimeoutMs));
            continue;
        }
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, PollTimeoutMs);
        if (ready <= 0 || !(p.revents & POLLIN)) {
            if (ready > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(PollTimeoutMs));
            continue;
        }
        // The semaphore outlives this loop if the GUI thread runs the step late.
        auto done = std::make_shared<QSemaphore>(0);
        auto step = step_;
        QMetaObject::invokeMethod(
            guiContext_,
            [done, step] {
                step();
                done->release();
            },
            Qt::QueuedConnection);
        // Never block for good: an exit on the GUI thread must find us gone.
        while (!done->tryAcquire(1, PollTimeoutMs)) {
            if (isInterruptionRequested())
                return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}
