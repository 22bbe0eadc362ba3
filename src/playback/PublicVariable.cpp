#include "playback/PublicVariable.h"

uint8_t OwnSubnetID = 0;
uint8_t OwnDeviceID = 0;
uint16_t UDPPort = 0;
uint8_t BusGeneration = 0;
bool DialogSaved = false;
bool ShowDataChanged = false;
bool AppClosing = false;
std::vector<TShow> Shows;
int32_t PlayingShowID = 0;
std::vector<TDefineNote> UniversalSwitchStatusList;
std::vector<TDefineNote> CommandTypeList;
std::vector<TDefineNote> SecurityModeList;
std::vector<TDefineNote> CurtainStatusList;
std::vector<TSecurityAlarmType> SecurityAlarmTypeList;
std::vector<TControlObject> CommandClipboard;
TIniFile* ShowIniFile = nullptr;
TIniFile* SystemIniFile = nullptr;
TIniFile* LanguageIniFile = nullptr;

void ResetPublicVariables() {
    OwnSubnetID = 0;
    OwnDeviceID = 0;
    UDPPort = 0;
    BusGeneration = 0;
    DialogSaved = false;
    ShowDataChanged = false;
    AppClosing = false;
    Shows.clear();
    PlayingShowID = 0;
    UniversalSwitchStatusList.clear();
    CommandTypeList.clear();
    SecurityModeList.clear();
    CurtainStatusList.clear();
    SecurityAlarmTypeList.clear();
    CommandClipboard.clear();
}
