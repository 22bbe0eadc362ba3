#include "commands/Lookup.h"

#include "playback/PublicVariable.h"
#include "store/Database.h"
#include "store/IniFile.h"

#include <QComboBox>
#include <QStringList>
#include <QTreeWidget>
#include <QTreeWidgetItem>

namespace {

TQuery& openLookup(const QString& sql) {
    if (!DBQuery1)
        throw EDatabaseError("Query object does not exist");
    DBQuery1->Close();
    DBQuery1->SetSQL(sql);
    DBQuery1->Open();
    return *DBQuery1;
}

void closeLookup() {
    if (DBQuery1)
        DBQuery1->Close();
}

// Reads ID and Note of every row into list; the list has the row count's
// length before the first row is read.
void loadNotes(std::vector<TDefineNote>& list, const QString& sql) {
    TQuery& q = openLookup(sql);
    list.assign(static_cast<size_t>(q.RecordCount()), TDefineNote{});
    for (size_t i = 0; i < list.size() && !q.Eof(); ++i, q.Next()) {
        list[i].ID = static_cast<int32_t>(q.FieldAsInteger(QStringLiteral("ID")));
        list[i].Note = q.FieldAsString(QStringLiteral("Note"));
    }
    closeLookup();
}

template <class List> QString noteOf(const List& list, int id) {
    for (const auto& e : list)
        if (e.ID == id)
            return e.Note;
    return QString();
}

template <class List> int idOf(const List& list, const QString& note) {
    for (const auto& e : list)
        if (e.Note == note)
            return e.ID;
    return -1;
}

} // namespace

// ---------------------------------------------------------------- loaders

void LoadUniversalSwitchStatuses() {
    try {
        loadNotes(UniversalSwitchStatusList,
                  QStringLiteral("select * from Define_Universal_Switch_Status order by ID"));
    } catch (...) {
        closeLookup();
        throw;
    }
}

void LoadCommandTypes() {
    try {
        TQuery& q = openLookup(QStringLiteral("select * from Define_Command_Type order by ID"));
        CommandTypeList.assign(static_cast<size_t>(q.RecordCount()), TDefineNote{});
        for (size_t i = 0; i < CommandTypeList.size() && !q.Eof(); ++i, q.Next()) {
            CommandTypeList[i].ID = static_cast<int32_t>(q.FieldAsInteger(QStringLiteral("ID")));
            CommandTypeList[i].Note = LanguageString(QStringLiteral("ControlType"),
                                                     q.FieldAsString(QStringLiteral("ID")));
        }
        closeLookup();
    } catch (...) {
        closeLookup();
    }
}

void LoadSecurityAlarmTypes() {
    try {
        TQuery& q =
            openLookup(QStringLiteral("select * from Define_Security_Alarm_Type order by ID"));
        SecurityAlarmTypeList.assign(static_cast<size_t>(q.RecordCount()), TSecurityAlarmType{});
        for (size_t i = 0; i < SecurityAlarmTypeList.size() && !q.Eof(); ++i, q.Next()) {
            auto& e = SecurityAlarmTypeList[i];
            e.ID = static_cast<int32_t>(q.FieldAsInteger(QStringLiteral("ID")));
            e.Note = q.FieldAsString(QStringLiteral("Note"));
            e.Value = static_cast<int32_t>(q.FieldAsInteger(QStringLiteral("Value")));
        }
        closeLookup();
    } catch (...) {
        closeLookup();
    }
}

void LoadSecurityModes() {
    try {
        loadNotes(SecurityModeList,
                  QStringLiteral("select * from Define_Security_Mode  order by ID"));
    } catch (...) {
        closeLookup();
        throw;
    }
}

void LoadCurtainStatuses() {
    try {
        loadNotes(CurtainStatusList,
                  QStringLiteral("select * from Define_Curtain_Status order by ID"));
    } catch (...) {
        closeLookup();
    }
}

// ---------------------------------------------------------------- searches

QString UniversalSwitchStatusNote(int id) {
    return noteOf(UniversalSwitchStatusList, id);
}

int UniversalSwitchStatusID(const QString& note) {
    return idOf(UniversalSwitchStatusList, note);
}

QString MatchUniversalSwitchStatus(const QString& note) {
    if (UniversalSwitchStatusList.empty())
        return QString();
    for (const auto& e : UniversalSwitchStatusList)
        if (e.Note == note)
            return e.Note;
    return UniversalSwitchStatusList.front().Note;
}

void FillUniversalSwitchStatusCombo(QComboBox* combo) {
    if (!combo)
        return;
    QStringList notes;
    for (const auto& e : UniversalSwitchStatusList)
        notes << e.Note;
    combo->clear();
    combo->addItems(notes);
}

QString CurtainStatusNote(int id) {
    return noteOf(CurtainStatusList, id);
}

int CurtainStatusID(const QString& note) {
    return idOf(CurtainStatusList, note);
}

QString SecurityModeNote(int id) {
    return noteOf(SecurityModeList, id);
}

int SecurityModeID(const QString& note) {
    return idOf(SecurityModeList, note);
}

QString AlarmTypeNote(int value) {
    for (const auto& e : SecurityAlarmTypeList)
        if (e.Value == value)
            return e.Note;
    return QString();
}

