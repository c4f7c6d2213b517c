// The notes editor and its track picker, driven through their controls with the scripted
// prompts answering the input boxes and the picture dialog: every button, the text handed back
// on OK and kept on Cancel, and the picker's refusals.
#include "EditTools.h"
#include "ExttnF.h"
#include "FakeDesktop.h"
#include "Modal.h"
#include "MultiF.h"
#include "TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QtTest/QTest>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>

#include <memory>

using namespace albumora;
using albumora::editing::TExttn;
using albumora::editing::TMulti;
using albumora::editing::TrackRow;
using albumora::test::child;
using albumora::test::OnNextModal;

namespace {

const QString kAmountPrompt = QStringLiteral("Enter amount only - no currency symbol");
const QString kPictureFilter = QStringLiteral(
    "Image Files (jpg,gif,bmp,png)|*.JP*;*.BMP;*.PNG;*.GIF|Text Files (*.txt)|*.txt|All Files (*.*)|*.*");

class NotesEditorTest : public ::testing::Test {
protected:
    void open(const QString& notes) {
        TMulti::Options options;
        options.defaultAmount = QStringLiteral("9.95");
        options.programFolder = program.path() + QLatin1Char('/');
        options.openHelpPage = [this](const QString& page) { helpPages << page; };
        editor = std::make_unique<TMulti>(notes, tracks, suggestedPick, options);
        editor->show();
    }
    void click(const QString& name) {
        auto* b = editor->findChild<QPushButton*>(name);
        ASSERT_NE(b, nullptr) << name.toStdString();
        b->click();
    }
    QPlainTextEdit* memo() { return editor->findChild<QPlainTextEdit*>(QStringLiteral("Memo1")); }
    QStringList memoLines() { return notes::SplitLines(memo()->toPlainText()); }
    // The one input box or dialog the last click showed, as "title|prompt|start".
    QString lastShown(const QString& kind) {
        const QStringList shown = desk.prompts.texts(kind);
        return shown.isEmpty() ? QString() : shown.last();
    }

