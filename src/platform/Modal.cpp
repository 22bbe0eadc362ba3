#include "platform/Modal.h"

namespace {
std::function<int(QDialog*)>& hook() {
    static std::function<int(QDialog*)> h;
    return h;
}
} // namespace

void SetModalHook(std::function<int(QDialog*)> h) { hook() = std::move(h); }

int ExecModal(QDialog* dialog) {
    if (hook())
        return hook()(dialog);
    return dialog->exec();
}
