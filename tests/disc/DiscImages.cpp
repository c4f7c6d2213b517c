#include "DiscImages.h"

#include <QDir>
#include <QFile>
#include <QTextStream>

#include <discid/discid.h>

#include <gtest/gtest.h>

namespace albumora::test {
namespace {

constexpr int kSectorBytes = 2352;
constexpr int kPregapFrames = 150;

QString msf(int frames) {
    return QStringLiteral("%1:%2:%3")
        .arg(frames / 4500, 2, 10, QLatin1Char('0'))
        .arg(frames / 75 % 60, 2, 10, QLatin1Char('0'))
        .arg(frames % 75, 2, 10, QLatin1Char('0'));
}

bool isData(const DiscLayout& layout, int index) {
    return index >= layout.trackCount() - layout.dataTracks;
}

void writeText(const QString& path, const QString& text) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    f.write(text.toUtf8());
}

QString cueSheet(const QString& bin, const DiscLayout& layout) {
    QString t;
    QTextStream s(&t);
    s << "FILE \"" << bin << "\" BINARY\n";
    for (int i = 0; i < layout.trackCount(); ++i) {
        s << QStringLiteral("  TRACK %1 %2\n")
                 .arg(i + 1, 2, 10, QLatin1Char('0'))
                 .arg(isData(layout, i) ? QStringLiteral("MODE1/2352") : QStringLiteral("AUDIO"));
        // A hidden track lies in the first track's index 0, before its index 1.
        if (i == 0 && layout.starts[0] > kPregapFrames) s << "    INDEX 00 00:00:00\n";
        s << "    INDEX 01 " << msf(layout.starts[size_t(i)] - kPregapFrames) << '\n';
    }
    return t;
}

// cdrdao's form: each track names its stretch of the .bin; START marks where the first track
// proper begins when a hidden track precedes it.
QString tocFile(const QString& bin, const DiscLayout& layout) {
    QString t;
    QTextStream s(&t);
    s << (layout.dataTracks > 0 ? "CD_ROM\n" : "CD_DA\n");
    for (int i = 0; i < layout.trackCount(); ++i) {
        const int from = i == 0 ? 0 : layout.starts[size_t(i)] - kPregapFrames;
        const int to = (i + 1 < layout.trackCount() ? layout.starts[size_t(i) + 1] : layout.leadOut) - kPregapFrames;
        s << "\nTRACK " << (isData(layout, i) ? "MODE1_RAW" : "AUDIO") << '\n';
        s << "FILE \"" << bin << "\" " << msf(from) << ' ' << msf(to - from) << '\n';
        if (i == 0 && layout.starts[0] > kPregapFrames) s << "START " << msf(layout.starts[0] - kPregapFrames) << '\n';
    }
    return t;
}

}  // namespace

std::vector<int> DiscLayout::discidOffsets() const {
    std::vector<int> out{leadOut};
    out.insert(out.end(), starts.begin(), starts.end());
    return out;
}

const char* kindName(ImageKind kind) {
    return kind == ImageKind::Cue ? "cue" : "toc";
}

QString writeImage(const QString& folder, const QString& base, const DiscLayout& layout, ImageKind kind) {
    const QDir dir(folder);
    const QString bin = base + QStringLiteral(".bin");
    QFile data(dir.filePath(bin));
    EXPECT_TRUE(data.open(QIODevice::WriteOnly | QIODevice::Truncate));
    EXPECT_TRUE(data.resize(qint64(layout.leadOut - kPregapFrames) * kSectorBytes));
    data.close();
    const QString path =
        dir.filePath(base + (kind == ImageKind::Cue ? QStringLiteral(".cue") : QStringLiteral(".toc")));
    writeText(path, kind == ImageKind::Cue ? cueSheet(bin, layout) : tocFile(bin, layout));
    return path;
}

DiscLayout randomLayout(std::mt19937& rng, const LayoutOptions& o) {
    constexpr int kDiscFrames = 80 * 60 * 75;
    constexpr int kSessionGap = 11400;
    const int audio = o.dataLast ? o.tracks - 1 : o.tracks;
    DiscLayout l;
    l.dataTracks = o.dataLast ? 1 : 0;
    std::uniform_int_distribution<int> hidden(2 * 75, 4 * 60 * 75);
    int pos = kPregapFrames + (o.hiddenTrack ? hidden(rng) : 0);
    const int room = kDiscFrames - pos - (o.dataLast ? kSessionGap + 10 * 60 * 75 : 0);
    // Between 4 seconds and 15 minutes a track, less when many tracks have to fit.
    std::uniform_int_distribution<int> length(4 * 75,
                                              std::max(5 * 75, std::min(15 * 60 * 75, room / std::max(audio, 1))));
    for (int i = 0; i < audio; ++i) {
        l.starts.push_back(pos);
        pos += length(rng);
    }
    if (o.dataLast) {
        pos += kSessionGap;
        l.starts.push_back(pos);
        pos += std::uniform_int_distribution<int>(60 * 75, 10 * 60 * 75)(rng);
    }
    l.leadOut = pos;
    return l;
}

QString libdiscidFreedbId(const DiscLayout& layout) {
    std::vector<int> offsets = layout.discidOffsets();
    DiscId* d = discid_new();
    QString id;
    if (discid_put(d, 1, layout.trackCount(), offsets.data()))
        id = QString::fromLatin1(discid_get_freedb_id(d));
    else
        ADD_FAILURE() << "libdiscid refused the TOC: " << discid_get_error_msg(d);
    discid_free(d);
    return id;
}

QString libdiscidMusicBrainzId(const DiscLayout& layout) {
    // MusicBrainz counts the audio session only: it ends a session gap before the data track.
    const int audio = layout.trackCount() - layout.dataTracks;
    std::vector<int> offsets(size_t(audio) + 1);
    offsets[0] = layout.dataTracks ? layout.starts[size_t(audio)] - 11400 : layout.leadOut;
    for (int i = 0; i < audio; ++i) offsets[size_t(i) + 1] = layout.starts[size_t(i)];
    DiscId* d = discid_new();
    QString id;
    if (discid_put(d, 1, audio, offsets.data()))
        id = QString::fromLatin1(discid_get_id(d));
    else
        ADD_FAILURE() << "libdiscid refused the TOC: " << discid_get_error_msg(d);
    discid_free(d);
    return id;
}

}  // namespace albumora::test
