// Damaged index pages of a collection, as a failing disk or a stray write leaves them: a zeroed
// page, one filled with 0xFF, two pages swapped, a flipped bit in a page's header. Start-up
// (`init`) finds what its cheap checks reach and rebuilds; a later read that meets the rest
// rebuilds the index and answers in full. Either way every order lists every row, exactly as
// before the damage, and `check` ends clean.
#include "DMcd.h"
#include "IndexFile.h"
#include "Journal.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>

#include <map>
#include <memory>

using namespace albumora::store;
using albumora::test::ProcessResult;
using albumora::test::TempFolder;

namespace {

const std::map<QString, QStringList> kTags = {
    {QStringLiteral("ALBUMS"), {"Artist", "Album", "Label", "Genre", "ID"}},
    {QStringLiteral("TRACKS"), {"Tracks"}},
};

class IndexRepairTest : public ::testing::Test {
protected:
    // 300 albums of 10 tracks: trees of two and three levels, so that a page can be a root, an
    // interior node or a leaf in the middle of a level.
    static void SetUpTestSuite() {
        pristine_ = new TempFolder;
        const ProcessResult init = albumora::test::runCli({QStringLiteral("--data"), pristine_->path(), QStringLiteral("init")});
        ASSERT_EQ(init.exitCode, 0) << init.err.toStdString();
        {
            TDM dm(pristine_->path());
            ASSERT_STORE_OK(dm.OpenCollectionTables());
            auto t = Transaction::begin(pristine_->path());
            ASSERT_TRUE(t.isOk()) << t.error().text().toStdString();
            for (int a = 0; a < 300; ++a) {
                const QString id = QStringLiteral("%1").arg(a, 8, 16, QLatin1Char('0'));
                ASSERT_STORE_OK(dm.tblAlbums.append());
                ASSERT_STORE_OK(dm.tblAlbums.setText(QStringLiteral("ID"), id));
                ASSERT_STORE_OK(dm.tblAlbums.setText(QStringLiteral("Artist"), QStringLiteral("Artist %1").arg((a * 37) % 101)));
                ASSERT_STORE_OK(dm.tblAlbums.setText(QStringLiteral("Album"), QStringLiteral("Album number %1 of the collection").arg(a)));
                ASSERT_STORE_OK(dm.tblAlbums.setText(QStringLiteral("Genre"), QStringList{"rock", "jazz", "folk", "blues"}[a % 4]));
                ASSERT_STORE_OK(dm.tblAlbums.setText(QStringLiteral("Label"), QStringLiteral("Shelf %1").arg(a % 17)));
                ASSERT_STORE_OK(dm.tblAlbums.post());
                for (int nr = 1; nr <= 10; ++nr) {
                    ASSERT_STORE_OK(dm.tblCD.append());
                    ASSERT_STORE_OK(dm.tblCD.setText(QStringLiteral("ID"), id));
                    ASSERT_STORE_OK(dm.tblCD.setText(QStringLiteral("NR"), TDM::PadNumber(nr, 3)));
                    ASSERT_STORE_OK(dm.tblCD.setText(QStringLiteral("Track"), QStringLiteral("Track %1").arg(nr)));
                    ASSERT_STORE_OK(dm.tblCD.post());
                }
            }
            ASSERT_STORE_OK(t->commit());
            dm.CloseAll();
        }
        for (const auto& [table, tags] : kTags)
            for (const QString& tag : tags) {
                const ProcessResult r = cliIn(pristine_->path(), {QStringLiteral("query"), table + QStringLiteral(".DBF"),
                                                                  QStringLiteral("--order"), tag, QStringLiteral("--fields"),
                                                                  table == QLatin1String("ALBUMS") ? QStringLiteral("ID,Artist,Genre")
                                                                                                   : QStringLiteral("ID,NR")});
                ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
                expected_[table + QLatin1Char('/') + tag] = r.out;
            }
    }
    static void TearDownTestSuite() {
        delete pristine_;
        pristine_ = nullptr;
    }

    static ProcessResult cliIn(const QString& folder, const QStringList& args) {
        return albumora::test::runCli(QStringList{QStringLiteral("--data"), folder} + args);
    }

    // A fresh copy of the collection.
    void copyPristine() {
        ASSERT_NE(pristine_, nullptr);
        folder_ = std::make_unique<TempFolder>();
        for (const QString& f : QDir(pristine_->path()).entryList(QDir::Files | QDir::Hidden))
            ASSERT_TRUE(QFile::copy(pristine_->file(f), folder_->file(f))) << f.toStdString();
    }
    TempFolder& dir() { return *folder_; }

