// The output field choosers' lists without their dialog: the fields offered and the fields
// chosen, in order, with the moves of the chooser's buttons. The album chooser serves the report
// writer, the track chooser the tracks view.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace albumora::reports {

enum class OutputKind { Report, Csv, Xml };

inline const QString kNoOutputFields = QStringLiteral("No output fields selected");

// The fields of the albums table as the outputs name them, in the table's order.
inline const QStringList kAlbumOutputFields = {QStringLiteral("ALBUM"), QStringLiteral("ARTIST"), QStringLiteral("IX"),
                                               QStringLiteral("GENRE"), QStringLiteral("YR"),     QStringLiteral("ID"),
                                               QStringLiteral("LABEL"), QStringLiteral("MEDIA"),  QStringLiteral("Rev"),
                                               QStringLiteral("SYS"),   QStringLiteral("Notes")};

class FieldChooser {
public:
    // The album chooser over the ALBUMS.DBF fields in their order.
    static FieldChooser forAlbums(const QStringList& albumFields, OutputKind kind, bool withTracks);
    // The track chooser over the tracks view's fields in their order (the last two not offered).
    static FieldChooser forTracks(const QStringList& viewFields);

    const QStringList& available() const { return available_; }
    const QStringList& output() const { return output_; }

    // The items at the given rows go to the end of the other list, the last selected first
    // (several moved at once arrive in reverse order). Returns the row of the source list to
    // select next: the first selected row, or the last row once that is past the end; -1 when
    // the list is empty.
    int include(std::vector<int> rows);
    int exclude(std::vector<int> rows);
    void includeAll();
    void excludeAll();
    // Moves the output row one place; returns its new row (unchanged at either end). Nothing
    // moves without a current row.
    int up(int row);
    int down(int row);
    bool canInclude() const { return !available_.isEmpty(); }
    bool canExclude() const { return !output_.isEmpty(); }

    // The list handed to the caller on OK: the track chooser's first entry beginning with "m"
    // ("marked") is the column "x". Nothing when the output list is empty.
    std::optional<QStringList> accept() const;

private:
    bool tracks_ = false;
    QStringList available_;
    QStringList output_;
};

}  // namespace albumora::reports
