// The filter history files: newest first, case-blind moves, the cut to 16 on save, removal.
#include "FilterHistory.h"
#include "TestSupport.h"

#include <QFile>

using namespace albumora;

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

TEST(FilterHistory, AddSaveLoadRemove) {
    test::TempFolder dir;
    const QString path = dir.file(QStringLiteral("albums.ini"));
    reports::FilterHistory h(path);
    h.load();  // no file yet: an empty list
    EXPECT_TRUE(h.items().isEmpty());
    h.add(QStringLiteral("genre=\"rock\""));
    h.add(QStringLiteral("   "));  // blank: ignored
    h.add(QStringLiteral("YR > \"1999\""));
    h.add(QStringLiteral("GENRE=\"ROCK\""));  // the stored spelling moves to the top
    EXPECT_EQ(h.items(), (QStringList{"genre=\"rock\"", "YR > \"1999\""}));
    for (int i = 0; i < 18; ++i) h.add(QStringLiteral("contains(artist,\"%1\")").arg(i));
    EXPECT_EQ(h.items().size(), 20);
    ASSERT_TRUE(h.save());
    EXPECT_EQ(h.items().size(), 16);
    const QByteArray text = readAll(path);
    EXPECT_TRUE(text.startsWith("contains(artist,\"17\")\r\ncontains(artist,\"16\")\r\n"));
    EXPECT_EQ(text.count("\r\n"), 16);

    reports::FilterHistory again(path);
    again.load();
    EXPECT_EQ(again.items(), h.items());
    EXPECT_TRUE(again.remove(QStringLiteral("contains(artist,\"16\")")));
    EXPECT_FALSE(again.remove(QStringLiteral("not there")));
    EXPECT_EQ(readAll(path).count("\r\n"), 15);  // written at once, without the cut
    // Another history file is not touched.
    EXPECT_FALSE(QFile::exists(dir.file(QStringLiteral("tview.ini"))));
}

}  // namespace
