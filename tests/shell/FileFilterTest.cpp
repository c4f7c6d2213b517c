// The file dialogs' filters: the program writes them as "label|patterns|..." pairs; the dialog
// must list the files those patterns name, whatever the case of their extensions.
#include "QtDesktop.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace albumora;

namespace {

// The patterns Qt's dialog reads from one filter: the last parenthesised group, split on blanks.
QStringList patternsOf(const QString& qtFilterEntry) {
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("\\(([^()]*)\\)$")).match(qtFilterEntry);
    return m.hasMatch() ? m.captured(1).split(QLatin1Char(' '), Qt::SkipEmptyParts) : QStringList();
}

TEST(FileFilters, EachKindListsItsFilesInAnyCase) {
    test::TempFolder dir;
    for (const char* name : {"front.png", "back.JPG", "inlay.Jpeg", "scan.bmp", "cover.GIF", "notes.txt", "README"}) {
        QFile f(QDir(dir.path()).filePath(QString::fromLatin1(name)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    const QStringList filters = platform::qtFilter(QStringLiteral(
                                                       "Image Files (jpg,gif,bmp,png)|*.JP*;*.BMP;*.PNG;*.GIF|Text Files (*.txt)|*.txt|All "
                                                       "Files (*.*)|*.*"))
                                    .split(QStringLiteral(";;"));
    ASSERT_EQ(filters.size(), 3);
    EXPECT_TRUE(filters[0].startsWith(QStringLiteral("Image Files ("))) << filters[0].toStdString();
    auto listed = [&](const QString& f) {
        // Case-sensitive, as the dialog's file system model is on Linux.
        QStringList names = QDir(dir.path()).entryList(patternsOf(f), QDir::Files | QDir::CaseSensitive, QDir::Name);
        names.sort();
        return names;
    };
    EXPECT_EQ(listed(filters[0]), (QStringList{"back.JPG", "cover.GIF", "front.png", "inlay.Jpeg", "scan.bmp"}));
    EXPECT_EQ(listed(filters[1]), (QStringList{"notes.txt"}));
    EXPECT_EQ(listed(filters[2]).size(), 7);
    EXPECT_EQ(platform::qtFilter(QStringLiteral("Programs (*.exe)|*.exe|All Files (*.*)|*.*")),
              QStringLiteral("Programs (*.exe *.EXE *.Exe);;All Files (*)"));
}

}  // namespace
