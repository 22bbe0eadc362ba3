#pragma once
// The settings files: opening the three INI files, and reading System.ini at start-up.
#include <QString>

class IPlayer;

// Whoever shows the status panels (the main window).
class TStatusSink {
  public:
    virtual ~TStatusSink() = default;
    virtual void SetStatusText(int kind, const QString& text, const QString& subnetText,
                               const QString& deviceText, const QString& addressText) = 0;
};

// Opens ShowIniFile, SystemIniFile and LanguageIniFile on the files in the
// program's folder, in that order. A missing file reads as all defaults.
void OpenIniFiles();
// Releases the three handles (program end, and between tests).
void CloseIniFiles();

// Reads System.ini into the program-wide variables, applies volume and mute to
// the player, chooses the local address and writes status panels 1 and 2.
void LoadSystemSettings(IPlayer* wmp, TStatusSink* status);

// The status panel 1 text, e.g. "Subnet ID:1 Device ID:250".
void ShowOwnAddress(TStatusSink* status);
// The status panel 0 text, e.g. "Ready,Port:15000".
QString ReadyPortText();