int AlarmTypeValue(const QString& note) {
    for (const auto& e : SecurityAlarmTypeList)
        if (e.Note == note)
            return e.Value;
    return -1;
}

// ---------------------------------------------------------------- texts

QString LanguageString(const QString& section, const QString& key, const QString& defaultValue) {
    if (!LanguageIniFile)
        return defaultValue;
    return LanguageIniFile->ReadString(section, key, defaultValue);
}

QString ParameterLabel(const QString& key) {
    return QLatin1Char('(') + LanguageString(QStringLiteral("ParameterOfControlType"), key) +
           QLatin1Char(')');
}

void InitCommandListColumns(QTreeWidget* lsv) {
    if (!lsv)
        return;
    lsv->setColumnCount(10);
    lsv->setHeaderLabels({QStringLiteral("CMD ID"), QStringLiteral("Sequence ID"),
                          QStringLiteral("Remark"), QStringLiteral("Subnet ID"),
                          QStringLiteral("Device ID"), QStringLiteral("Type"),
                          QStringLiteral("First Parameter"), QStringLiteral("Second parameter"),
                          QStringLiteral("Third parameter"), QStringLiteral("Delay(millisecond)")});
    lsv->setRootIsDecorated(false);
    lsv->setItemsExpandable(false);
    lsv->setUniformRowHeights(true);
    lsv->setAllColumnsShowFocus(true);
}

namespace {

QString parameterEntry(const char* key) {
    return LanguageString(QStringLiteral("ParameterOfControlType"), QLatin1String(key));
}

QString label(const char* key) {
    return ParameterLabel(QLatin1String(key));
}

struct RenderedParameters {
    QString first, second, third;
};

RenderedParameters renderParameters(int kind, const QString& first, const QString& second,
                                    int secondValue, uint16_t third) {
    const QString runTime = QString::number(third / 60) + QLatin1Char(':') +
                            QString::number(third % 60) + label("00008");
    const QString none = QStringLiteral("N/A");
    switch (kind) {
    case 0:
        return {first + label("00001"), second + label("00002"), none};
    case 1:
        return {first + label("00001"), second + label("00003"), none};
    case 2:
        return {first + label("00004"), UniversalSwitchStatusNote(secondValue) + label("00005"),
                none};
    case 4:
        return {first + label("00006"), second + label("00007"), runTime};
    case 5:
        return {parameterEntry("00009"), second + label("00002"), none};
    case 6:
        return {parameterEntry("00010"), second + label("00007"), runTime};
    case 7:
        return {first + label("00004"), CurtainStatusNote(secondValue) + label("00005"), none};
    case 11:
        return {first + label("00001"), SecurityModeNote(secondValue) + label("00012"), none};
    case 12:
        return {first + label("00001"), AlarmTypeNote(secondValue) + label("00011"), none};
    default:
        return {first, second, none};
    }
}

} // namespace

void FillCommandListView(QTreeWidget* lsv, TQuery* query, const QString& sql) {
    try {
        if (!lsv || !query)
            return;
        query->Close();
        query->SetSQL(sql);
        query->Open();
        lsv->clear();
        const Qt::CheckState initial = query->RecordCount() == 1 ? Qt::Checked : Qt::Unchecked;
        for (; !query->Eof(); query->Next()) {
            const QString commandID = query->FieldAsString(QStringLiteral("CommandID"));
            const QString remark = query->FieldAsString(QStringLiteral("Remark"));
            const QString sequenceNo = query->FieldAsString(QStringLiteral("SequenceNo"));
            const QString subnetID = query->FieldAsString(QStringLiteral("SubNetID"));
            const QString deviceID = query->FieldAsString(QStringLiteral("DeviceID"));
            const QString first = query->FieldAsString(QStringLiteral("FirstParameter"));
            const QString second = query->FieldAsString(QStringLiteral("SecondParameter"));
            QString delay = query->FieldAsString(QStringLiteral("DelayMS"));
            const int kind =
                static_cast<int>(query->FieldAsInteger(QStringLiteral("CommandTypeID")));
            const auto third =
                static_cast<uint16_t>(query->FieldAsInteger(QStringLiteral("ThirdParameter")));
            const int secondValue =
                static_cast<int>(query->FieldAsInteger(QStringLiteral("SecondParameter")));

            const QString type = LanguageString(QStringLiteral("ControlType"),
                                                QString::number(kind), QStringLiteral("3"));
            const RenderedParameters p = renderParameters(kind, first, second, secondValue, third);
            if (delay.isEmpty())
                delay = QStringLiteral("0");

            auto* item =
                new QTreeWidgetItem(QStringList{commandID, sequenceNo, remark, subnetID, deviceID,
                                                type, p.first, p.second, p.third, delay});
            item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
            item->setCheckState(0, initial);
            lsv->addTopLevelItem(item);
        }
        query->Close();
    } catch (...) {
        if (query)
            query->Close();
    }
}

int CountCheckedItems(QTreeWidget* lsv) {
    if (!lsv)
        return 0;
    int count = 0;
    for (int i = 0; i < lsv->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = lsv->topLevelItem(i);
        if (item && item->checkState(0) == Qt::Checked)
            ++count;
    }
    return count;
}
