#include "platform/Messages.h"

#include <QApplication>
#include <QWidget>
#include <cstdio>

namespace {
MessageHandler& handler() {
    static MessageHandler h;
    return h;
}
} // namespace

void SetMessageHandler(MessageHandler h) {
    handler() = std::move(h);
}

QMessageBox::StandardButton ShowMessageBox(MsgKind kind, QWidget* owner, const QString& title,
                                           const QString& text) {
    if (handler())
        return handler()(kind, title, text);

    // For runs of the executable that nobody watches (the end-to-end tests):
    // the box goes to standard error and is answered at once, questions with No.
    if (qEnvironmentVariableIsSet("CUELARK_MESSAGE_LOG")) {
        std::fprintf(stderr, "cuelark-message: %s\n", qPrintable(title + "|" + text));
        std::fflush(stderr);
        return kind == MsgKind::Question ? QMessageBox::No : QMessageBox::Ok;
    }

    QMessageBox box(owner ? owner : QApplication::activeWindow());
    box.setWindowTitle(title);
    box.setText(text);
    switch (kind) {
    case MsgKind::Question:
        box.setIcon(QMessageBox::Question);
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::No);
        box.setEscapeButton(QMessageBox::Cancel);
        break;
    case MsgKind::Error:
        box.setIcon(QMessageBox::Critical);
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case MsgKind::Plain:
    case MsgKind::Application:
        box.setIcon(QMessageBox::NoIcon);
        box.setStandardButtons(QMessageBox::Ok);
        break;
    }
    return static_cast<QMessageBox::StandardButton>(box.exec());
}
