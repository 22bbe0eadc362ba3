#pragma once
// Every message box the program shows goes through here, so tests can record
// what would have been shown and answer question boxes as scripted.
#include <QMessageBox>
#include <QString>
#include <functional>

class QWidget;

enum class MsgKind {
    Plain,       // empty-titled box with one OK button
    Question,    // Yes/No/Cancel with a question icon, No as default
    Error,       // error icon, one OK button
    Application, // application message box (no icon, one OK button)
};

using MessageHandler = std::function<QMessageBox::StandardButton(
    MsgKind kind, const QString& title, const QString& text)>;

// Shows a box of the given kind, owned by owner (may be null), and returns the
// button pressed (Ok for boxes with one button).
QMessageBox::StandardButton ShowMessageBox(MsgKind kind, QWidget* owner, const QString& title,
                                           const QString& text);

// Replaces the real boxes; an empty handler restores them.
void SetMessageHandler(MessageHandler handler);
