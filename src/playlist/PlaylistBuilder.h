// The playlist builder's logic without its window: the two lists of track entries, the running
// time, the moves between the lists and the confirm that stores the marks. TDualListDlg shows
// what this class holds; the command-line companion's "marks" runs the same confirm.
#pragma once

#include "DMcd.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <map>

namespace albumora::playlist {

class PlaylistBuilder {
public:
    // One line of the lists: NR as stored, "-", the title and, for a track with a length,
    // " (" + m:ss + ")". The left list trims the time; the right list, built from the stored
    // marks, keeps the blank that pads a one-digit minute.
    static QString EntryText(const QString& nr, const QString& title, qint64 secs, bool paddedTime);
    // The track number an entry begins with (its text before the first "-"), as stored.
    static QString EntryNr(const QString& entry);

    // Reads the album's tracks and its marks. Marks of tracks the album no longer has are left
    // out (the next confirm drops them).
    store::Status Load(store::TDM& dm, const QString& albumId);

    const QString& albumId() const { return albumId_; }
    const QString& albumTitle() const { return albumTitle_; }
    const QStringList& available() const { return left_; }
    const QStringList& marked() const { return right_; }
    // Seconds of the running time as shown, and whether the album's times make it worth showing
    // (its last track has a length).
    int runningSeconds() const { return running_; }
    QString runningText() const { return store::TDM::FormatTrackTime(running_, 3); }
    bool showRunningTime() const { return showRunning_; }
    int trackCount() const { return int(right_.size()); }

    // Moves: the rows selected in the list moved from (any order); the result is the row to
    // select in that list afterwards, -1 when it became empty. Both lists stay sorted.
    int include(const QList<int>& selectedRows);
    int includeAll();
    int exclude(const QList<int>& selectedRows);
    int excludeAll();

    // The marks given by track number (" 3", "3", "003" alike); an unknown number is an error and
    // changes nothing.
    store::Status setMarks(const QStringList& numbers);

    // Stores the right list as the album's marks: its PLAYLIST rows are replaced in one write
    // (the folder's writers' lock held), then PLAYLIST is packed and the tracks view's work table
    // discarded so that it is built again from the new marks. A failure before the commit leaves
    // the stored marks as they were.
    store::Status Confirm(store::TDM& dm);
    // What went wrong after the marks were stored (the pack, the work table's removal): shown,
    // never reported as a failed confirm.
    const store::Status& housekeeping() const { return housekeeping_; }

private:
    int move(QStringList& from, QStringList& to, QList<int> rows);
    void recountRunning();
    void dropTracksView(store::TDM& dm);

    QString albumId_;
    QString albumTitle_;
    QStringList left_, right_;
    std::map<int, qint64> seconds_;  // by track number
    QStringList knownNrs_;           // the album's NR texts as stored, in track order
    int running_ = 0;
    bool showRunning_ = false;
    store::Status housekeeping_;
};

}  // namespace albumora::playlist
