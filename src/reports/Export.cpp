#include "Export.h"

#include "Codepage.h"
#include "DMcd.h"
#include "ExportFormat.h"
#include "NotesTags.h"
#include "OutFile.h"

#include <QDir>
#include <QFileInfo>

#include <memory>
#include <vector>

namespace albumora::reports {

using store::Cursor;
using store::ErrorKind;
using store::Result;
using store::Status;

namespace {

bool isMoney(const QString& name) {
    return name.compare(QLatin1String("COST"), Qt::CaseInsensitive) == 0 || name.compare(QLatin1String("VALUE"), Qt::CaseInsensitive) == 0;
}

// The value of an output field for the current album: COST and VALUE from the notes, any other
// name the field of that name.
Result<QString> fieldValue(const Cursor& albums, const QString& name) {
    if (isMoney(name)) {
        ALB_ASSIGN_OR_RETURN(const QString notes, albums.readText(QStringLiteral("Notes")));
        const auto kind = name.compare(QLatin1String("COST"), Qt::CaseInsensitive) == 0 ? notes::AmountKind::Cost : notes::AmountKind::Value;
        return notes::FindAmount(notes::SplitLines(notes), kind).value;
    }
    return albums.readText(name);
}

template <class Body>
Status eachAlbum(Selection& s, const Progress& progress, Body&& body) {
    Cursor& a = s.albums();
    qint64 total = 0;
    if (progress) {
        ALB_ASSIGN_OR_RETURN(total, s.count());
    }
    qint64 done = 0;
    return a.forEachRow([&]() -> Status {
        ALB_TRY(body(a));
        ++done;
        if (progress && (done % 256 == 0 || done == total)) progress(done, total);
        return {};
    });
}

}  // namespace

QStringList InitialAlbumFields(bool withTracks) {
    QStringList f{QStringLiteral("ALBUM"), QStringLiteral("ARTIST")};
    if (withTracks) f << QStringLiteral("ID");
    return f;
}

Result<QStringList> WriteDataFiles(Selection& s, const DataFilesRequest& r, const Progress& progress) {
    if (r.fields.isEmpty()) return QStringList();
    const bool xml = r.kind == FileKind::Xml;
    const QString ext = xml ? QStringLiteral(".xml") : QStringLiteral(".csv");
    std::vector<std::unique_ptr<OutFile>> files;
    files.push_back(std::make_unique<OutFile>(QDir(r.folder).filePath(QStringLiteral("albums") + ext)));
    if (r.withTracks) {
        files.push_back(std::make_unique<OutFile>(QDir(r.folder).filePath(QStringLiteral("tracks") + ext)));
        files.push_back(std::make_unique<OutFile>(QDir(r.folder).filePath(QStringLiteral("playlist") + ext)));
    }
    for (auto& f : files) ALB_TRY(f->open());
    OutFile& albums = *files[0];

    const auto lines = [](OutFile& f, const QStringList& ls) -> Status {
        for (const QString& l : ls) ALB_TRY(f.line(l));
        return {};
    };
    if (xml) {
        ALB_TRY(lines(albums, XmlHead()));
        for (const QString& n : r.fields) ALB_TRY(albums.line(XmlField(n, n, isMoney(n) ? XmlType::Float : XmlType::String)));
        ALB_TRY(lines(albums, XmlMiddle()));
        ALB_TRY(albums.line(QString()));
        if (r.withTracks) {
            const QString id = XmlField(QStringLiteral("ID"), QStringLiteral("ID"), XmlType::String);
            const QString nr = XmlField(QStringLiteral("NR"), QStringLiteral("NR"), XmlType::Integer);
            ALB_TRY(lines(*files[1], XmlHead() + QStringList{id, nr, XmlField(QStringLiteral("TRACK"), QStringLiteral("TRACK"), XmlType::String)} + XmlMiddle()));
            ALB_TRY(lines(*files[2], XmlHead() + QStringList{id, nr} + XmlMiddle()));
        }
    } else {
        ALB_TRY(albums.line(CsvHeader(r.fields)));
        if (r.withTracks) {
            ALB_TRY(files[1]->line(QStringLiteral("\"ID\",\"NR\",\"TRACK\"")));
            ALB_TRY(files[2]->line(QStringLiteral("\"ID\",\"NR\"")));
        }
    }

    QStringList values;
    std::vector<std::pair<QString, QString>> attributes;
    ALB_TRY(eachAlbum(s, progress, [&](const Cursor& a) -> Status {
        values.clear();
        attributes.clear();
        for (int i = 0; i < r.fields.size(); ++i) {
            const QString& name = r.fields[i];
            ALB_ASSIGN_OR_RETURN(const QString v, fieldValue(a, name));
            if (xml)
                attributes.emplace_back(name, isMoney(name) ? v : XmlClean(v, i));
            else
                values << v;
        }
        ALB_TRY(xml ? albums.line(XmlRow(attributes)) : albums.put(CsvRow(values)));
        if (!r.withTracks) return {};
        OutFile& tracks = *files[1];
        OutFile& playlist = *files[2];
        ALB_TRY(s.forEachTrack([&](const Cursor& t) -> Status {
            const QString id = t.text(QStringLiteral("ID"));
            const QString nr = t.text(QStringLiteral("NR"));
            const QString title = t.text(QStringLiteral("Track"));
            if (!xml) return tracks.put(CsvRow({id, nr, title}));
            return tracks.line(QStringLiteral("<ROW ID=\"") + XmlText(id) + QStringLiteral("\" NR=\"") + XmlText(nr.trimmed()) +
                               QStringLiteral("\" TRACK=\"") + XmlText(XmlClean(title, 1)) + QStringLiteral("\"/>"));
        }));
        return s.forEachPlaylistEntry([&](const Cursor& p) -> Status {
            const QString id = p.text(QStringLiteral("ID"));
            const QString nr = p.text(QStringLiteral("NR"));
            if (!xml) return playlist.put(CsvRow({id, nr}));
            return playlist.line(QStringLiteral("<ROW ID=\"") + XmlText(id) + QStringLiteral("\" NR=\"") + XmlText(nr.trimmed()) +
                                 QStringLiteral("\"/>"));
        });
    }));
    if (xml)
        for (auto& f : files) ALB_TRY(lines(*f, XmlTail()));
    QStringList written;
    for (auto& f : files) {
        ALB_TRY(f->commit());
        written << f->path();
    }
    return written;
}

QString FilesCreatedMessage(const QStringList& paths) {
    QString m = QStringLiteral("These files created\r");
    for (const QString& p : paths) m += QStringLiteral("\r\t") + QDir::toNativeSeparators(p);
    return m;
}

Status WriteWebPage(Selection& s, const WebPageRequest& r, const Progress& progress) {
    OutFile page(r.path);
    ALB_TRY(page.open());
    const QString title = HtmlText(r.title);
    ALB_TRY(page.line(QStringLiteral("<!doctype html public \"-//w3c//dtd html 4.0 transitional//en\">")));
    ALB_TRY(page.line(QStringLiteral("<html><head>")));
    ALB_TRY(page.line(QStringLiteral("   <meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\">")));
    ALB_TRY(page.line(QStringLiteral("   <title>") + title + QStringLiteral("</title></head><body><center>")));
    if (!r.title.trimmed().isEmpty())
        ALB_TRY(page.line(QStringLiteral("<p><center><b><font color=\"#3333FF\">") + title + QStringLiteral("</font></b></center>")));
    ALB_ASSIGN_OR_RETURN(const qint64 count, s.count());
    ALB_TRY(page.line(QStringLiteral("<p>Total albums displayed: ") + QString::number(count)));
    ALB_TRY(page.line(QStringLiteral("<table bgcolor=\"#E9C2A6\" BORDER COLS=") + (r.withTracks ? QStringLiteral("3") : QStringLiteral("2")) +
                      QStringLiteral(" WIDTH=\"100%\" >")));
    const bool byAlbum = r.order == Order::Album;
    const bool natural = r.order == Order::Natural;
    ALB_TRY(page.line((byAlbum ? QStringLiteral("<th>Album</th><th>Artist</th>") : QStringLiteral("<th>Artist</th><th>Album</th>")) +
                      (r.withTracks ? QStringLiteral("<th>Tracks</th>") : QString())));

    // Two band colours, alternating with each new initial letter of the sort field.
    const QString colours[2] = {QStringLiteral("FFF09E"), QStringLiteral("DIDF9C")};
    int colour = 0;
    QChar letter = QLatin1Char(' ');
    ALB_TRY(eachAlbum(s, progress, [&](const Cursor& a) -> Status {
        const QString artist = a.text(QStringLiteral("Artist"));
        const QString album = a.text(QStringLiteral("Album"));
        if (!natural) {
            const QString key = byAlbum ? album : artist;
            const QChar first = key.isEmpty() ? QChar() : QChar(store::asciiUpper(key.left(1)).at(0));
            if (!first.isNull() && first >= QLatin1Char('A') && first != letter) {
                letter = first;
                colour = 1 - colour;
            }
        }
        const QString& c = colours[natural ? 0 : colour];
        ALB_TRY(page.line(natural ? QStringLiteral("<tr>") : QStringLiteral("<tr bgcolor=\"#") + c + QStringLiteral("\">")));
        ALB_TRY(page.line(QStringLiteral("<td>") + HtmlText(byAlbum ? album : artist) + QStringLiteral("</td>")));
        ALB_TRY(page.line(QStringLiteral("<td>") + HtmlText(byAlbum ? artist : album) + QStringLiteral("</td>")));
        if (!r.withTracks) return page.line(QStringLiteral("</tr>"));
        bool first = true;
        return s.forEachTrack([&](const Cursor& t) -> Status {
            const QString track = HtmlText(t.text(QStringLiteral("Track")));
            if (first) {
                first = false;
                return page.line(QStringLiteral("<td>") + track + QStringLiteral("</td></tr>"));
            }
            return page.line(QStringLiteral("<tr bgcolor=\"#") + c + QStringLiteral("\"><td></td><td></td><td>") + track +
                             QStringLiteral("</td></tr>"));
        });
    }));
    ALB_TRY(page.line(QStringLiteral("</table>")));
    return page.commit();
}

}  // namespace albumora::reports
