#include "app/Settings.h"

#include "bus/GetLocalIP.h"
#include "bus/Socket.h"
#include "platform/Messages.h"
#include "platform/Player.h"
#include "playback/PublicVariable.h"
#include "store/Helpers.h"
#include "store/IniFile.h"

namespace {
// A malformed entry reads as its default instead of ending the reading: one
// typo in an ID must not leave the port and the local address unread.
int IntegerOr(const QString& text, int fallback) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    return ok ? value : fallback;
}

QString SystemValue(const QString& section, const QString& key, const QString& fallback) {
    return SystemIniFile ? SystemIniFile->ReadString(section, key, fallback) : fallback;
}
} // namespace

void OpenIniFiles() {
    try {
        CloseIniFiles();
        ShowIniFile = new TIniFile(pblAppPath("Database/Show.ini"));
        SystemIniFile = new TIniFile(pblAppPath("Database/System.ini"));
        LanguageIniFile = new TIniFile(pblAppPath("Language/English.ini"));
    } catch (const std::exception& e) {
        ShowMessageBox(MsgKind::Error, nullptr, QString(), QString::fromLocal8Bit(e.what()));
    }
}

void CloseIniFiles() {
    delete ShowIniFile;
    delete SystemIniFile;
    delete LanguageIniFile;
    ShowIniFile = SystemIniFile = LanguageIniFile = nullptr;
}

QString ReadyPortText() {
    return "Ready,Port:" + QString::number(UDPPort);
}

void ShowOwnAddress(TStatusSink* status) {
    if (status)
        status->SetStatusText(1, QString(), QString::number(OwnSubnetID),
                              QString::number(OwnDeviceID), QString());
}

void LoadSystemSettings(IPlayer* wmp, TStatusSink* status) {
    try {
        OwnSubnetID = static_cast<uint8_t>(IntegerOr(SystemValue("SubnetID", "SubnetID", "0"), 0));
        OwnDeviceID = static_cast<uint8_t>(IntegerOr(SystemValue("DeviceID", "DeviceID", "0"), 0));
        const QString configuredIP = SystemValue("ip", "ip", QString());
        const QString portText = SystemValue("Port", "Port", QString());

        const QString generation = SystemValue("Generation", "GenerationNo", "3");
        if (pblCheckNumber(generation, true, 1, 255, false)) {
            BusGeneration = static_cast<uint8_t>(generation.toInt());
            if (BusGeneration < 4)
                BusGeneration = 3;
        } else {
            BusGeneration = 3;
        }

        UDPPort = pblCheckNumber(portText, true, 0, 65535, false)
                      ? static_cast<uint16_t>(portText.toInt())
                      : 15000;

        const int mute = IntegerOr(SystemValue("IP", "MUTE", "0"), 0);
        const int volume = IntegerOr(SystemValue("IP", "VOL", "20"), 20) & 0xFF;
        if (wmp) {
            if (mute == 1) {
                wmp->SetVolume(volume);
                wmp->SetMute(true);
            } else {
                wmp->SetMute(false);
                wmp->SetVolume(volume);
            }
        }

        SelectLocalAddress(configuredIP);

        ShowOwnAddress(status);
        if (status)
            status->SetStatusText(2, QString(), QString(), QString(), LocalIPString);
    } catch (...) {
    }
}
