#include "platform/Pause.h"

#include <chrono>
#include <thread>

namespace {
std::function<void(int)>& handler() {
    static std::function<void(int)> h;
    return h;
}
} // namespace

void SetPauseHandler(std::function<void(int)> h) { handler() = std::move(h); }

void PauseMS(int milliseconds) {
    if (handler()) {
        handler()(milliseconds);
        return;
    }
    if (milliseconds > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
