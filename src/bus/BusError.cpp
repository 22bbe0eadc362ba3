#include "bus/BusError.h"

#include "platform/Messages.h"

void ShowBusError(const std::string& text) {
    ShowMessageBox(MsgKind::Error, nullptr, QStringLiteral("Error"), QString::fromStdString(text));
}
