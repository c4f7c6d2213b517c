// The import's decisions without its window: what OK does with the pasted text for each kind of
// pending album, and what a refused text leaves behind.
#include "DMcd.h"
#include "FakeDesktop.h"
#include "ImportFlow.h"
#include "TestSupport.h"

using namespace albumora;
using namespace albumora::disc;
using albumora::test::TempFolder;
using editing::EditMode;
using editing::PendingAlbum;

namespace {

QString S(const char* utf8) { return QString::fromUtf8(utf8); }

const char* const kRecord =
    "# xmcd\n#\n# Track frame offsets:\n#       150\n#       15150\n#\n# Disc length: 406 seconds\n#\n# Revision: 12\n#\n"
    "DISCID=2c019402\nDTITLE=Kestrel / Silver Fields\nDYEAR=1999\nDGENRE=Folk\nTTITLE0=First\nTTITLE1=Second\nEXTD=\n"
    "PLAYORDER=\n";

class ImportFlowTest : public ::testing::Test {
protected:
    void SetUp() override {
        dm = std::make_unique<store::TDM>(dir.path());
        ASSERT_TRUE(dm->EnsureCollectionFiles().isOk());
        ASSERT_TRUE(dm->OpenCollectionTables().isOk());
        store::Cursor& c = dm->tblAlbums;
        for (const char* id : {"0b0b0b0b", "1a025d03"}) {
            ASSERT_TRUE(c.append().isOk());
            ASSERT_TRUE(c.setText(QStringLiteral("ID"), S(id)).isOk());
            ASSERT_TRUE(c.setText(QStringLiteral("Artist"), S(id)).isOk());
            ASSERT_TRUE(c.post().isOk());
        }
        ASSERT_TRUE(dm->FlushCollection().isOk());
        ASSERT_TRUE(dm->tblAlbums.first().isOk());
        ctx.album = &album;
        ctx.dm = dm.get();
        ctx.setCurrentDiscId = [this](const QString& id) { discId = id; };
        ctx.setDiscLength = [this](int s) { discLength = s; };
        ctx.showEditForm = [this] { forms.push_back(album); };
        ctx.albumMadeCurrent = [this](const QString& id) { madeCurrent << id; };
    }
    void prepare(EditMode mode) {
        album = PendingAlbum();
        album.mode = mode;
        album.artist = S("Typed Artist");
        album.title = S("Typed Title");
        for (int k = 1; k <= 2; ++k) album.tracks.push_back({store::TDM::PadNumber(k, 3), S(" 3:20"), S("Track %1").arg(k)});
    }

    TempFolder dir;
    test::FakeDesktop desk;
    std::unique_ptr<store::TDM> dm;
    PendingAlbum album;
    ImportContext ctx;
    QString discId;
    int discLength = 0;
    std::vector<PendingAlbum> forms;
    QStringList madeCurrent;
};

// Text that is refused, or OK before a source was chosen, leaves the album as it was (a new
// album's typed artist and title included) and the import open.
TEST_F(ImportFlowTest, ARefusedTextLeavesTheAlbumAsItWas) {
    struct Case {
        const char* what;
        ImportSource source;  // None: no button was pressed
        QString text;
        QString error;
    };
    const Case cases[] = {
        {"no source", ImportSource::None, S("1. One\n2. Two\n"), importmsg::kNoSource},
        {"one line", ImportSource::Numbered, S("1. One"), importmsg::kNotCopied},
        {"a malformed record", ImportSource::CdDatabase, S(kRecord).replace(S("15150"), S("15x50")), QString()},
    };
    for (EditMode mode : {EditMode::NewAlbum, EditMode::AddCd}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.what);
            prepare(mode);
            const PendingAlbum before = album;
            ImportFlow flow(ctx);
            flow.setSource(c.source);
            desk.prompts.shown.clear();
            forms.clear();
            const ImportStep step = flow.paste(c.text);
            EXPECT_FALSE(step.done);
            EXPECT_EQ(album.artist, before.artist);
            EXPECT_EQ(album.title, before.title);
            EXPECT_EQ(album.tracks.size(), before.tracks.size());
            EXPECT_EQ(album.tracks[0].title, S("Track 1"));
            ASSERT_EQ(desk.prompts.texts(QStringLiteral("error")).size(), 1u);
            if (!c.error.isEmpty()) {
                EXPECT_EQ(desk.prompts.texts(QStringLiteral("error"))[0], c.error);
            }
            EXPECT_TRUE(forms.empty());
        }
    }
}

// A pasted record: its disc ID and length go to the disc state; a new album goes on to the edit
// form, a modified one only takes the titles, and a record of a stored disc makes that album
// current without any form.
TEST_F(ImportFlowTest, APastedRecordGoesWhereItsAlbumBelongs) {
    prepare(EditMode::NewAlbum);
    ImportFlow flow(ctx);
    flow.setSource(ImportSource::CdDatabase);
    ImportStep step = flow.paste(S(kRecord));
    EXPECT_TRUE(step.done);
    EXPECT_EQ(discId, S("2c019402"));
    EXPECT_EQ(discLength, 406);
    EXPECT_FALSE(flow.duplicate());
    ASSERT_EQ(forms.size(), 1u);
    EXPECT_EQ(forms[0].artist, S("Kestrel"));
    EXPECT_EQ(forms[0].title, S("Silver Fields"));
    EXPECT_EQ(forms[0].tracks[1].title, S("Second"));
    EXPECT_TRUE(flow.editFormShown());

    forms.clear();
    prepare(EditMode::Modify);
    ImportFlow modify(ctx);
    modify.setSource(ImportSource::CdDatabase);
    step = modify.paste(S(kRecord));
    EXPECT_TRUE(step.done);
    EXPECT_TRUE(forms.empty()) << "the edit form is open already";
    EXPECT_EQ(album.tracks[0].title, S("First"));

    prepare(EditMode::NewAlbum);
    ImportFlow again(ctx);
    again.setSource(ImportSource::CdDatabase);
    desk.prompts.shown.clear();
    step = again.paste(S(kRecord).replace(S("2c019402"), S("1a025d03")));
    EXPECT_TRUE(step.done);
    EXPECT_TRUE(again.duplicate());
    EXPECT_TRUE(forms.empty());
    EXPECT_EQ(madeCurrent, QStringList{S("1a025d03")});
    EXPECT_EQ(dm->tblAlbums.text(QStringLiteral("ID")), S("1a025d03"));
    EXPECT_EQ(desk.prompts.texts(QStringLiteral("error")).size(), 1u);
}

}  // namespace
