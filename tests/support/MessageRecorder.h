#pragma once
// Records every message box instead of showing it, and answers question boxes
// from a script (No when the script is empty).
#include "platform/Messages.h"

#include <deque>
#include <vector>

struct RecordedMessage {
    MsgKind kind;
    QString title;
    QString text;
};

class MessageRecorder {
public:
    MessageRecorder();
    ~MessageRecorder();

    std::vector<RecordedMessage> messages;
    std::deque<QMessageBox::StandardButton> answers;

    QStringList texts() const;
    void clear() { messages.clear(); }
};
