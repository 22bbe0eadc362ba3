#include "store/Helpers.h"

#include "platform/Messages.h"
#include "platform/ProgramFolder.h"
#include "store/Database.h"

#include <QComboBox>
#include <exception>
#include <limits>
#include <stdexcept>

namespace {

const QString kErrorTitle = QStringLiteral("Error");

void showError(const QString& text) {
    ShowMessageBox(MsgKind::Error, nullptr, kErrorTitle, text);
}

QString messageOf(const std::exception& e) {
    return QString::fromUtf8(e.what());
}

TQuery& require(TQuery* query) {
    if (!query)
        throw EDatabaseError("Query object does not exist");
    return *query;
}

// Every statement goes the same way: close, replace the text, run.
void prepare(TQuery& q, const QString& sql) {
    q.Close();
    q.SetSQL(QString());
    q.SetSQL(sql);
}

void closeQuietly(TQuery* query) {
    if (query)
        query->Close();
}

} // namespace

QString pblAppPath(const QString& relative) {
    QString r = relative;
    r.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return ProgramFolder() + r;
}

bool pblExecSQL(TQuery* query, const QString& sql) {
    try {
        TQuery& q = require(query);
        prepare(q, sql);
        q.ExecSQL();
        q.Close();
        return true;
    } catch (...) {
        closeQuietly(query);
        return false;
    }
}

bool pblIsExistData(TQuery* query, const QString& sql) {
    try {
        TQuery& q = require(query);
        prepare(q, sql);
        q.Open();
        const bool found = !q.Eof();
        q.Close();
        return found;
    } catch (const std::exception& e) {
        closeQuietly(query);
        showError(messageOf(e) + QStringLiteral("(pblIsExistData)"));
        return false;
    }
}

QString GetSearchResultFrmDB(TQuery* query, const QString& sql, const QString& field1,
                             const QString& field2) {
    try {
        TQuery& q = require(query);
        prepare(q, sql);
        q.Open();
        QString value;
        if (!q.Eof()) {
            const bool has1 = !field1.isEmpty();
            const bool has2 = !field2.isEmpty();
            if (has1 && has2)
                value = q.FieldAsString(field1).trimmed() + QLatin1Char('-') +
                        q.FieldAsString(field2).trimmed();
            else if (has1)
                value = q.FieldAsString(field1).trimmed();
            else if (has2)
                value = q.FieldAsString(field2).trimmed();
        }
        q.Close();
        return value;
    } catch (const std::exception& e) {
        closeQuietly(query);
        showError(messageOf(e) + QStringLiteral("(GetSearchResultFrmDB)"));
        return QString();
    }
}

QString pblGetMaxIndex(TQuery* query, const QString& table, const QString& column,
                       const QString& condition) {
    QString sql = QStringLiteral("select Max(") + column + QStringLiteral(") as MaxIndex ") +
                  QStringLiteral(" from ") + table;
    if (!condition.isEmpty())
        sql += QLatin1Char(' ') + condition;
    const QString highest = GetSearchResultFrmDB(query, sql, QStringLiteral("MaxIndex"), QString());
    if (highest.isEmpty())
        return QStringLiteral("1");
    bool ok = false;
    const int value = highest.toInt(&ok);
    if (!ok || value == std::numeric_limits<int>::max())
        return QString();
    return QString::number(value + 1);
}

QString pblQuotedStr(const QString& text) {
    QString inner = text;
    inner.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + inner + QLatin1Char('\'');
}

QString pblGetSubStr(const QString& text, int partNo, QChar separator, bool keepRest) {
    QString rest = text;
    QString result;
    for (int i = 1; i <= partNo; ++i) {
        const qsizetype pos = rest.indexOf(separator);
        if (pos >= 0) {
            if (keepRest && i == 3) {
                result = rest.trimmed();
            } else {
                result = rest.left(pos).trimmed();
                rest = rest.mid(pos + 1).trimmed();
            }
        } else if (i == partNo) {
            result = rest.trimmed();
        } else {
            result.clear();
            break;
        }
    }
    return result;
}

int GetItemIndexIncboCtrl(QComboBox* combo, const QString& text, bool exact, int partMode) {
    try {
        if (!combo)
            throw std::runtime_error("Combo box does not exist");
        const QChar dash = QLatin1Char('-');
        const QString given1 = pblGetSubStr(text, 1, dash, true);
        const QString given2 = pblGetSubStr(text, 2, dash, true);
        for (int i = 0; i < combo->count(); ++i) {
            const QString entry = combo->itemText(i).trimmed();
            bool match = false;
            if (exact)
                match = entry == text;
            else if (partMode == 1)
                match = pblGetSubStr(entry, 1, dash, true) == given1;
            else if (partMode == 2)
                match = pblGetSubStr(entry, 1, dash, true) == given1 &&
                        pblGetSubStr(entry, 2, dash, true) == given2;
            if (match)
                return i;
        }
        return -1;
    } catch (const std::exception& e) {
        showError(messageOf(e) + QStringLiteral("(GetItemIndexIncboCtrl)"));
        return -1;
    }
}

bool pblCheckNumber(const QString& text, bool checkRange, int lowest, int highest,
                    bool showMessages, int* value) {
    try {
        // Plain decimal only: the text is later spliced into SQL as typed.
        bool ok = !text.isEmpty();
        for (qsizetype i = 0; ok && i < text.size(); ++i) {
            const QChar c = text[i];
            const bool sign = i == 0 && (c == '+' || c == '-') && text.size() > 1;
            ok = sign || (c >= '0' && c <= '9');
        }
        int number = ok ? text.toInt(&ok, 10) : 0;
        if (!ok || number == -1) {
            if (showMessages)
                ShowMessageBox(MsgKind::Plain, nullptr, QString(),
                               QStringLiteral("Date type is incorrect, only numbers!"));
            return false;
        }
        if (checkRange && (number > highest || number < lowest)) {
            if (showMessages)
                ShowMessageBox(MsgKind::Plain, nullptr, QString(),
                               QStringLiteral("Invalid number, scope is within ") +
                                   QString::number(lowest) + QLatin1Char('-') +
                                   QString::number(highest));
            return false;
        }
        if (value)
            *value = number;
        return true;
    } catch (const std::exception& e) {
        showError(messageOf(e));
        return false;
    }
}

QMessageBox::StandardButton pblInquire(QWidget* owner, const QString& question,
                                       const QString& title) {
    const QString t = title.isEmpty() ? QStringLiteral("Inquire") : title;
    return ShowMessageBox(MsgKind::Question, owner, t, question);
}

void pblShowMsg(QWidget* owner, const QString& text, const QString& title) {
    ShowMessageBox(MsgKind::Plain, owner, title, text);
}
