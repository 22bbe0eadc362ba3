#include "support/MessageRecorder.h"

#include <QStringList>

MessageRecorder::MessageRecorder() {
    SetMessageHandler([this](MsgKind kind, const QString& title, const QString& text) {
        messages.push_back({kind, title, text});
        if (kind != MsgKind::Question)
            return QMessageBox::Ok;
        if (answers.empty())
            return QMessageBox::No;
        auto a = answers.front();
        answers.pop_front();
        return a;
    });
}

MessageRecorder::~MessageRecorder() { SetMessageHandler({}); }

QStringList MessageRecorder::texts() const {
    QStringList out;
    for (const auto& m : messages)
        out << m.text;
    return out;
}
