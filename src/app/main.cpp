// Cuelark: plays shows and sends their bus commands at their time points.
#include "app/MainCuelark.h"
#include "platform/Messages.h"
#include "platform/SingleInstance.h"

#include <QApplication>
#include <QSocketNotifier>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int signalPipe[2] = {-1, -1};

void OnTerminate(int) {
    const char byte = 1;
    [[maybe_unused]] auto n = ::write(signalPipe[1], &byte, 1);
}

// SIGTERM and SIGINT (a shutdown, a service manager, Ctrl+C) end the program
// the way Exit does, minus the question: the volume is saved, no Stop list
// goes out. The handlers are set first thing, so a signal during start-up
// waits in the pipe until the window can act on it.
void CatchTermination() {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return;
    // A burst of signals must never block the handler: one byte is enough.
    ::fcntl(signalPipe[1], F_SETFL, ::fcntl(signalPipe[1], F_GETFL) | O_NONBLOCK);
    struct sigaction sa {};
    sa.sa_handler = OnTerminate;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
}

void EndOnSignals(TfrmMainCuelark* window) {
    if (signalPipe[0] < 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, window);
    QObject::connect(notifier, &QSocketNotifier::activated, window, [window] {
        char byte;
        [[maybe_unused]] auto n = ::read(signalPipe[0], &byte, 1);
        window->ExitWithoutAsking();
    });
}
} // namespace

int main(int argc, char** argv) {
    CatchTermination();
    QApplication app(argc, argv);
    QApplication::setApplicationName("Cuelark");
    // Hiding the main window to the tray must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);

    TSingleInstance instance(TSingleInstance::DefaultName());
    if (instance.OtherRunning()) {
        ShowMessageBox(MsgKind::Application, nullptr, QString(),
                       "Cuelark Software has already been opened!");
        instance.AskOtherToShow();
        return 0;
    }

    TfrmMainCuelark window;
    if (!window.StartedUp())
        return 1;
    QObject::connect(&instance, &TSingleInstance::ShowRequested, &window,
                     &TfrmMainCuelark::BringToFront);
    EndOnSignals(&window);
    window.show();
    return app.exec();
}
