#pragma once
// Every modal window is run through here, so a test can fill in and press a
// dialog's buttons before or while it runs.
#include <QDialog>
#include <functional>

int ExecModal(QDialog* dialog);

// Called with the dialog instead of running it modally; it returns the
// dialog's result. An empty hook restores the real modal loop.
void SetModalHook(std::function<int(QDialog*)> hook);
