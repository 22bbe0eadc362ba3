#pragma once
// The in-memory show model and the program-wide variables. Everything here is
// read and written on the GUI thread only.
#include <QString>
#include <cstdint>
#include <vector>

class TIniFile;

// One bus command.
struct TControlObject {
    int32_t CommandID = 0;
    int32_t SequenceNo = 0;
    QString Remark;
    uint8_t SubnetID = 0;
    uint8_t DeviceID = 0;
    uint8_t CommandTypeID = 0;
    uint16_t FirstParameter = 0;
    uint16_t SecondParameter = 0;
    uint16_t ThirdParameter = 0;
    int32_t DelayMS = 0;
};

// One time point of a show, with its commands in SequenceNo order.
struct TTimePoint {
    int32_t TimePointID = 0;
    int32_t SecondOfTimePoint = 0;
    QString Remark;
    std::vector<TControlObject> Commands;
};

// One show; TimePoints are filled only by LoadShowTimePoints.
struct TShow {
    int32_t ShowID = 0;
    QString URL;
    uint8_t ActivedUniversalSwitch = 0;
    uint8_t UniversalSwitchID = 0;
    std::vector<TTimePoint> TimePoints;
};

// A row of a lookup list.
struct TDefineNote {
    int32_t ID = 0;
    QString Note;
};

struct TSecurityAlarmType {
    int32_t ID = 0;
    QString Note;
    int32_t Value = 0;
};

extern uint8_t OwnSubnetID;
extern uint8_t OwnDeviceID;
extern uint16_t UDPPort;
extern uint8_t BusGeneration;
extern bool DialogSaved;
extern bool ShowDataChanged;
extern bool AppClosing;
extern std::vector<TShow> Shows;
extern int32_t PlayingShowID;
extern std::vector<TDefineNote> UniversalSwitchStatusList;
extern std::vector<TDefineNote> CommandTypeList;
extern std::vector<TDefineNote> SecurityModeList;
extern std::vector<TDefineNote> CurtainStatusList;
extern std::vector<TSecurityAlarmType> SecurityAlarmTypeList;
extern std::vector<TControlObject> CommandClipboard;
extern TIniFile* ShowIniFile;
extern TIniFile* SystemIniFile;
extern TIniFile* LanguageIniFile;

// Puts every program-wide variable back to its state at program start
// (tests run many start-ups in one process).
void ResetPublicVariables();
