#pragma once
#include <QString>

// The folder every relative path of the program is based on, ending in "/".
// By default the folder of the running executable; tests point it at a
// temporary folder laid out like an installation.
QString ProgramFolder();
void SetProgramFolder(const QString& folder);
