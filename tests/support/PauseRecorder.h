#pragma once
// Keeps the requested pauses instead of sleeping.
#include "platform/Pause.h"

#include <vector>

class PauseRecorder {
public:
    PauseRecorder() {
        SetPauseHandler([this](int ms) { pauses.push_back(ms); });
    }
    ~PauseRecorder() { SetPauseHandler({}); }
    std::vector<int> pauses;
};