    test::FakeDesktop desk;
    test::TempFolder program;
    std::vector<TrackRow> tracks{
        {"  1", " 3:07", "Intro"}, {"  2", " 4:10", "Silver Fields"}, {"  3", " 2:55", "Waltz"}};
    int suggestedPick = 0;
    QStringList helpPages;
    std::unique_ptr<TMulti> editor;
};

TEST_F(NotesEditorTest, WindowShowsTheWholeNotesText) {
    open(QStringLiteral("Signed copy\r\nCOST=12.50\r\n\r\nURL=https://example.org"));
    EXPECT_EQ(editor->windowTitle(), QStringLiteral("Notes - Multi-line Edit"));
    EXPECT_EQ(memo()->toPlainText(), QStringLiteral("Signed copy\nCOST=12.50\n\nURL=https://example.org"));
    EXPECT_EQ(memo()->lineWrapMode(), QPlainTextEdit::NoWrap);
    const struct {
        const char* name;
        const char* caption;
    } buttons[] = {
        {"Extd", "Add Extended Data for Album"},
        {"Extt", "Add Extended Data for a Track"},
        {"AddArt", "Add Cover Image"},
        {"URLbutton", "Add Website, Spotify link, or File"},
        {"EnterPurchase", "Enter/Edit/View Purchase Cost"},
        {"EnterValue", "Enter/Edit/View Current Value"},
        {"OKbutton", "OK"},
        {"Cancelbutton", "Cancel"},
        {"BitBtn1", "Help"},
    };
    for (const auto& b : buttons) {
        auto* button = editor->findChild<QPushButton*>(QString::fromLatin1(b.name));
        ASSERT_NE(button, nullptr) << b.name;
        EXPECT_EQ(button->text(), QString::fromLatin1(b.caption));
    }
    EXPECT_TRUE(desk.prompts.shown.empty());
}

// OK without an edit gives back the notes exactly, trailing empty lines and all; an edit
// stores what the memo shows.
TEST_F(NotesEditorTest, OkWithoutAnEditKeepsTheNotesExactly) {
    for (const char* notes : {"Signed copy\r\n\r\n", "a\r\n\r\n\r\n", "\r\n", "COST=1.00\r\n"}) {
        open(QString::fromLatin1(notes));
        click(QStringLiteral("OKbutton"));
        EXPECT_EQ(editor->notes(), QString::fromLatin1(notes)) << notes;
    }
    open(QStringLiteral("Signed copy\r\n\r\n"));
    memo()->appendPlainText(QStringLiteral("more"));
    click(QStringLiteral("OKbutton"));
    EXPECT_EQ(editor->notes(), QStringLiteral("Signed copy\r\n\r\nmore"));
}

TEST_F(NotesEditorTest, FontSizeSpinSetsTheMemoFont) {
    open(QStringLiteral("x"));
    auto* spin = editor->findChild<QSpinBox*>(QStringLiteral("SpinEdit1"));
    ASSERT_NE(spin, nullptr);
    EXPECT_EQ(spin->minimum(), 8);
    EXPECT_EQ(spin->maximum(), 14);
    EXPECT_EQ(spin->value(), 8);
    EXPECT_EQ(spin->toolTip(), QStringLiteral("Select font size for Notes"));
    EXPECT_EQ(memo()->font().pointSize(), 8);
    for (int size : {12, 14, 9}) {
        spin->setValue(size);
        EXPECT_EQ(memo()->font().pointSize(), size);
    }
    spin->setValue(20);  // beyond the range
    EXPECT_EQ(memo()->font().pointSize(), 14);
    EXPECT_EQ(memo()->toPlainText(), QStringLiteral("x"));
}

TEST_F(NotesEditorTest, ExtendedAlbumData) {
    const struct {
        std::optional<QString> answer;
        QStringList after;
    } cases[] = {
        {QStringLiteral("  Live at the town hall"), {"Signed", "EXTD=  Live at the town hall"}},
        {QStringLiteral("   "), {"Signed"}},
        {QString(), {"Signed"}},
        {std::nullopt, {"Signed"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer.value_or(QStringLiteral("<cancel>")).toStdString());
        open(QStringLiteral("Signed"));
        desk.prompts.answer(c.answer);
        click(QStringLiteral("Extd"));
        EXPECT_EQ(lastShown(QStringLiteral("input")), QStringLiteral("Extended Data For Disc|Enter Info|"));
        EXPECT_EQ(memoLines(), c.after);
        EXPECT_TRUE(desk.prompts.answers.empty());
    }
}

TEST_F(NotesEditorTest, ExtendedTrackDataForThePickedTrack) {
    open(QStringLiteral("Signed"));
    // First pick: the counter preselects the first track; the user takes the third.
    QStringList entries;
    int preselected = -2;
    {
        OnNextModal picker([&](QWidget* w) {
            EXPECT_EQ(w->windowTitle(), QStringLiteral("Select track for extended information"));
            auto* list = child<QListWidget>(w, QStringLiteral("ListBox1"));
            ASSERT_NE(list, nullptr);
            for (int i = 0; i < list->count(); ++i) entries << list->item(i)->text();
            preselected = list->selectedItems().isEmpty() ? -1 : list->row(list->selectedItems().first());
            list->setCurrentRow(2);
            child<QPushButton>(w, QStringLiteral("OKbutton"))->click();
        });
        desk.prompts.answer(QStringLiteral("Guest: second voice"));
        click(QStringLiteral("Extt"));
        EXPECT_TRUE(picker.fired());
    }
    EXPECT_EQ(entries, (QStringList{"  1-Intro", "  2-Silver Fields", "  3-Waltz"}));
    EXPECT_EQ(preselected, 0);
    EXPECT_EQ(lastShown(QStringLiteral("input")), QStringLiteral("Extended Data For Track   3|Enter Info|"));
    EXPECT_EQ(memoLines(), (QStringList{"Signed", "EXTT2=Guest: second voice"}));
    EXPECT_EQ(suggestedPick, 1);

    // Second pick: the raised counter preselects the second entry, taken as it is; a blank
    // entry adds nothing, but the pick was confirmed and counts.
    {
        OnNextModal picker([&](QWidget* w) {
            auto* list = child<QListWidget>(w, QStringLiteral("ListBox1"));
            ASSERT_NE(list, nullptr);
            preselected = list->selectedItems().isEmpty() ? -1 : list->row(list->selectedItems().first());
            child<QPushButton>(w, QStringLiteral("OKbutton"))->click();
        });
        desk.prompts.answer(QStringLiteral("   "));
        click(QStringLiteral("Extt"));
        EXPECT_TRUE(picker.fired());
    }
    EXPECT_EQ(preselected, 1);
    EXPECT_EQ(lastShown(QStringLiteral("input")), QStringLiteral("Extended Data For Track   2|Enter Info|"));
    EXPECT_EQ(memoLines(), (QStringList{"Signed", "EXTT2=Guest: second voice"}));
    EXPECT_EQ(suggestedPick, 2);

    // Third pick, the input box cancelled: nothing added.
    {
        OnNextModal picker([&](QWidget* w) { child<QPushButton>(w, QStringLiteral("OKbutton"))->click(); });
        desk.prompts.answer(std::nullopt);
        click(QStringLiteral("Extt"));
    }
    EXPECT_EQ(lastShown(QStringLiteral("input")), QStringLiteral("Extended Data For Track   3|Enter Info|"));
    EXPECT_EQ(memoLines(), (QStringList{"Signed", "EXTT2=Guest: second voice"}));
    EXPECT_TRUE(desk.prompts.texts(QStringLiteral("error")).isEmpty());
}

TEST_F(NotesEditorTest, PickerWithoutSelectionStaysOpen) {
    suggestedPick = 3;  // past the last of the three tracks: nothing preselected
    open(QString());
    bool stillOpen = false;
    int selectedAtStart = -2;
    {
        OnNextModal picker([&](QWidget* w) {
            auto* list = child<QListWidget>(w, QStringLiteral("ListBox1"));
            ASSERT_NE(list, nullptr);
            selectedAtStart = int(list->selectedItems().size());
            child<QPushButton>(w, QStringLiteral("OKbutton"))->click();
            stillOpen = w->isVisible();
            EXPECT_EQ(desk.prompts.texts(QStringLiteral("error")), QStringList{"No track selected"});
            EXPECT_TRUE(desk.prompts.texts(QStringLiteral("input")).isEmpty());
            list->setCurrentRow(0);
            child<QPushButton>(w, QStringLiteral("OKbutton"))->click();
        });
        desk.prompts.answer(QStringLiteral("Recorded in one take"));
        click(QStringLiteral("Extt"));
        EXPECT_TRUE(picker.fired());
    }
    EXPECT_EQ(selectedAtStart, 0);
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(memoLines(), QStringList{"EXTT0=Recorded in one take"});
    EXPECT_EQ(suggestedPick, 4);  // only the confirmed pick counted
}

TEST_F(NotesEditorTest, PickerCancelledOrClosedGivesNoTrack) {
    const struct {
        const char* how;
        std::function<void(QWidget*)> close;
    } ways[] = {
        {"Cancel", [](QWidget* w) { child<QPushButton>(w, QStringLiteral("BitBtn2"))->click(); }},
        {"window closed", [](QWidget* w) { w->close(); }},
        {"Escape", [](QWidget* w) { static_cast<QDialog*>(w)->reject(); }},
    };
    for (const auto& way : ways) {
        SCOPED_TRACE(way.how);
        open(QStringLiteral("Signed"));
        suggestedPick = 1;
        OnNextModal picker([&](QWidget* w) {
            child<QListWidget>(w, QStringLiteral("ListBox1"))->setCurrentRow(2);
            way.close(w);
        });
        click(QStringLiteral("Extt"));
        EXPECT_TRUE(picker.fired());
        EXPECT_TRUE(desk.prompts.shown.empty());
        EXPECT_EQ(memoLines(), QStringList{"Signed"});
        EXPECT_EQ(suggestedPick, 1);
    }
}

TEST_F(NotesEditorTest, NoTracksEnteredForThisAlbum) {
    tracks.clear();
    open(QStringLiteral("Signed"));
    OnNextModal picker([&](QWidget* w) { static_cast<QDialog*>(w)->reject(); });
    click(QStringLiteral("Extt"));
    QCoreApplication::processEvents();
    EXPECT_FALSE(picker.fired());
    EXPECT_EQ(desk.prompts.texts(QStringLiteral("error")), QStringList{"No tracks entered for this Album"});
    EXPECT_TRUE(desk.prompts.texts(QStringLiteral("input")).isEmpty());
    EXPECT_EQ(memoLines(), QStringList{"Signed"});
    EXPECT_EQ(suggestedPick, 0);
}

TEST_F(NotesEditorTest, PickerAlone) {
    // The counter of the application is the one the picker raises.
    int counter = 2;
    QStringList pages;
    std::optional<int> picked;
    {
        OnNextModal picker([&](QWidget* w) {
            child<QPushButton>(w, QStringLiteral("BitBtn1"))->click();  // Help leaves it open
            EXPECT_TRUE(w->isVisible());
            child<QPushButton>(w, QStringLiteral("OKbutton"))->click();
        });
        picked = TExttn::Pick(tracks, counter, [&](const QString& p) { pages << p; });
        EXPECT_TRUE(picker.fired());
    }
    EXPECT_EQ(picked, 2);
    EXPECT_EQ(counter, 3);
    EXPECT_EQ(pages, QStringList{"CDhelp2.html#notes"});
    // Numbers are shown as the producer wrote them.
    std::vector<TrackRow> imported{{"01", "", "Intro"}, {"02", "", "Outro"}};
    QStringList entries;
    {
        OnNextModal picker([&](QWidget* w) {
            auto* list = child<QListWidget>(w, QStringLiteral("ListBox1"));
            for (int i = 0; i < list->count(); ++i) entries << list->item(i)->text();
            child<QPushButton>(w, QStringLiteral("BitBtn2"))->click();
        });
        EXPECT_EQ(TExttn::Pick(imported, counter, {}), std::nullopt);
    }
    EXPECT_EQ(entries, (QStringList{"01-Intro", "02-Outro"}));
    EXPECT_EQ(counter, 3);
}

TEST_F(NotesEditorTest, CoverImage) {
    const QString saved = QDir::currentPath();
    test::TempFolder elsewhere;
    const struct {
        std::optional<QString> picked;
        QStringList after;
    } cases[] = {
        {QStringLiteral("/home/ann/Covers/Kind of Blue.jpg"), {"Signed", "COVER=/home/ann/Covers/Kind of Blue.jpg"}},
        {std::nullopt, {"Signed"}},
    };
    for (const auto& c : cases) {
        open(QStringLiteral("Signed"));
        QDir::setCurrent(elsewhere.path());
        desk.prompts.answer(c.picked);
        click(QStringLiteral("AddArt"));
        EXPECT_EQ(lastShown(QStringLiteral("openFile")), QStringLiteral("Select Image File to add to album data|") +
                                                             program.path() + QStringLiteral("/|") + kPictureFilter);
        EXPECT_EQ(memoLines(), c.after);
        // Also after a cancelled dialog the working folder is the program folder again.
        EXPECT_EQ(QDir::current().canonicalPath(), QDir(program.path()).canonicalPath());
    }
    QDir::setCurrent(saved);
}

TEST_F(NotesEditorTest, LinkLongerThanSevenCharacters) {
    const struct {
        std::optional<QString> answer;
        QStringList after;
    } cases[] = {
        {QStringLiteral("abc.htm"), {"Signed"}},
        {QStringLiteral("c:\\x.htm"), {"Signed", "URL=c:\\x.htm"}},
        {QStringLiteral("spotify:album:1weenld61qoidwYuZ"), {"Signed", "URL=spotify:album:1weenld61qoidwYuZ"}},
        {std::nullopt, {"Signed"}},
    };
    for (const auto& c : cases) {
        open(QStringLiteral("Signed"));
        desk.prompts.answer(c.answer);
        click(QStringLiteral("URLbutton"));
        EXPECT_EQ(lastShown(QStringLiteral("input")),
                  QStringLiteral("URL, Link, or File|Enter website address, Spotify URI link, or file path|"));
        EXPECT_EQ(memoLines(), c.after);
    }
}

TEST_F(NotesEditorTest, PurchaseCostAndCurrentValue) {
    open(QStringLiteral("Signed"));
    // One entry after the other on the same notes: what the box offers, what it is given, and the
    // notes afterwards.
    const struct {
        const char* button;
        const char* offered;  // title|prompt|start
        std::optional<QString> answer;
        QStringList after;
        bool refused;
    } steps[] = {
        {"EnterPurchase", "Enter COST=of Album|%1|9.95", QStringLiteral("12.50"), {"Signed", "COST=12.50"}, false},
        {"EnterPurchase", "Enter COST=of Album|%1|12.50", QStringLiteral("13"), {"Signed", "COST=13"}, false},
        {"EnterPurchase", "Enter COST=of Album|%1|13", QStringLiteral("$12"), {"Signed", "COST=13"}, true},
        {"EnterPurchase", "Enter COST=of Album|%1|13", std::nullopt, {"Signed", "COST=13"}, false},
        {"EnterValue", "Enter VALUE=of Album|%1|9.95", QStringLiteral("20"), {"Signed", "COST=13", "VALUE=20"}, false},
        {"EnterValue", "Enter VALUE=of Album|%1|20", QStringLiteral("2O"), {"Signed", "COST=13", "VALUE=20"}, true},
        {"EnterPurchase", "Enter COST=of Album|%1|13", QString(), {"Signed", "COST=", "VALUE=20"}, false},
        {"EnterPurchase", "Enter COST=of Album|%1|9.95", QStringLiteral("7"), {"Signed", "COST=7", "VALUE=20"}, false},
    };
    int errors = 0;
    for (const auto& s : steps) {
        SCOPED_TRACE(QString::fromLatin1(s.offered).arg(QString()).toStdString());
        desk.prompts.answer(s.answer);
        click(QString::fromLatin1(s.button));
        EXPECT_EQ(lastShown(QStringLiteral("input")), QString::fromLatin1(s.offered).arg(kAmountPrompt));
        EXPECT_EQ(memoLines(), s.after);
        if (s.refused) ++errors;
        EXPECT_EQ(desk.prompts.texts(QStringLiteral("error")).size(), errors);
    }
    EXPECT_EQ(desk.prompts.texts(QStringLiteral("error")).value(0),
              QStringLiteral("Invalid amount!\rUse only numbers and (optionally) decimal point"));
}

TEST_F(NotesEditorTest, AmountFoundInTheMemoAsEdited) {
    open(QStringLiteral("Signed"));
    memo()->setPlainText(QStringLiteral("Signed\nVALUE= 31.5 \nnote"));
    desk.prompts.answer(QStringLiteral("32"));
    click(QStringLiteral("EnterValue"));
    EXPECT_EQ(lastShown(QStringLiteral("input")), "Enter VALUE=of Album|" + kAmountPrompt + "|31.5");
    EXPECT_EQ(memoLines(), (QStringList{"Signed", "VALUE=32", "note"}));
}

TEST_F(NotesEditorTest, OkHandsBackTheMemoLines) {
    open(QStringLiteral("Signed\r\nCOST=12.50"));
    desk.prompts.answer(QStringLiteral("Live at the town hall"));
    click(QStringLiteral("Extd"));
    desk.prompts.answer(QStringLiteral("https://example.org/kob"));
    click(QStringLiteral("URLbutton"));
    memo()->appendPlainText(QStringLiteral("typed by hand"));
    EXPECT_EQ(editor->notes(), QStringLiteral("Signed\r\nCOST=12.50"));  // nothing handed back before OK
    click(QStringLiteral("OKbutton"));
    EXPECT_EQ(editor->result(), QDialog::Accepted);
    EXPECT_FALSE(editor->isVisible());
    EXPECT_EQ(editor->notes(), QStringLiteral("Signed\r\nCOST=12.50\r\nEXTD=Live at the town hall\r\n"
                                              "URL=https://example.org/kob\r\ntyped by hand"));
}

TEST_F(NotesEditorTest, CancelLeavesTheNotesUnchanged) {
    const QString notes = QStringLiteral("Signed\r\nCOST=12.50");
    open(notes);
    desk.prompts.answer(QStringLiteral("Live at the town hall"));
    click(QStringLiteral("Extd"));
    desk.prompts.answer(QStringLiteral("/covers/a.jpg"));
    click(QStringLiteral("AddArt"));
    desk.prompts.answer(QStringLiteral("99"));
    click(QStringLiteral("EnterPurchase"));
    {
        OnNextModal picker([&](QWidget* w) { child<QPushButton>(w, QStringLiteral("OKbutton"))->click(); });
        desk.prompts.answer(QStringLiteral("Bonus"));
        click(QStringLiteral("Extt"));
    }
    EXPECT_EQ(memoLines(),
              (QStringList{"Signed", "COST=99", "EXTD=Live at the town hall", "COVER=/covers/a.jpg", "EXTT0=Bonus"}));
    click(QStringLiteral("Cancelbutton"));
    EXPECT_EQ(editor->result(), QDialog::Rejected);
    EXPECT_EQ(editor->notes(), notes);
}

TEST_F(NotesEditorTest, PendingAlbumNotesChangeOnlyOnOk) {
    editing::PendingAlbum album;
    album.notes = QStringLiteral("Signed\r\nCOST=12.50");
    album.tracks = tracks;
    TMulti::Options options;
    options.programFolder = program.path() + QLatin1Char('/');
    const struct {
        const char* closeWith;
        bool ok;
        QString notes;
    } cases[] = {
        {"Cancelbutton", false, "Signed\r\nCOST=12.50"},
        {"OKbutton", true, "Signed\r\nCOST=12.50\r\nEXTD=Mono mix"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.closeWith);
        OnNextModal multi([&](QWidget* w) {
            desk.prompts.answer(QStringLiteral("Mono mix"));
            child<QPushButton>(w, QStringLiteral("Extd"))->click();
            if (!c.ok) {
                desk.prompts.answer(QStringLiteral("/covers/b.png"));
                child<QPushButton>(w, QStringLiteral("AddArt"))->click();
            }
            child<QPushButton>(w, QString::fromLatin1(c.closeWith))->click();
        });
        EXPECT_EQ(TMulti::Edit(album, suggestedPick, options), c.ok);
        EXPECT_TRUE(multi.fired());
        EXPECT_EQ(album.notes, c.notes);
    }
}

TEST_F(NotesEditorTest, AddedLinesAreUndoableEdits) {
    open(QStringLiteral("Signed\r\nCOST=12.50"));
    desk.prompts.answer(QStringLiteral("Mono mix"));
    click(QStringLiteral("Extd"));
    desk.prompts.answer(QStringLiteral("14"));
    click(QStringLiteral("EnterPurchase"));
    EXPECT_EQ(memoLines(), (QStringList{"Signed", "COST=14", "EXTD=Mono mix"}));
    memo()->undo();
    EXPECT_EQ(memoLines(), (QStringList{"Signed", "COST=12.50", "EXTD=Mono mix"}));
    memo()->undo();
    EXPECT_EQ(memoLines(), (QStringList{"Signed", "COST=12.50"}));
}

TEST_F(NotesEditorTest, NewLinesFollowTheMemoAsTyped) {
    const struct {
        QString memo;
        QString after;
    } cases[] = {
        {"", "EXTD=x"},
        {"Signed", "Signed\nEXTD=x"},
        {"Signed\n", "Signed\nEXTD=x"},  // into the empty line the user left
        {"Signed\n\n", "Signed\n\nEXTD=x"},
    };
    for (const auto& c : cases) {
        open(QString());
        memo()->setPlainText(c.memo);
        desk.prompts.answer(QStringLiteral("x"));
        click(QStringLiteral("Extd"));
        EXPECT_EQ(memo()->toPlainText(), c.after) << c.memo.toStdString();
        memo()->undo();  // the addition is one edit of what the user had
        EXPECT_EQ(memo()->toPlainText(), c.memo);
    }
}

TEST_F(NotesEditorTest, LyricBlockJoinedWithCarriageReturnsKeepsItsLines) {
    const QString notes =
        notes::AppendLyricBlock(QStringLiteral("Signed"), QStringLiteral("Intro"), QStringLiteral("la la"));
    open(notes);
    EXPECT_EQ(memoLines(), (QStringList{"Signed", "== begin lyric: INTRO", "la la", "== end lyric: INTRO"}));
    click(QStringLiteral("OKbutton"));
    // Unedited, the notes come back as they were; edited, every line ends in CR LF.
    EXPECT_EQ(editor->notes(), notes);
    EXPECT_TRUE(notes::FindLyricBlock(notes::SplitLines(editor->notes()), QStringLiteral("Intro")).has_value());
    open(notes);
    memo()->appendPlainText(QStringLiteral("Bought 2001"));
    click(QStringLiteral("OKbutton"));
    EXPECT_EQ(editor->notes(), QStringLiteral("Signed\r\n== begin lyric: INTRO\r\nla la\r\n== end lyric: INTRO\r\nBought 2001"));
    EXPECT_TRUE(notes::FindLyricBlock(notes::SplitLines(editor->notes()), QStringLiteral("Intro")).has_value());
}

TEST_F(NotesEditorTest, HelpOpensTheNotesPage) {
    open(QString());
    click(QStringLiteral("BitBtn1"));
    EXPECT_EQ(helpPages, QStringList{"CDhelp2.html#notes"});
    QApplication::setActiveWindow(editor.get());
    QTest::keyClick(editor->focusWidget() ? editor->focusWidget() : editor.get(), Qt::Key_F1);
    EXPECT_EQ(helpPages, (QStringList{"CDhelp2.html#notes", "CDhelp2.html#notes"}));
    EXPECT_TRUE(editor->isVisible());
}

}  // namespace
