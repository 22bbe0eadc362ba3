#pragma once
// The error box of the bus routines, kept behind a plain function so that the
// packet code (and the fuzz target built from it) needs no widgets.
#include <string>

// Shows an error box (error icon, one OK button) with the given text.
void ShowBusError(const std::string& text);
