#pragma once
// The blocking pause after each sent command. Tests install a recorder that
// keeps the requested milliseconds instead of sleeping.
#include <functional>

void PauseMS(int milliseconds);

// An empty handler restores the real sleep.
void SetPauseHandler(std::function<void(int)> handler);
