#pragma once
// The lookup lists read from the Define_ tables, the searches over them, and
// the rendering of stored commands as the texts users see and the command
// grid editor reads back.
#include <QString>

class QComboBox;
class QTreeWidget;
class TQuery;

// Loaders, run once at start-up on DBQuery1. These two let EDatabaseError
// pass to the caller; the other three keep what they filled and stay quiet.
void LoadUniversalSwitchStatuses();
void LoadCommandTypes();
void LoadSecurityAlarmTypes();
void LoadSecurityModes();
void LoadCurtainStatuses();

// Searches: first match in list order; texts compare exactly.
QString UniversalSwitchStatusNote(int id);               // "" when not found
int UniversalSwitchStatusID(const QString& note);        // -1 when not found
QString MatchUniversalSwitchStatus(const QString& note); // note, else the first note, else ""
void FillUniversalSwitchStatusCombo(QComboBox* combo);
QString CurtainStatusNote(int id);
int CurtainStatusID(const QString& note);
QString SecurityModeNote(int id);
int SecurityModeID(const QString& note);
QString AlarmTypeNote(int value); // looked up by Value, not ID
int AlarmTypeValue(const QString& note);

// A text of the language file; defaultValue when the file or entry is missing.
QString LanguageString(const QString& section, const QString& key,
                       const QString& defaultValue = QString());
// "(" + the ParameterOfControlType caption under key + ")".
QString ParameterLabel(const QString& key);

// Sets up the ten columns of a command list view ("CMD ID" ... "Delay(millisecond)").
void InitCommandListColumns(QTreeWidget* lsv);

// Replaces the rows of lsv with the commands the statement returns, in
// result order. A single row starts ticked, several start unticked. Errors
// are swallowed; the rows added before them stay.
void FillCommandListView(QTreeWidget* lsv, TQuery* query, const QString& sql);

// The number of ticked rows; 0 when anything goes wrong.
int CountCheckedItems(QTreeWidget* lsv);
