#include "playback/ShowModel.h"

#include "commands/CommandRows.h"
#include "playback/PublicVariable.h"
#include "store/Database.h"
#include "store/IniFile.h"

#include <QLabel>
#include <QTreeWidget>

namespace {
QString ShowIniValue(const QString& section, const QString& key) {
    return ShowIniFile ? ShowIniFile->ReadString(section, key, QString()) : QString();
}
} // namespace

void RefreshShowList(QTreeWidget* lsvShow, QLabel* lblTotal) {
    try {
        DBQuery1->Close();
        DBQuery1->SetSQL("select * from Show order by SequenceNo");
        DBQuery1->Open();
        lsvShow->clear();
        Shows.resize(static_cast<size_t>(DBQuery1->RecordCount()));
        lblTotal->setText(QString::number(DBQuery1->RecordCount()));
        for (size_t i = 0; !DBQuery1->Eof(); ++i, DBQuery1->Next()) {
            const QString s = DBQuery1->FieldAsString("ShowID");
            const QString url = ShowIniValue(s, "URL");
            auto* item = new QTreeWidgetItem(lsvShow);
            item->setText(0, ShowIniValue(s, "ShowName"));
            item->setText(1, s);
            TShow& show = Shows[i];
            show.ShowID = static_cast<int32_t>(DBQuery1->FieldAsInteger("ShowID"));
            show.URL = url;
            show.ActivedUniversalSwitch =
                static_cast<uint8_t>(DBQuery1->FieldAsInteger("ActivedUniversalSwitch"));
            show.UniversalSwitchID =
                static_cast<uint8_t>(DBQuery1->FieldAsInteger("UniversalSwitchID"));
        }
        DBQuery1->Close();
        ShowDataChanged = false;
    } catch (...) {
    }
}

void LoadShowTimePoints(const QString& showID) {
    try {
        bool ok = false;
        const int id = showID.toInt(&ok);
        if (!ok)
            return;
        TShow* show = nullptr;
        for (TShow& s : Shows) {
            if (s.ShowID == id) {
                show = &s;
                break;
            }
        }
        if (!show)
            return;

        DBQuery1->Close();
        DBQuery1->SetSQL("select * from TimePoint where ShowID=" + showID +
                         " order by SecondOfTimePoint ");
        DBQuery1->Open();
        show->TimePoints.resize(static_cast<size_t>(DBQuery1->RecordCount()));
        for (size_t j = 0; !DBQuery1->Eof(); ++j, DBQuery1->Next()) {
            TTimePoint& tp = show->TimePoints[j];
            tp.TimePointID = static_cast<int32_t>(DBQuery1->FieldAsInteger("TimePointID"));
            tp.SecondOfTimePoint =
                static_cast<int32_t>(DBQuery1->FieldAsInteger("SecondOfTimePoint"));
            tp.Remark = DBQuery1->FieldAsString("Remark");

            tp.Commands = ReadCommandList(
                *DBQuery2, "select * from CommandsForShow where ShowID=" + showID +
                               " and TimePointID=" + DBQuery1->FieldAsString("TimePointID") +
                               " order by SequenceNo");
        }
        DBQuery1->Close();
    } catch (...) {
    }
}
