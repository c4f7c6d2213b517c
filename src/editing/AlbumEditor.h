// The album edit form's logic: the lists it offers, the flows that fill it (modify, add other),
// the save that writes the pending album to the collection tables, and the delete of an album
// with all its rows. The window (TMngRecF) binds its controls to the pending album; the command-
// line companion runs the same save.
#pragma once

#include "DMcd.h"
#include "PendingAlbum.h"
#include "Settings.h"

#include <QStringList>

namespace albumora::editing {

class AlbumEditor {
public:
    // genreList and its loaded size belong to the main window, which writes the list back at
    // shutdown when it grew.
    AlbumEditor(store::TDM& dm, settings::RunSettings& settings, settings::SettingsFile& file, QStringList& genreList,
                int& genreListLoadedCount);

    PendingAlbum& pending() { return pending_; }
    const QStringList& genreList() const { return genres_; }
    const QStringList& mediaList() const { return media_; }
    int& suggestedPick() { return suggestedPick_; }
    bool saved() const { return saved_; }
    void resetSaved() { saved_ = false; }

    // The genre drop-down (sorted) and the media drop-down (file order) from the settings file.
    void LoadLists();
    // The modify flow: the current album and its tracks into the pending album, mode 3.
    store::Status PrepareModify();
    // Add Other: an empty mode-2 pending album.
    void PrepareAddOther();

    // The save of the OK button. False when a check refused it (the message was shown) or the
    // user declined the multi-artist question; an engine error comes back as an error.
    store::Result<bool> Save();
    // After the form closed, OK or Cancel: the displays are released and the track cursors put
    // on the current album.
    void AfterClose();
    // The clips folder the mask maker last used, into the settings file.
    void writeClipsFolder();

    // The delete of the current album, its tracks, marks, artist rows and tracks-view rows, every
    // table packed. False when the user did not confirm.
    store::Result<bool> DeleteCurrentAlbum(const std::function<void(const QString&)>& status = {});

    // Seconds of a time cell: " 3:07" 187, "12:34" 754, no colon 0.
    static int SecondsOfTime(const QString& cell);
    // The index right-aligned in 6 characters ("12" → "    12").
    static QString IndexText(const QString& index);
    // The media code: the first two characters of the entry.
    static QString MediaCode(const QString& media);

private:
    store::Status saveTracks(const QString& id);
    store::Status saveArtists(const QString& id, bool& deleted);
    store::Status packIfFree(store::Cursor& cursor, const QString& order);
    store::Status packTable(store::Cursor& cursor, const QString& order);

    store::TDM& dm_;
    settings::RunSettings& settings_;
    settings::SettingsFile& file_;
    QStringList& genres_;
    int& genresLoaded_;
    QStringList media_;
    PendingAlbum pending_;
    int suggestedPick_ = 0;
    bool saved_ = false;
    bool frozen_ = false;
};

}  // namespace albumora::editing
