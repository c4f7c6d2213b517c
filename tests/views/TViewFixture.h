// A tracks-view work table TVIEW.DBF made by hand, as the tracks view leaves it: the layout of
// the data module and the tag Track on the upper-cased title.
#pragma once

#include "DMcd.h"
#include "Table.h"
#include "TestSupport.h"

#include <QDir>

namespace albumora::test {

struct TViewRow {
    QString track, artist, album, id, nr;
};

inline void makeTView(const QString& folder, const std::vector<TViewRow>& rows) {
    using namespace albumora::store;
    const QString path = QDir(folder).filePath(QStringLiteral("TVIEW.DBF"));
    auto fields = parseFieldList(TDM::kTViewFields);
    ASSERT_TRUE(fields.isOk());
    ASSERT_STORE_OK(Table::create(path, *fields));
    {
        Cursor c;
        c.setTablePath(path);
        ASSERT_STORE_OK(c.open(OpenMode::Exclusive));
        for (const TViewRow& r : rows) {
            ASSERT_STORE_OK(c.append());
            ASSERT_STORE_OK(c.setText(QStringLiteral("Track"), r.track));
            ASSERT_STORE_OK(c.setText(QStringLiteral("Artist"), r.artist));
            ASSERT_STORE_OK(c.setText(QStringLiteral("Album"), r.album));
            ASSERT_STORE_OK(c.setText(QStringLiteral("ID"), r.id));
            ASSERT_STORE_OK(c.setText(QStringLiteral("NR"), r.nr));
            ASSERT_STORE_OK(c.post());
        }
        ASSERT_STORE_OK(c.flush());
        ASSERT_STORE_OK(c.table()->createTag(QStringLiteral("Track"), QStringLiteral("upper(Track)")));
    }
}

}  // namespace albumora::test
