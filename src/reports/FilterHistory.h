// The filter history of a filter combo box: recently used expressions, most recent first, kept
// in a small text file of the data folder ("albums.ini", "tracks.ini", "tview.ini"; plain lines,
// not settings files despite the name).
#pragma once

#include <QString>
#include <QStringList>

namespace albumora::reports {

class FilterHistory {
public:
    static constexpr int kKept = 16;

    explicit FilterHistory(QString path = {});
    const QString& path() const { return path_; }
    const QStringList& items() const { return items_; }
    void setItems(QStringList items) { items_ = std::move(items); }

    // Replaces the list by the file's lines when the file exists.
    void load();
    // Puts a text at the top: an entry equal but for letter case moves up as stored; a blank
    // text changes nothing.
    void add(const QString& text);
    // Cuts the list to its first 16 entries and writes it.
    bool save();
    // Deletes an entry and writes the list at once, uncut. Returns whether it was there.
    bool remove(const QString& text);

private:
    bool write() const;
    QString path_;
    QStringList items_;
};

}  // namespace albumora::reports
