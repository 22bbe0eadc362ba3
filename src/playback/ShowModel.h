#pragma once
// Loading the show list and one show's time points from the database and Show.ini.
#include <QString>

class QTreeWidget;
class QLabel;

// Rebuilds Shows, the show list (name caption, ShowID as first sub-item) and
// the total label. Entries that survive keep the time points loaded at their
// position. A database error ends it silently; what was filled stays.
void RefreshShowList(QTreeWidget* lsvShow, QLabel* lblTotal);

// Loads the time points and commands of the show with that ShowID into its
// entry of Shows. An unknown ShowID loads nothing.
void LoadShowTimePoints(const QString& showID);
