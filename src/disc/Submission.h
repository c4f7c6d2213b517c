// Contributing an album to the CD database: the xmcd record of the album whose disc is in the
// drive, written in the format the lookup reads, and sent by e-mail to the database's submission
// mailbox over plain SMTP (libcurl).
//
// Three layers, each usable alone: ComposeSubmission turns plain values into the record and the
// mail subject; SendMail delivers any plain-text message; Submit and FreedbClick are the flows
// over the collection, the disc state, the settings file and the message boxes. The flows take
// the settings through functions because the options dialog they may open changes the file
// between two reads, and they take no window: the caller hands in what opens the dialog.
#pragma once

#include "DiscDrive.h"
#include "Settings.h"
#include "Status.h"
#include "Version.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace albumora::store {
class TDM;
}

namespace albumora::disc {

// The CD database's submission mailbox. The "Mailbox" value of section [Current] replaces it,
// for a mirror or a test address.
inline const QString kSubmissionMailbox = QStringLiteral("gnudb-submit@gnudb.org");

namespace submitmsg {
inline const QString kConfirmSettings = QStringLiteral("Confirm e-mail and mail server address");
inline const QString kStillInvalid =
    QStringLiteral("E-mail or mail server address STILL invalid.\rPlease refer to help file.");
inline const QString kThankYou = QStringLiteral("Thank you!\rEntry has been submitted to on-line database");
inline const QString kDefaultTitles = QStringLiteral(
    "ACTUAL data must be entered for Album, Artist,\rAND Tracks (e.g. default \"Track 1\" is not accepted");
// The question before a submission from the detail view: this, the album title, kAskAfter.
inline const QString kAskBefore = QStringLiteral("OK to send info on \r");
inline const QString kAskAfter = QStringLiteral("\r to remote database?");
}  // namespace submitmsg

// ---------------------------------------------------------------------------------------------
// The record

// What the record is made of, as the album's row and track rows hold it.
struct SubmissionAlbum {
    QString artist;
    QString album;
    QString year;   // YR
    QString genre;  // as stored
    // The Rev field: one character whose code minus 48 is the revision the database has; empty
    // for an album that never had one, which counts as revision 0.
    QString rev;
    QString notes;            // the Notes memo; its EXTD and EXTT lines are sent
    QStringList trackTitles;  // in track order
};

struct SubmissionRecord {
    // The genre as stored when it is a category of the database, else "misc"; a genre cut to
    // "soundtrac" by the field width is "soundtrack".
    QString category;
    // The revision the record carries: one more than the album's, at most 126.
    int revision = 0;
    // The album had no revision character; revision 0 was assumed.
    bool revisionAssumed = false;
    QStringList lines;
    // "cddb " + trimmed category + " " + disc ID.
    QString subject;
};

// tocLines: the offset comment lines of the disc (DiscDrive::ComposeTocText, submission mode),
// the disc length line last. allowedCategories: the database's categories (settings section
// "Official"), compared without regard to case. Characters below the blank inside the album's
// fields are sent as blanks, so no value can break a line of the record or of the mail.
SubmissionRecord ComposeSubmission(const SubmissionAlbum& album, const QStringList& tocLines, const QString& discId,
                                   const QStringList& allowedCategories, const QString& productVersion);

// The revision the album's Rev character stands for (its code in the table's code page minus
// 48; 0 for an empty field), and the character stored for a revision.
int RevisionOf(const QString& rev);
QString RevisionCharacter(int revision);

// ---------------------------------------------------------------------------------------------
// The mail

struct MailServer {
    QString host;
    int port = 25;
};
// "mail.example.org", "mail.example.org:587", "127.0.0.1:2525", "[::1]:2525" or a bare IPv6
// address; blanks around it are ignored. Nothing, and the reason in *error, for anything else.
std::optional<MailServer> ParseMailServer(const QString& server, QString* error = nullptr);

struct MailMessage {
    QString from;  // the sender's address, also the envelope sender
    QString to;    // the recipient's address, also the only envelope recipient
    QString subject;
    QStringList body;  // text lines; sent as ISO-8859-1, characters outside it as "?"
};

struct MailOptions {
    int connectTimeoutMs = 30000;
    // The whole exchange, connection included: a server that stops answering ends the send.
    int totalTimeoutMs = 60000;
};

struct MailResult {
    bool sent = false;
    // Why not: libcurl's text for the failure, its detail, and the server's last answer when
    // there was one.
    QString error;
};

// Plain SMTP without authentication or TLS to server (ParseMailServer's forms, port 25 when
// none is given). The message carries Date, From, To, Subject, Message-ID and a text/plain
// ISO-8859-1 body; lines joined by CR LF, lines beginning with "." doubled on the wire. A body
// with a line too long for SMTP (more than 998 bytes) is sent quoted-printable, else as 8 bits.
MailResult SendMail(const QString& server, const MailMessage& message, const MailOptions& options = {});

// ---------------------------------------------------------------------------------------------
// The flows

struct SubmitContext {
    store::TDM& dm;
    // The disc last read from the drive: its TOC gives the offsets, its ID the track rows.
    const DiscState& disc;
    QStringList officialCategories;  // settings section "Official"
    QString productVersion = kProductVersion;
    // The settings file, read again after the options dialog; a failed write is told to notSaved.
    settings::SettingsFile* settingsFile = nullptr;
    std::function<void(const QString& message)> notSaved;
    // Shows the options dialog modally; the settings are read again afterwards.
    std::function<void()> showOptions;
    MailOptions mail;
};

enum class SubmitOutcome {
    Submitted,        // the mail was sent and the album's Rev advanced
    SettingsMissing,  // Server or Mail still empty after the options dialog
    Refused,          // the record cannot be made: no disc read, or the album is not the disc's
    SendFailed,       // the mail exchange failed; nothing was stored
    // FreedbClick only:
    NotInCollection,  // the disc in the drive is not an album of the collection
    DefaultTitles,    // the album still has the "Track n" titles of the TOC
    Declined,         // the user answered No
};

// Submits the current album of tblAlbums with the tracks of the disc's ID. Messages go through
// the desktop's prompts; the table engine's errors come back as errors, for the caller to show.
store::Result<SubmitOutcome> Submit(SubmitContext& context);

// The detail view's button: makes the disc's album current (findCdInCollection, which shows its
// own messages), refuses default track titles (the title of the album's first track in track
// order is checked), asks, and submits.
store::Result<SubmitOutcome> FreedbClick(SubmitContext& context,
                                         const std::function<store::Result<bool>()>& findCdInCollection);

}  // namespace albumora::disc
