#pragma once
// Data-access and message helpers shared by every window. Each catches its
// own errors and turns them into its result (some also show an error box), so
// callers never see an exception from them.
#include <QChar>
#include <QMessageBox>
#include <QString>

class QComboBox;
class QWidget;
class TQuery;

// The program's folder followed directly by relative; "\" in relative
// becomes "/".
QString pblAppPath(const QString& relative);

// Runs a statement without a result; false on any error, without a message.
bool pblExecSQL(TQuery* query, const QString& sql);

// True when the statement returns at least one row. Errors show
// "<engine message>(pblIsExistData)" and give false.
bool pblIsExistData(TQuery* query, const QString& sql);

// The first row's field1 or field2 (trimmed), or both joined by "-"; empty
// when there is no row or no field is named. Errors show
// "<engine message>(GetSearchResultFrmDB)" and give the empty text.
QString GetSearchResultFrmDB(TQuery* query, const QString& sql, const QString& field1,
                             const QString& field2);

// The next free value of column in table (highest + 1, or "1" when there is
// none), as decimal text. condition, when given, is appended after a blank
// and starts with " where ".
QString pblGetMaxIndex(TQuery* query, const QString& table, const QString& column,
                       const QString& condition);

// The text as an SQL string literal: enclosed in single quotes, with every
// quote inside doubled so that the text is stored exactly as given.
QString pblQuotedStr(const QString& text);

// Part partNo (1-based) of text split at separator, trimmed; with keepRest
// the third part runs to the end of the text.
QString pblGetSubStr(const QString& text, int partNo, QChar separator, bool keepRest);

// Index of the first entry of combo matching text, or -1. exact compares the
// trimmed entry with text; otherwise partMode 1 compares the parts before
// the first "-", partMode 2 also the second parts.
int GetItemIndexIncboCtrl(QComboBox* combo, const QString& text, bool exact, int partMode);

// True when text is a plain decimal integer (optional sign, 32-bit) other
// than -1 and, with checkRange, within lowest..highest. With showMessages a
// refusal is explained in a plain box. value, when given, receives the number.
bool pblCheckNumber(const QString& text, bool checkRange, int lowest, int highest,
                    bool showMessages, int* value = nullptr);

// Yes/No/Cancel question box (No is the default); title "Inquire" when empty.
QMessageBox::StandardButton pblInquire(QWidget* owner, const QString& question,
                                       const QString& title);

// Plain box with one OK button.
void pblShowMsg(QWidget* owner, const QString& text, const QString& title);
