#include "playback/RunShow.h"

#include "commands/Dispatch.h"
#include "platform/Player.h"
#include "playback/PublicVariable.h"
#include "playback/ShowModel.h"
#include "store/IniFile.h"

#include <QApplication>
#include <QTreeWidget>
#include <cmath>
#include <cstdint>

void StartSelectedShow(QTreeWidget* lsvShow, IPlayer* wmp, int& CurrentShowIndex) {
    QTreeWidgetItem* item = lsvShow->currentItem();
    if (!item || !item->isSelected())
        return;
    const QString s = item->text(1);
    const int showID = s.toInt();
    for (size_t i = 0; i < Shows.size(); ++i) {
        if (Shows[i].ShowID == showID) {
            CurrentShowIndex = static_cast<int>(i);
            break;
        }
    }
    const QString url = ShowIniFile ? ShowIniFile->ReadString(s, "URL", QString()) : QString();

    QApplication::setOverrideCursor(Qt::WaitCursor);
    lsvShow->setEnabled(false);
    try {
        if (wmp->URL() != url) {
            LoadShowTimePoints(s);
            wmp->SetURL(url);
            wmp->Play();
            PlayingShowID = showID;
        } else if (!wmp->URL().isEmpty() && wmp->PlayState() != IPlayer::psPlaying) {
            wmp->Play();
        }
    } catch (...) {
    }
    lsvShow->setEnabled(true);
    QApplication::restoreOverrideCursor();
}

void timerRunShowTimer(IPlayer* wmp, int CurrentShowIndex) {
    try {
        if (AppClosing)
            return;
        if (wmp->PlayState() != IPlayer::psPlaying)
            return;
        const double position = wmp->CurrentPosition();
        if (!std::isfinite(position) || std::fabs(position) > 1e9)
            return;
        const auto p = static_cast<int64_t>(std::trunc(position));
        if (CurrentShowIndex < 0 || static_cast<size_t>(CurrentShowIndex) >= Shows.size())
            return;
        const size_t show = static_cast<size_t>(CurrentShowIndex);
        for (size_t i = 0;; ++i) {
            // Looked up afresh each time: an error box shown while sending runs
            // events, and one of them may reload the show's time points.
            if (show >= Shows.size() || i >= Shows[show].TimePoints.size())
                return;
            const TTimePoint& tp = Shows[show].TimePoints[i];
            if (tp.SecondOfTimePoint != p)
                continue;
            // An empty time point ends the tick: later ones at this second wait.
            if (tp.Commands.empty())
                return;
            const std::vector<TControlObject> commands = tp.Commands;
            RunCommandList(commands, false);
        }
    } catch (...) {
    }
}