    static TempFolder* pristine_;
    static std::map<QString, QString> expected_;
    std::unique_ptr<TempFolder> folder_;
};

TempFolder* IndexRepairTest::pristine_ = nullptr;
std::map<QString, QString> IndexRepairTest::expected_;

TEST_F(IndexRepairTest, DamagedPagesAreRebuiltAtStartUpOrWhenAReadMeetsThem) {
    struct Kind {
        const char* name;
        std::function<void(QByteArray&, qint64 page, qint64 other)> apply;
    };
    const Kind kinds[] = {
        {"zeroed", [](QByteArray& b, qint64 p, qint64) { b.replace(p, 512, QByteArray(512, '\0')); }},
        {"filled with 0xFF", [](QByteArray& b, qint64 p, qint64) { b.replace(p, 512, QByteArray(512, '\xFF')); }},
        {"swapped with another page",
         [](QByteArray& b, qint64 p, qint64 o) {
             const QByteArray a = b.mid(p, 512), c = b.mid(o, 512);
             b.replace(p, 512, c);
             b.replace(o, 512, a);
         }},
        // The low bit of the right-sibling pointer, or of the root flag.
        {"with a flipped header bit", [](QByteArray& b, qint64 p, qint64) { b[p + 8] = char(b[p + 8] ^ 0x01); }},
        {"with its root flag flipped", [](QByteArray& b, qint64 p, qint64) { b[p] = char(b[p] ^ 0x01); }},
    };
    int rebuiltAtStart = 0, rebuiltOnRead = 0;
    for (const auto& [table, tags] : kTags) {
        const QString cdxName = table + QStringLiteral(".CDX");
        const QByteArray cdx = albumora::test::fileBytes(pristine_->file(cdxName));
        ASSERT_GT(cdx.size(), 40 * 512);
        auto x = IndexFile::open(pristine_->file(cdxName), false);
        ASSERT_TRUE(x.isOk());
        const qint64 root = (*x)->tag(tags.last().toLatin1().constData())->root();
        x = Status();
        const qint64 pages = cdx.size() / 512;
        const std::pair<const char*, qint64> places[] = {
            {"the root of a tag", root},
            {"a page in the middle", (pages / 2) * 512},
            {"the last page", (pages - 1) * 512},
        };
        for (const Kind& kind : kinds) {
            for (const auto& [where, page] : places) {
                const std::string what = cdxName.toStdString() + ": " + where + " " + kind.name;
                SCOPED_TRACE(what);
                ASSERT_NO_FATAL_FAILURE(copyPristine());
                QByteArray damaged = cdx;
                kind.apply(damaged, page, page == (pages / 2) * 512 ? page + 512 : (pages / 2) * 512);
                ASSERT_TRUE(albumora::test::writeFileBytes(dir().file(cdxName), damaged));

                const ProcessResult init = cliIn(dir().path(), {QStringLiteral("init")});
                ASSERT_EQ(init.exitCode, 0) << init.err.toStdString();
                const bool atStart = init.out.contains(QStringLiteral("Creating Index File for: ") + table);
                if (std::string(where) == "the root of a tag")
                    EXPECT_TRUE(atStart) << "start-up trusted a damaged root: " << init.out.toStdString();
                bool onRead = false;
                for (const QString& tag : tags) {
                    const ProcessResult r =
                        cliIn(dir().path(), {QStringLiteral("query"), table + QStringLiteral(".DBF"), QStringLiteral("--order"), tag,
                                           QStringLiteral("--fields"),
                                           table == QLatin1String("ALBUMS") ? QStringLiteral("ID,Artist,Genre") : QStringLiteral("ID,NR")});
                    ASSERT_EQ(r.exitCode, 0) << tag.toStdString() << ": " << r.err.toStdString();
                    EXPECT_EQ(r.out, expected_[table + QLatin1Char('/') + tag]) << "order " << tag.toStdString();
                    if (r.err.contains(QStringLiteral("Creating Index File for: ") + table)) onRead = true;
                }
                const ProcessResult check = cliIn(dir().path(), {QStringLiteral("check")});
                EXPECT_EQ(check.exitCode, 0) << check.out.toStdString() << check.err.toStdString();
                rebuiltAtStart += atStart;
                rebuiltOnRead += onRead;
                // The damage was found one way or the other, unless it fell where nothing reads.
                if (damaged != cdx && !atStart && !onRead)
                    EXPECT_EQ(albumora::test::fileBytes(dir().file(cdxName)), damaged) << "the index changed without a rebuild";
            }
        }
    }
    // Both paths were taken: the cheap checks of start-up, and the rebuild on a read.
    EXPECT_GT(rebuiltAtStart, 0);
    EXPECT_GT(rebuiltOnRead, 0);
}

}  // namespace
