// The table files against programs that are not ours. Tables written here must read the same in
// python3-dbfread and python3-dbf, field for field; tables written by python3-dbf and by FoxPro
// itself must read the same here as they do in those readers; index files written here must pass
// the independent CDX reader, and FoxPro's own index files must seek to the rows a scan finds.
#include "Check.h"
#include "Codepage.h"
#include "Cursor.h"
#include "DMcd.h"
#include "IndexFile.h"
#include "Table.h"
#include "TestSupport.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <set>

using namespace albumora::store;
using albumora::test::TempFolder;

namespace {

#define OK(expr)                                                          \
    do {                                                                  \
        const ::albumora::store::Status st_ = (expr);                     \
        ASSERT_TRUE(st_.isOk()) << #expr << ": " << st_.text().toStdString(); \
    } while (0)

// Both readers, each as it decodes the table without help. The five bytes Windows-1252 leaves
// unassigned decode to the code points of the same number, as the engine reads them.
const char* kReadScript = R"PY(
import codecs, datetime, decimal, json, sys
import dbfread
codecs.register_error('samebyte', lambda e: (''.join(chr(b) for b in e.object[e.start:e.end]), e.end))
path, encoding, readers = sys.argv[1], sys.argv[2] or None, sys.argv[3].split(',')

def plain(v):
    if v is None or isinstance(v, (bool, int, float, str)):
        return v
    if isinstance(v, decimal.Decimal):
        return float(v)
    if isinstance(v, datetime.datetime):
        return v.strftime('%Y-%m-%d %H:%M:%S.') + '%03d' % (v.microsecond // 1000)
    if isinstance(v, datetime.date):
        return v.isoformat()
    if isinstance(v, (bytes, bytearray)):
        return bytes(v).hex()
    return str(v)

out = {}
if 'dbfread' in readers:
    # Rows as lists: a table may name two fields alike (dbase_03 has two Point_ID).
    t = dbfread.DBF(path, encoding=encoding, char_decode_errors='samebyte', load=True,
                    recfactory=lambda items: [v for _, v in items])
    out['dbfread'] = {
        'version': t.header.dbversion,
        'encoding': t.encoding,
        'date': t.date.isoformat() if t.date else None,
        'fields': [[f.name, f.type, f.length, f.decimal_count] for f in t.fields],
        'live': [[plain(v) for v in r] for r in t.records],
        'deleted': [[plain(v) for v in r] for r in t.deleted],
    }
if 'dbf' in readers:
    import dbf
    t = dbf.Table(path)
    t.open(dbf.READ_ONLY)
    names = t.field_names
    infos = [t.field_info(n) for n in names]
    types = [chr(int(i.field_type)) for i in infos]
    rows = []
    for r in t:
        values = []
        for n, ty in zip(names, types):
            v = r[n]
            if ty == 'C' and isinstance(v, str):
                v = v.rstrip()
            values.append(plain(v))
        rows.append({'deleted': bool(dbf.is_deleted(r)), 'values': values})
    out['dbf'] = {
        'codepage': t.codepage.name,
        'fields': [[n, ty, i.length, i.decimal] for n, ty, i in zip(names, types, infos)],
        'rows': rows,
    }
    t.close()
print(json.dumps(out))
)PY";

// A FoxPro 2.x table with memos written by python3-dbf from rows given as JSON.
const char* kWriteScript = R"PY(
import datetime, json, sys
import dbf
path, rows = sys.argv[1], json.load(open(sys.argv[2], encoding='utf-8'))
t = dbf.Table(path, 'artist C(40); album C(50); notes M; marked L; year N(4,0); genre C(10); price N(8,2); bought D',
              dbf_type='fp', codepage='cp1252')
t.open(dbf.READ_WRITE)
for r in rows:
    bought = datetime.date.fromisoformat(r['bought']) if r['bought'] else None
    t.append((r['artist'], r['album'], r['notes'], r['marked'], r['year'], r['genre'], r['price'], bought))
    if r['deleted']:
        dbf.delete(t[-1])
t.close()
)PY";

QJsonObject readWithPython(const QString& dbf, const QString& readers, const QString& encoding = {}) {
    const auto r = albumora::test::runPython(QString::fromLatin1(kReadScript), {dbf, encoding, readers});
    EXPECT_EQ(r.exitCode, 0) << "python readers on " << dbf.toStdString() << ":\n" << r.err.toStdString();
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(r.out.toUtf8(), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << r.out.left(400).toStdString();
    return doc.object();
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

void writeAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    f.write(bytes);
}

std::string describe(const QJsonValue& v) {
    return QString::fromUtf8(QJsonDocument(QJsonArray{v}).toJson(QJsonDocument::Compact)).toStdString();
}

// Whether the text the engine shows for a field is the value a python reader decoded. An empty
// text stands for None (blank numbers, dates and logicals, empty memos).
bool sameValue(char type, const QString& ours, const QJsonValue& theirs) {
    if (theirs.isNull() || theirs.isUndefined()) return ours.isEmpty();
    switch (type) {
        case 'L': return theirs.isBool() && ours == (theirs.toBool() ? QLatin1String("T") : QLatin1String("F"));
        case 'N':
        case 'F':
        case 'I':
        case 'Y':
        case 'B': {
            if (!theirs.isDouble()) return false;
            bool ok = false;
            const double v = ours.toDouble(&ok);
            return ok && std::abs(v - theirs.toDouble()) <= 1e-9 * std::max(1.0, std::abs(v));
        }
        case 'T': {
            // A datetime holds whole seconds; the milliseconds FoxPro stores beside them are
            // float residue (16:09:59.999 for a call logged at 16:10:00), so the second shown is
            // the nearest one.
            const QDateTime local = QDateTime::fromString(theirs.toString(), QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
            if (!local.isValid()) return false;
            const qint64 ms = QDateTime(local.date(), local.time(), Qt::UTC).toMSecsSinceEpoch();
            const qint64 nearest = qint64(std::floor((double(ms) + 500.0) / 1000.0)) * 1000;
            return QDateTime::fromMSecsSinceEpoch(nearest, Qt::UTC).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) == ours;
        }
        default: return theirs.isString() && theirs.toString() == ours;
    }
}

// ---------------------------------------------------------------------------------------------
// What the engine reads: every visible row through a cursor, and the deletion flags of the file.

struct OurTable {
    std::vector<FieldDef> fields;
    std::vector<std::uint32_t> recnos;  // visible rows, natural order
    std::vector<QStringList> rows;
    std::uint32_t recordCount = 0;
    std::set<std::uint32_t> deleted;
    std::uint8_t version = 0;
    std::uint8_t codePage = 0;
};

OurTable readWithCursor(const QString& path) {
    OurTable t;
    Cursor c;
    c.setTablePath(path);
    const Status st = c.open();
    EXPECT_TRUE(st.isOk()) << st.text().toStdString();
    if (!st) return t;
    t.fields = c.table()->fields();
    t.recordCount = c.table()->recordCount();
    t.version = c.table()->dbf().version();
    t.codePage = c.table()->dbf().codePage();
    for (Status s = c.first(); !c.eof(); s = c.next()) {
        EXPECT_TRUE(s.isOk()) << s.text().toStdString();
        if (!s) break;
        QStringList row;
        for (int i = 0; i < int(t.fields.size()); ++i) row << c.text(i);
        t.recnos.push_back(c.recNo());
        t.rows.push_back(row);
    }
    std::string rec;
    for (std::uint32_t r = 1; r <= t.recordCount; ++r) {
        EXPECT_TRUE(c.table()->readRecord(r, rec).isOk());
        if (!rec.empty() && rec[0] == '*') t.deleted.insert(r);
    }
    return t;
}

// ---------------------------------------------------------------------------------------------
// A model of the rows a test wrote: the texts every reader must show.

struct ModelField {
    QString name;
    char type;
    int length;
    int decimals = 0;
};

struct ModelRow {
    QStringList values;  // as the engine shows them: no trailing blanks, "T"/"F", "" for blank
    bool deleted = false;
};

// The text a Char field of the given width holds once written: cut to the width, trailing
// blanks gone.
QString fitted(const QString& text, int width) {
    QString t = text.left(width);
    while (t.endsWith(QLatin1Char(' '))) t.chop(1);
    return t;
}

// Checks what both python readers decoded against the model.
void expectPythonReadsModel(const QString& path, const std::vector<ModelField>& fields, const std::vector<ModelRow>& model,
                            std::uint8_t version, const QString& phase) {
    SCOPED_TRACE(phase.toStdString());
    const QJsonObject py = readWithPython(path, QStringLiteral("dbfread,dbf"));
    const QJsonObject dr = py.value(QStringLiteral("dbfread")).toObject();
    const QJsonObject pd = py.value(QStringLiteral("dbf")).toObject();
    ASSERT_FALSE(dr.isEmpty());
    ASSERT_FALSE(pd.isEmpty());

    // Header: version, the Windows-1252 mark, today's date of last update.
    EXPECT_EQ(dr.value(QStringLiteral("version")).toInt(), int(version));
    EXPECT_EQ(dr.value(QStringLiteral("encoding")).toString(), QStringLiteral("cp1252"));
    EXPECT_EQ(pd.value(QStringLiteral("codepage")).toString(), QStringLiteral("cp1252"));
    const QDate date = QDate::fromString(dr.value(QStringLiteral("date")).toString(), Qt::ISODate);
    EXPECT_LE(std::abs(date.daysTo(QDate::currentDate())), 1) << dr.value(QStringLiteral("date")).toString().toStdString();

    // Field descriptors: names as written (python3-dbf shows them in lower case), types, widths.
    const QJsonArray drFields = dr.value(QStringLiteral("fields")).toArray();
    const QJsonArray pdFields = pd.value(QStringLiteral("fields")).toArray();
    ASSERT_EQ(drFields.size(), qsizetype(fields.size()));
    ASSERT_EQ(pdFields.size(), qsizetype(fields.size()));
    for (size_t i = 0; i < fields.size(); ++i) {
        const QJsonArray a = drFields[qsizetype(i)].toArray();
        const QJsonArray b = pdFields[qsizetype(i)].toArray();
        EXPECT_EQ(a[0].toString(), fields[i].name);
        EXPECT_EQ(a[1].toString(), QString(QLatin1Char(fields[i].type)));
        EXPECT_EQ(a[2].toInt(), fields[i].length) << fields[i].name.toStdString();
        EXPECT_EQ(a[3].toInt(), fields[i].decimals) << fields[i].name.toStdString();
        EXPECT_EQ(b[0].toString(), fields[i].name.toLower());
        EXPECT_EQ(b[1].toString(), QString(QLatin1Char(fields[i].type)));
        EXPECT_EQ(b[2].toInt(), fields[i].length) << fields[i].name.toStdString();
        EXPECT_EQ(b[3].toInt(), fields[i].decimals) << fields[i].name.toStdString();
    }

    // Rows: dbfread lists live and deleted rows apart, python3-dbf flags them in file order.
    std::vector<const ModelRow*> live, deleted;
    for (const ModelRow& r : model) (r.deleted ? deleted : live).push_back(&r);
    auto compareRows = [&](const char* reader, const QJsonArray& got, const std::vector<const ModelRow*>& want) {
        ASSERT_EQ(got.size(), qsizetype(want.size())) << reader;
        for (size_t r = 0; r < want.size(); ++r) {
            const QJsonArray values = got[qsizetype(r)].toArray();
            ASSERT_EQ(values.size(), qsizetype(fields.size()));
            for (size_t f = 0; f < fields.size(); ++f)
                EXPECT_TRUE(sameValue(fields[f].type, want[r]->values[qsizetype(f)], values[qsizetype(f)]))
                    << reader << " row " << r + 1 << " field " << fields[f].name.toStdString() << ": wrote \""
                    << want[r]->values[qsizetype(f)].left(200).toStdString() << "\", read "
                    << describe(values[qsizetype(f)]).substr(0, 200);
        }
    };
    compareRows("dbfread live", dr.value(QStringLiteral("live")).toArray(), live);
    compareRows("dbfread deleted", dr.value(QStringLiteral("deleted")).toArray(), deleted);
    const QJsonArray pdRows = pd.value(QStringLiteral("rows")).toArray();
    ASSERT_EQ(pdRows.size(), qsizetype(model.size()));
    QJsonArray pdValues;
    std::vector<const ModelRow*> all;
    for (qsizetype r = 0; r < pdRows.size(); ++r) {
        const QJsonObject row = pdRows[r].toObject();
        EXPECT_EQ(row.value(QStringLiteral("deleted")).toBool(), model[size_t(r)].deleted) << "python3-dbf row " << r + 1;
        pdValues.append(row.value(QStringLiteral("values")));
        all.push_back(&model[size_t(r)]);
    }
    compareRows("python3-dbf", pdValues, all);
}

// Checks what the engine itself reads against the model: visible rows in natural order, and the
// deletion flags of the file.
void expectCursorReadsModel(const QString& path, const std::vector<ModelField>& fields, const std::vector<ModelRow>& model,
                            const QString& phase) {
    SCOPED_TRACE(phase.toStdString());
    const OurTable t = readWithCursor(path);
    ASSERT_EQ(t.fields.size(), fields.size());
    for (size_t i = 0; i < fields.size(); ++i) {
        EXPECT_EQ(asciiUpper(QString::fromLatin1(t.fields[i].name.c_str())), asciiUpper(fields[i].name));
        EXPECT_EQ(t.fields[i].type, fields[i].type);
        EXPECT_EQ(t.fields[i].length, fields[i].length);
        EXPECT_EQ(t.fields[i].decimals, fields[i].decimals);
    }
    ASSERT_EQ(t.recordCount, model.size());
    std::vector<QStringList> want;
    std::set<std::uint32_t> wantDeleted;
    for (size_t r = 0; r < model.size(); ++r) {
        if (model[r].deleted)
            wantDeleted.insert(std::uint32_t(r + 1));
        else
            want.push_back(model[r].values);
    }
    EXPECT_EQ(t.deleted, wantDeleted);
    ASSERT_EQ(t.rows.size(), want.size());
    for (size_t r = 0; r < want.size(); ++r)
        for (size_t f = 0; f < fields.size(); ++f)
            EXPECT_TRUE(t.rows[r][qsizetype(f)] == want[r][qsizetype(f)])
                << "visible row " << r + 1 << " field " << fields[f].name.toStdString() << ": wrote \""
                << want[r][qsizetype(f)].left(200).toStdString() << "\", read \"" << t.rows[r][qsizetype(f)].left(200).toStdString()
                << "\"";
}

// ---------------------------------------------------------------------------------------------
// Rows with the texts collections hold: Windows-1252 letters and signs, memos empty, long, with
// CR LF and lone line breaks inside, memos ending on a block boundary and one byte past it,
// texts that fill their field to the last byte.

struct Sample {
    QString artist, album, notes;
    bool marked;
    QString year;
    QString genre;
    QString price;
    QString bought;  // as readers show a date: YYYY-MM-DD
    bool toDelete;
};

QString longNotes(int size = 5000) {
    QString s;
    for (int i = 0; s.size() < size; ++i)
        s += QStringLiteral("%1. Motörhead – Ace of Spades, „live“ … 12,50 €\r\n").arg(i);
    return s;
}

std::vector<Sample> samples() {
    // A memo block is 64 bytes and its header 8: 56 bytes fill the first block exactly.
    const QString fillsBlock = QString(55, QLatin1Char('x')) + QStringLiteral("é");
    const QString spillsBlock = fillsBlock + QStringLiteral("!");
    return {
        {QStringLiteral("Björk"), QStringLiteral("Homogénic"), QString(), true, QStringLiteral("1997"),
         QStringLiteral("Electronic"), QStringLiteral("12.50"), QStringLiteral("1997-09-22"), false},
        {QStringLiteral("Motörhead"), QStringLiteral("Ace of Spades"),
         QStringLiteral("Lemmy, Phil & Eddie\r\nCOST=12.50\r\nURL=http://www.imotorhead.com"), false,
         QStringLiteral("1980"), QStringLiteral("Rock"), QStringLiteral("-3.75"), QStringLiteral("1980-11-08"), false},
        // Longer than 64 KiB, which a 16-bit length would not hold.
        {QStringLiteral("Sigur Rós"), QStringLiteral("( )"), longNotes(70000), true, QStringLiteral("2002"),
         QStringLiteral("Post-Rock"), QStringLiteral("99999.99"), QStringLiteral("2002-10-28"), false},
        {QStringLiteral("Gone Artist"), QStringLiteral("Deleted Album"), QStringLiteral("this memo goes with its row"),
         false, QStringLiteral("1999"), QStringLiteral("Pop"), QStringLiteral("1.00"), QStringLiteral("1999-12-31"), true},
        {QStringLiteral("  Leading Blanks Stay"), QString(49, QLatin1Char('A')) + QStringLiteral("é"), fillsBlock, false,
         QString(), QString(), QString(), QString(), false},
        {QStringLiteral("„Quoted“ – Œuvre … ‰ Žák š ÿ €"), QStringLiteral("Café del Mar"), spillsBlock, true,
         QStringLiteral("2000"), QStringLiteral("Chillout"), QStringLiteral("0.00"), QStringLiteral("2000-02-29"), false},
        {QStringLiteral("Deleted Too"), QStringLiteral("Zzz"), QString(), true, QStringLiteral("2010"), QStringLiteral("Jazz"),
         QStringLiteral("7.10"), QString(), true},
        {QStringLiteral("An artist name longer than the forty bytes of its field"), QStringLiteral("Last Row"),
         QStringLiteral("lone CR\rlone LF\nCR LF\r\n"), false, QStringLiteral("2024"), QStringLiteral("Blues & Soul"),
         QStringLiteral("5.05"), QStringLiteral("2024-01-01"), false},
    };
}

const QString kMixtapeFields = QStringLiteral(
    "Artist,Char,40;Album,Char,50;Notes,Memo;Marked,logical;Year,Numeric,4;Genre,Char,10;Price,Numeric,8,2;"
    "Bought,Date;");

std::vector<ModelField> mixtapeModelFields() {
    return {{QStringLiteral("Artist"), 'C', 40}, {QStringLiteral("Album"), 'C', 50}, {QStringLiteral("Notes"), 'M', 10},
            {QStringLiteral("Marked"), 'L', 1},  {QStringLiteral("Year"), 'N', 4},   {QStringLiteral("Genre"), 'C', 10},
            {QStringLiteral("Price"), 'N', 8, 2}, {QStringLiteral("Bought"), 'D', 8}};
}

ModelRow modelOf(const Sample& s) {
    return {{fitted(s.artist, 40), fitted(s.album, 50), s.notes, s.marked ? QStringLiteral("T") : QStringLiteral("F"),
             s.year, fitted(s.genre, 10), s.price, s.bought},
            false};
}

void writeSample(Cursor& c, const Sample& s) {
    OK(c.append());
    OK(c.setText(QStringLiteral("Artist"), s.artist));
    OK(c.setText(QStringLiteral("Album"), s.album));
    OK(c.setText(QStringLiteral("Notes"), s.notes));
    OK(c.setBoolean(QStringLiteral("Marked"), s.marked));
    OK(c.setText(QStringLiteral("Year"), s.year));
    OK(c.setText(QStringLiteral("Genre"), s.genre));
    OK(c.setText(QStringLiteral("Price"), s.price));
    // A date field takes the stored form, YYYYMMDD.
    OK(c.setText(QStringLiteral("Bought"), QString(s.bought).remove(QLatin1Char('-'))));
    OK(c.post());
}

// The size of a memo file holding exactly the given texts, each in whole blocks after the header.
qint64 compactMemoSize(const QString& fpt, const std::vector<ModelRow>& model, int memoField) {
    const QByteArray header = readAll(fpt).left(8);
    const int blockSize = (static_cast<unsigned char>(header[6]) << 8) | static_cast<unsigned char>(header[7]);
    qint64 size = 512;
    for (const ModelRow& r : model) {
        const qint64 bytes = qint64(toCp1252(r.values[memoField]).size());
        if (!r.deleted && bytes > 0) size += (bytes + 8 + blockSize - 1) / blockSize * blockSize;
    }
    return size;
}

TEST(InteropWrittenHere, PythonReadersSeeEveryFieldBeforeAndAfterPack) {
    TempFolder dir;
    const QString path = dir.file(QStringLiteral("MIXTAPE.DBF"));
    auto fields = parseFieldList(kMixtapeFields);
    ASSERT_TRUE(fields.isOk()) << fields.error().text().toStdString();
    OK(Table::create(path, *fields));

    std::vector<ModelRow> model;
    {
        Cursor c;
        c.setTablePath(path);
        OK(c.open());
        for (const Sample& s : samples()) {
            writeSample(c, s);
            model.push_back(modelOf(s));
        }
        // A rewritten memo goes to new blocks; readers must follow the record to them.
        OK(c.gotoBookmark({2}));
        OK(c.edit());
        const QString rewritten = QStringLiteral("Rewritten: Motörhead\r\nVALUE=20");
        OK(c.setText(QStringLiteral("Notes"), rewritten));
        OK(c.setText(QStringLiteral("Artist"), QStringLiteral("Motörhead (UK)")));
        OK(c.post());
        model[1].values[0] = QStringLiteral("Motörhead (UK)");
        model[1].values[2] = rewritten;
        // And a memo emptied by an edit reads as no memo.
        OK(c.gotoBookmark({6}));
        OK(c.edit());
        OK(c.setText(QStringLiteral("Notes"), QString()));
        OK(c.post());
        model[5].values[2].clear();
        const std::vector<Sample> all = samples();
        for (size_t i = 0; i < all.size(); ++i) {
            if (!all[i].toDelete) continue;
            OK(c.gotoBookmark({std::uint32_t(i + 1)}));
            OK(c.deleteRecord());
            model[i].deleted = true;
        }
        OK(c.flush());
    }
    ASSERT_FALSE(QFile::exists(indexPathFor(path))) << "no tag was asked for";
    expectPythonReadsModel(path, mixtapeModelFields(), model, 0xF5, QStringLiteral("before pack"));
    expectCursorReadsModel(path, mixtapeModelFields(), model, QStringLiteral("before pack"));

    {
        Cursor c;
        c.setTablePath(path);
        OK(c.open(OpenMode::Exclusive));
        OK(c.table()->pack());
    }
    std::vector<ModelRow> packed;
    for (const ModelRow& r : model)
        if (!r.deleted) packed.push_back(r);
    expectPythonReadsModel(path, mixtapeModelFields(), packed, 0xF5, QStringLiteral("after pack"));
    expectCursorReadsModel(path, mixtapeModelFields(), packed, QStringLiteral("after pack"));
    EXPECT_EQ(QFileInfo(memoPathFor(path)).size(), compactMemoSize(memoPathFor(path), packed, 2))
        << "pack leaves only the memos of live rows";
    EXPECT_TRUE(CheckTable(path).isEmpty()) << CheckTable(path).join(QLatin1Char('\n')).toStdString();
}

TEST(InteropWrittenHere, CollectionTablesOfTheDataModuleReadTheSameInPython) {
    TempFolder dir;
    TDM dm(dir.path());
    OK(dm.EnsureCollectionFiles());
    OK(dm.OpenCollectionTables());

    struct Track {
        const char* nr;
        QString title;
        const char* secs;
        bool deleted;
    };
    const std::vector<Track> tracks = {
        {"  1", QStringLiteral("Kickstart My Heart – Mötley Crüe"), " 282", false},
        {"  2", QStringLiteral("Wild Side"), " 280", true},
        {"  3", QStringLiteral("Girls, Girls, Girls"), " 270", false},
        {" 10", QString(73, QLatin1Char('L')), "9999", false},
        {" 11", QStringLiteral("Dr. Feelgood (Demo) ™"), "  65", true},
        {" 12", QStringLiteral("Same Ol' Situation (S.O.S.)"), "    ", false},
    };
    std::vector<ModelRow> trackModel;
    for (const Track& t : tracks) {
        Cursor& c = dm.tblCD;
        OK(c.append());
        OK(c.setText(QStringLiteral("ID"), QStringLiteral("z0000001")));
        OK(c.setText(QStringLiteral("NR"), QString::fromLatin1(t.nr)));
        OK(c.setText(QStringLiteral("Track"), t.title));
        OK(c.setText(QStringLiteral("Secs"), QString::fromLatin1(t.secs)));
        OK(c.post());
        trackModel.push_back({{QStringLiteral("z0000001"), fitted(QString::fromLatin1(t.nr), 3), fitted(t.title, 73),
                               fitted(QString::fromLatin1(t.secs), 4)},
                              false});
    }
    for (size_t i = 0; i < tracks.size(); ++i) {
        if (!tracks[i].deleted) continue;
        OK(dm.tblCD.setOrder(QString()));
        OK(dm.tblCD.gotoBookmark({std::uint32_t(i + 1)}));
        OK(dm.tblCD.deleteRecord());
        trackModel[i].deleted = true;
    }
    Cursor& a = dm.tblAlbums;
    OK(a.append());
    OK(a.setText(QStringLiteral("ID"), QStringLiteral("z0000001")));
    OK(a.setText(QStringLiteral("Artist"), QStringLiteral("Mötley Crüe")));
    OK(a.setText(QStringLiteral("Album"), QStringLiteral("Dr. Feelgood")));
    OK(a.setText(QStringLiteral("Notes"), QStringLiteral("COST=9.99\r\nEXTD=Produced by Bob Rock\\n")));
    OK(a.post());
    OK(dm.FlushCollection());
    dm.CloseAll();

    const std::vector<ModelField> trackFields = {
        {QStringLiteral("ID"), 'C', 8}, {QStringLiteral("NR"), 'C', 3}, {QStringLiteral("Track"), 'C', 73}, {QStringLiteral("Secs"), 'C', 4}};
    const QString tracksPath = dm.tablePath(QStringLiteral("TRACKS.DBF"));
    EXPECT_FALSE(QFile::exists(memoPathFor(tracksPath))) << "a table without memo fields has no memo file";
    expectPythonReadsModel(tracksPath, trackFields, trackModel, 0x03, QStringLiteral("tracks"));

    const std::vector<ModelField> albumFields = {
        {QStringLiteral("Album"), 'C', 50}, {QStringLiteral("Artist"), 'C', 50}, {QStringLiteral("IX"), 'C', 6},
        {QStringLiteral("Genre"), 'C', 10}, {QStringLiteral("YR"), 'C', 4},      {QStringLiteral("ID"), 'C', 8},
        {QStringLiteral("Label"), 'C', 55}, {QStringLiteral("Media"), 'C', 2},   {QStringLiteral("Rev"), 'C', 1},
        {QStringLiteral("Sys"), 'C', 1},    {QStringLiteral("Notes"), 'M', 10}};
    const std::vector<ModelRow> albumModel = {
        {{QStringLiteral("Dr. Feelgood"), QStringLiteral("Mötley Crüe"), {}, {}, {}, QStringLiteral("z0000001"), {}, {}, {}, {},
          QStringLiteral("COST=9.99\r\nEXTD=Produced by Bob Rock\\n")},
         false}};
    expectPythonReadsModel(dm.tablePath(QStringLiteral("ALBUMS.DBF")), albumFields, albumModel, 0xF5, QStringLiteral("albums"));

    {
        auto t = Table::open(tracksPath, OpenMode::Exclusive);
        ASSERT_TRUE(t.isOk()) << t.error().text().toStdString();
        OK((*t)->pack());
    }
    std::vector<ModelRow> packed;
    for (const ModelRow& r : trackModel)
        if (!r.deleted) packed.push_back(r);
    expectPythonReadsModel(tracksPath, trackFields, packed, 0x03, QStringLiteral("tracks after pack"));
    EXPECT_FALSE(QFile::exists(memoPathFor(tracksPath)));
}

// ---------------------------------------------------------------------------------------------
// Tables python3-dbf wrote.

TEST(InteropWrittenElsewhere, FoxProTableFromPythonDbfReadsFieldForFieldAndTakesOurWrites) {
    TempFolder dir;
    const QString path = dir.file(QStringLiteral("fromdbf.dbf"));
    const std::vector<Sample> all = samples();
    std::vector<ModelRow> model;
    QJsonArray rows;
    for (Sample s : all) {
        s.artist = s.artist.trimmed();  // python3-dbf drops leading blanks itself
        rows.append(QJsonObject{{QStringLiteral("artist"), fitted(s.artist, 40)},
                                {QStringLiteral("album"), fitted(s.album, 50)},
                                {QStringLiteral("notes"), s.notes},
                                {QStringLiteral("marked"), s.marked},
                                {QStringLiteral("year"), s.year.isEmpty() ? QJsonValue() : QJsonValue(s.year.toInt())},
                                {QStringLiteral("genre"), fitted(s.genre, 10)},
                                {QStringLiteral("price"), s.price.isEmpty() ? QJsonValue() : QJsonValue(s.price.toDouble())},
                                {QStringLiteral("bought"), s.bought},
                                {QStringLiteral("deleted"), s.toDelete}});
        ModelRow m = modelOf(s);
        m.deleted = s.toDelete;
        model.push_back(m);
    }
    // A logical nobody set: python3-dbf writes "?", which reads as blank.
    QJsonObject unset = rows[4].toObject();
    unset[QStringLiteral("marked")] = QJsonValue();
    rows[4] = unset;
    model[4].values[3].clear();
    const QString rowsFile = dir.file(QStringLiteral("rows.json"));
    writeAll(rowsFile, QJsonDocument(rows).toJson());
    const auto w = albumora::test::runPython(QString::fromLatin1(kWriteScript), {path, rowsFile});
    ASSERT_EQ(w.exitCode, 0) << w.err.toStdString();

    // python3-dbf names the fields in upper case on disk.
    std::vector<ModelField> fields = mixtapeModelFields();
    for (ModelField& f : fields) f.name = f.name.toUpper();
    expectCursorReadsModel(path, fields, model, QStringLiteral("as python3-dbf wrote it"));
    {
        const OurTable t = readWithCursor(path);
        EXPECT_EQ(t.version, 0xF5);
        EXPECT_EQ(t.codePage, 0x03);
    }

    // Our writes to its file: an appended row with a memo, a deleted row, a rewritten memo, a pack.
    {
        Cursor c;
        c.setTablePath(path);
        OK(c.open(OpenMode::Exclusive));
        Sample extra{QStringLiteral("Added Here – Ünïcödé"), QStringLiteral("Appendix"), longNotes().left(700), true,
                     QStringLiteral("2025"), QStringLiteral("Folk"), QStringLiteral("3.30"), QStringLiteral("2025-06-30"), false};
        writeSample(c, extra);
        model.push_back(modelOf(extra));
        OK(c.gotoBookmark({1}));
        OK(c.deleteRecord());
        model[0].deleted = true;
        OK(c.gotoBookmark({3}));
        OK(c.edit());
        OK(c.setText(QStringLiteral("Notes"), QStringLiteral("kürzer")));
        OK(c.post());
        model[2].values[2] = QStringLiteral("kürzer");
        OK(c.flush());
    }
    expectPythonReadsModel(path, fields, model, 0xF5, QStringLiteral("after our writes"));
    {
        Cursor c;
        c.setTablePath(path);
        OK(c.open(OpenMode::Exclusive));
        OK(c.table()->pack());
    }
    std::vector<ModelRow> packed;
    for (const ModelRow& r : model)
        if (!r.deleted) packed.push_back(r);
    expectPythonReadsModel(path, fields, packed, 0xF5, QStringLiteral("after our pack"));
    expectCursorReadsModel(path, fields, packed, QStringLiteral("after our pack"));
}

// ---------------------------------------------------------------------------------------------
// Tables FoxPro wrote (../shared/testdata/foxpro), worked on as copies.

struct FoxTable {
    const char* dbf;
    std::vector<const char*> companions;
};

void PrintTo(const FoxTable& t, std::ostream* os) { *os << t.dbf; }

const std::vector<FoxTable>& foxTables() {
    static const std::vector<FoxTable> t = {
        {"calls.dbf", {"calls.FPT", "calls.CDX"}},       {"contacts.dbf", {"contacts.FPT", "contacts.CDX"}},
        {"setup.dbf", {"setup.CDX"}},                    {"types.dbf", {"types.CDX"}},
        {"dbase_30.dbf", {"dbase_30.fpt"}},              {"dbase_31.dbf", {}},
        {"dbase_f5.dbf", {"dbase_f5.fpt"}},              {"dbase_03.dbf", {}},
    };
    return t;
}

QString copyFoxTable(const char* dbf, const QString& folder) {
    for (const FoxTable& t : foxTables()) {
        if (qstrcmp(t.dbf, dbf) != 0) continue;
        for (const char* c : t.companions) albumora::test::copyTestFile(QStringLiteral("foxpro/") + QLatin1String(c), folder);
        return albumora::test::copyTestFile(QStringLiteral("foxpro/") + QLatin1String(dbf), folder);
    }
    ADD_FAILURE() << "no such test table " << dbf;
    return {};
}

class FoxProTableTest : public ::testing::TestWithParam<FoxTable> {};

TEST_P(FoxProTableTest, EveryRowReadsAsDbfreadReadsIt) {
    SKIP_WITHOUT_TESTDATA();
    TempFolder dir;
    const QString path = copyFoxTable(GetParam().dbf, dir.path());
    const OurTable ours = readWithCursor(path);
    ASSERT_FALSE(ours.fields.empty());
    // Tables marked Windows-1252 are read as such; tables without a code page mark are read by
    // the engine as Windows-1252 too, so the same bytes must come out as the same characters.
    ASSERT_TRUE(ours.codePage == 0x03 || ours.codePage == 0x00) << int(ours.codePage);
    const QJsonObject theirs =
        readWithPython(path, QStringLiteral("dbfread"), QStringLiteral("cp1252")).value(QStringLiteral("dbfread")).toObject();
    ASSERT_FALSE(theirs.isEmpty());
    EXPECT_EQ(theirs.value(QStringLiteral("version")).toInt(), int(ours.version));

    const QJsonArray fields = theirs.value(QStringLiteral("fields")).toArray();
    ASSERT_EQ(fields.size(), qsizetype(ours.fields.size()));
    for (size_t i = 0; i < ours.fields.size(); ++i) {
        const QJsonArray f = fields[qsizetype(i)].toArray();
        EXPECT_EQ(f[0].toString(), QString::fromLatin1(ours.fields[i].name.c_str()));
        EXPECT_EQ(f[1].toString(), QString(QLatin1Char(ours.fields[i].type)));
        EXPECT_EQ(f[2].toInt(), ours.fields[i].length);
        EXPECT_EQ(f[3].toInt(), ours.fields[i].decimals);
    }
    const QJsonArray live = theirs.value(QStringLiteral("live")).toArray();
    EXPECT_EQ(qsizetype(ours.deleted.size()), theirs.value(QStringLiteral("deleted")).toArray().size());
    ASSERT_EQ(qsizetype(ours.rows.size()), live.size());
    int mismatches = 0;
    for (size_t r = 0; r < ours.rows.size() && mismatches < 10; ++r) {
        const QJsonArray values = live[qsizetype(r)].toArray();
        for (size_t f = 0; f < ours.fields.size(); ++f) {
            if (sameValue(ours.fields[f].type, ours.rows[r][qsizetype(f)], values[qsizetype(f)])) continue;
            ADD_FAILURE() << GetParam().dbf << " record " << ours.recnos[r] << " field " << ours.fields[f].name << " ("
                          << ours.fields[f].type << "): we read \"" << ours.rows[r][qsizetype(f)].left(200).toStdString()
                          << "\", dbfread " << describe(values[qsizetype(f)]).substr(0, 200);
            ++mismatches;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(SharedTestData, FoxProTableTest, ::testing::ValuesIn(foxTables()),
                         [](const ::testing::TestParamInfo<FoxTable>& p) {
                             return QFileInfo(QString::fromLatin1(p.param.dbf)).completeBaseName().toStdString();
                         });

// One tag of a FoxPro index and the table field its keys come from.
struct FoxTag {
    const char* dbf;
    const char* tag;
    // The field as the table names it. The TYPE_ID keys name it by its long name in the database
    // container, "contact_type_id"; the table holds its first ten letters, CONTACT_TY.
    const char* field;
};

const std::vector<FoxTag> kFoxTags = {
    {"calls.dbf", "CALL_ID", "CALL_ID"},         {"calls.dbf", "CONTACT_ID", "CONTACT_ID"},
    {"contacts.dbf", "CONTACT_ID", "CONTACT_ID"}, {"contacts.dbf", "TYPE_ID", "CONTACT_TY"},
    {"setup.dbf", "KEY_NAME", "KEY_NAME"},        {"types.dbf", "TYPE_ID", "CONTACT_TY"},
};

// The key FoxPro stores for a field value: integers as big-endian with the sign bit flipped,
// characters as they are.
std::string foxKey(const FieldDef& f, const std::string& rec) {
    if (f.type == 'I') {
        std::int32_t v;
        std::memcpy(&v, rec.data() + f.offset, 4);
        return encodeIntegerKey(v);
    }
    return rec.substr(size_t(f.offset), size_t(f.length));
}

TEST(FoxProIndexes, EveryTagHoldsTheKeysOfAScanInOrder) {
    SKIP_WITHOUT_TESTDATA();
    for (const FoxTag& c : kFoxTags) {
        SCOPED_TRACE(std::string(c.dbf) + " tag " + c.tag);
        TempFolder dir;
        const QString path = copyFoxTable(c.dbf, dir.path());
        auto dbf = DbfFile::open(path, false);
        ASSERT_TRUE(dbf.isOk());
        const int fi = (*dbf)->fieldIndex(c.field);
        ASSERT_GE(fi, 0);
        const FieldDef& f = (*dbf)->fields()[size_t(fi)];
        std::vector<std::pair<std::string, std::uint32_t>> want;
        std::string rec;
        for (std::uint32_t r = 1; r <= (*dbf)->recordCount(); ++r) {
            OK((*dbf)->readRecord(r, rec));
            want.push_back({foxKey(f, rec), r});
        }
        std::sort(want.begin(), want.end());

        auto cdx = IndexFile::open(indexPathFor(path), false);
        ASSERT_TRUE(cdx.isOk()) << cdx.error().text().toStdString();
        Tree* tree = (*cdx)->tag(c.tag);
        ASSERT_NE(tree, nullptr);
        tree->setPad(f.type == 'C' ? ' ' : '\0');
        std::vector<std::pair<std::string, std::uint32_t>> got;
        OK(tree->forEach([&](const IndexEntry& e) {
            got.push_back({e.key, e.recno});
            return true;
        }));
        EXPECT_EQ(got, want);
    }
}

TEST(FoxProIndexes, SeeksOnTheirOwnTagsFindTheRowsAScanFinds) {
    SKIP_WITHOUT_TESTDATA();
    for (const FoxTag& c : kFoxTags) {
        SCOPED_TRACE(std::string(c.dbf) + " tag " + c.tag);
        TempFolder dir;
        const QString path = copyFoxTable(c.dbf, dir.path());
        const OurTable scan = readWithCursor(path);
        int fi = -1;
        for (size_t i = 0; i < scan.fields.size(); ++i)
            if (scan.fields[i].name == c.field) fi = int(i);
        ASSERT_GE(fi, 0);

        Cursor cur;
        cur.setTablePath(path);
        OK(cur.setOrder(QString::fromLatin1(c.tag)));
        OK(cur.open());

        // The order is the scan sorted by value, equal values in record order.
        const bool numeric = scan.fields[size_t(fi)].type == 'I';
        std::vector<std::pair<QString, std::uint32_t>> want;
        for (size_t r = 0; r < scan.rows.size(); ++r) want.push_back({scan.rows[r][fi], scan.recnos[r]});
        std::stable_sort(want.begin(), want.end(), [&](const auto& a, const auto& b) {
            return numeric ? a.first.toLongLong() < b.first.toLongLong() : toCp1252(a.first) < toCp1252(b.first);
        });
        std::vector<std::pair<QString, std::uint32_t>> walked;
        OK(cur.first());
        while (!cur.eof()) {
            walked.push_back({cur.text(fi), cur.recNo()});
            OK(cur.next());
        }
        EXPECT_EQ(walked, want);

        // Every value seeks to its first row, and the rows after it carry the same value as
        // often as the scan counts it.
        std::map<QString, std::pair<std::uint32_t, int>> firstAndCount;
        for (const auto& [value, recno] : want) {
            auto [it, fresh] = firstAndCount.insert({value, {recno, 0}});
            if (!fresh) it->second.first = std::min(it->second.first, recno);
            ++it->second.second;
        }
        for (const auto& [value, fc] : firstAndCount) {
            auto found = cur.findKey({value});
            ASSERT_TRUE(found.isOk()) << found.error().text().toStdString();
            ASSERT_TRUE(*found) << value.toStdString();
            EXPECT_EQ(cur.recNo(), fc.first) << value.toStdString();
            int same = 0;
            while (!cur.eof() && cur.text(fi) == value) {
                ++same;
                OK(cur.next());
            }
            EXPECT_EQ(same, fc.second) << value.toStdString();
        }
        // Values no row holds are not found.
        for (const QString& missing : numeric ? QStringList{QStringLiteral("0"), QStringLiteral("-1"), QStringLiteral("999")}
                                              : QStringList{QStringLiteral("CONTACT"), QStringLiteral("ZZZ"), QString()}) {
            auto found = cur.findKey({missing});
            ASSERT_TRUE(found.isOk());
            EXPECT_FALSE(*found) << missing.toStdString();
        }
        if (!numeric) {
            auto found = cur.findPartial(QStringLiteral("CONTACT"));
            ASSERT_TRUE(found.isOk() && *found);
            EXPECT_EQ(cur.text(fi), QStringLiteral("CONTACTS")) << "the first key in the order that starts so";
        }
    }
}

// Damage done to a copy of calls.CDX (or to its absence), and how a reader must hear of it.
struct IndexDamage {
    const char* what;
    std::function<void(const QString& cdx)> apply;
    const char* problem;  // part of the text CheckTable reports
};

// The offsets of a tag's header and root node in a compound index file.
std::pair<std::uint32_t, std::uint32_t> tagPages(const QString& cdx, const char* tag) {
    auto x = IndexFile::open(cdx, false);
    if (!x) return {0, 0};
    Tree* t = (*x)->tag(tag);
    return t ? std::pair{t->headerOffset(), t->root()} : std::pair{0u, 0u};
}

void patch(const QString& path, qint64 at, const QByteArray& bytes) {
    QByteArray all = readAll(path);
    ASSERT_LE(at + bytes.size(), all.size());
    all.replace(at, bytes.size(), bytes);
    writeAll(path, all);
}

TEST(FoxProIndexes, DamagedOrMissingIndexIsReportedAndTheRowsStillRead) {
    SKIP_WITHOUT_TESTDATA();
    const std::vector<IndexDamage> damages = {
        {"index file deleted", [](const QString& cdx) { QFile::remove(cdx); }, "missing"},
        {"index file cut short", [](const QString& cdx) { writeAll(cdx, readAll(cdx).left(1000)); }, "too short"},
        {"root of CALL_ID beyond the end",
         [](const QString& cdx) {
             const auto [header, root] = tagPages(cdx, "CALL_ID");
             patch(cdx, header, QByteArray("\x00\x00\x10\x00", 4));
         },
         "outside the file"},
        {"leaf of CALL_ID with an impossible entry layout",
         [](const QString& cdx) {
             const auto [header, root] = tagPages(cdx, "CALL_ID");
             patch(cdx, root + 20, QByteArray("\x30\x30\x30\x09", 4));
         },
         "CALL_ID"},
        {"leaf of CALL_ID claiming more entries than fit",
         [](const QString& cdx) {
             const auto [header, root] = tagPages(cdx, "CALL_ID");
             patch(cdx, root + 2, QByteArray("\xff\x7f", 2));
         },
         "CALL_ID"},
        {"two CALL_ID keys swapped",
         [](const QString& cdx) {
             // The tree stays well formed, but the first two keys point at each other's rows.
             const auto [header, root] = tagPages(cdx, "CALL_ID");
             const QByteArray all = readAll(cdx);
             const auto byteAt = [&](qint64 i) { return std::uint64_t(static_cast<unsigned char>(all[i])); };
             const int bytes = int(byteAt(root + 23));
             const std::uint64_t mask = byteAt(root + 14) | byteAt(root + 15) << 8 | byteAt(root + 16) << 16 |
                                        byteAt(root + 17) << 24;
             auto entry = [&](int i) {
                 std::uint64_t v = 0;
                 for (int b = bytes - 1; b >= 0; --b) v = v << 8 | byteAt(root + 24 + i * bytes + b);
                 return v;
             };
             const std::uint64_t e0 = entry(0), e1 = entry(1);
             const std::uint64_t s0 = (e0 & ~mask) | (e1 & mask), s1 = (e1 & ~mask) | (e0 & mask);
             QByteArray swapped;
             for (std::uint64_t v : {s0, s1})
                 for (int b = 0; b < bytes; ++b) swapped.append(char(v >> (8 * b)));
             patch(cdx, root + 24, swapped);
         },
         "CALL_ID"},
    };
    for (const IndexDamage& d : damages) {
        SCOPED_TRACE(d.what);
        TempFolder dir;
        const QString path = copyFoxTable("calls.dbf", dir.path());
        const QString cdx = dir.file(QStringLiteral("calls.CDX"));
        ASSERT_TRUE(IndexFile::open(cdx, false).isOk());
        d.apply(cdx);

        const QStringList problems = CheckTable(path);
        EXPECT_FALSE(problems.filter(QString::fromLatin1(d.problem)).isEmpty())
            << problems.join(QLatin1Char('\n')).toStdString();

        // The rows never depend on the index.
        const OurTable rows = readWithCursor(path);
        EXPECT_EQ(rows.rows.size(), 16u);

        // Using the tag either works on what is left or says what is wrong; it never crashes
        // or hangs, and it never hands out a row the table does not hold.
        Cursor c;
        c.setTablePath(path);
        OK(c.setOrder(QStringLiteral("CALL_ID")));
        Status st = c.open();
        if (st) {
            for (int id = 1; id <= 16 && st; ++id) {
                auto found = c.findKey({QString::number(id)});
                st = found.status();
                if (st && *found) {
                    EXPECT_LE(c.recNo(), 16u);
                }
            }
            for (int steps = 0; st && !c.eof() && steps < 100; ++steps) st = c.next();
        }
        const std::string what = d.what;
        if (what.rfind("leaf of", 0) == 0) {
            // A damaged page met by a read: the index is rebuilt from the rows and the read goes on.
            EXPECT_TRUE(st.isOk()) << st.text().toStdString();
            EXPECT_TRUE(CheckTable(path).isEmpty()) << CheckTable(path).join(QLatin1Char('\n')).toStdString();
        } else if (what != "two CALL_ID keys swapped") {
            EXPECT_FALSE(st.isOk()) << "the damaged tag was used without complaint";
        } else {
            EXPECT_TRUE(st.isOk()) << "a well-formed tree with wrong keys still reads: " << st.text().toStdString();
        }
    }
}

TEST(FoxProIndexes, IndexTheHeaderPromisesButThatIsAbsentIsReported) {
    SKIP_WITHOUT_TESTDATA();
    // dbase_30 and dbase_31 carry the "has a structural index" flag without their CDX files.
    for (const char* name : {"dbase_30.dbf", "dbase_31.dbf"}) {
        SCOPED_TRACE(name);
        TempFolder dir;
        const QString path = copyFoxTable(name, dir.path());
        auto t = Table::open(path, OpenMode::Shared);
        ASSERT_TRUE(t.isOk()) << t.error().text().toStdString();
        EXPECT_EQ((*t)->indexProblem().kind(), ErrorKind::NotFound);
        EXPECT_FALSE((*t)->hasIndexFile());
        t = Status();
        EXPECT_FALSE(CheckTable(path).filter(QStringLiteral("missing")).isEmpty());
    }
}

// ---------------------------------------------------------------------------------------------
// Our index files through the independent CDX reader.

struct CdxTagLine {
    QString name, keyExpr, forExpr;
    int keyLength = 0;
    int keys = 0;
    bool ordered = false;
};

std::vector<CdxTagLine> cdxcheckTags(const QString& cdx, const QString& dbf) {
    const auto r = albumora::test::cdxcheck(cdx, dbf);
    EXPECT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString();
    std::vector<CdxTagLine> out;
    static const QRegularExpression line(
        QStringLiteral(R"(^tag (\S+)\s+key '(.*)'\s+for '(.*)' len (\d+) opts \S+ keys (\d+) ordered (\w+)$)"));
    for (const QString& l : r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const auto m = line.match(l);
        if (!m.hasMatch()) continue;
        out.push_back({m.captured(1), m.captured(2), m.captured(3), m.captured(4).toInt(), m.captured(5).toInt(),
                       m.captured(6) == QLatin1String("True")});
    }
    return out;
}

TEST(InteropWrittenHere, IndexFilesPassTheIndependentReaderThroughTheirWholeLife) {
    if (albumora::test::sharedTools().isEmpty()) GTEST_SKIP() << "../shared/tools is absent";
    TempFolder dir;
    TDM dm(dir.path());
    OK(dm.EnsureCollectionFiles());
    OK(dm.OpenCollectionTables());
    const QString albums = dm.tablePath(QStringLiteral("ALBUMS.DBF"));
    const QString cdx = indexPathFor(albums);

    // Enough rows for trees of several levels even with the 100-byte artist keys.
    const QStringList artists = {QStringLiteral("Björk"), QStringLiteral("Motörhead"), QStringLiteral("ABBA"),
                                 QStringLiteral("abba"), QStringLiteral("Sigur Rós"), QStringLiteral("Œuvre"),
                                 QStringLiteral("The The"), QStringLiteral("Zappa")};
    const QStringList genres = {QStringLiteral("Rock"), QStringLiteral("Pop"), QStringLiteral("Jazz"), QString()};
    Cursor& a = dm.tblAlbums;
    const int rows = 500;
    for (int i = 0; i < rows; ++i) {
        OK(a.append());
        OK(a.setText(QStringLiteral("ID"), QStringLiteral("%1").arg(quint32(i) * 2654435761u % 100000000u, 8, 10, QLatin1Char('0'))));
        OK(a.setText(QStringLiteral("Artist"), artists[i % artists.size()] + QStringLiteral(" %1").arg(i % 37)));
        OK(a.setText(QStringLiteral("Album"), QStringLiteral("Album %1 – Vol. %2").arg(i % 53).arg(i)));
        OK(a.setText(QStringLiteral("Genre"), genres[i % genres.size()]));
        OK(a.setText(QStringLiteral("Label"), QStringLiteral("Shelf %1").arg(i % 11)));
        OK(a.setText(QStringLiteral("IX"), QStringLiteral("%1").arg(i % 97, 6)));
        OK(a.post());
    }
    // Edits that move rows within every order, and deletions (whose keys stay until the pack).
    OK(a.setOrder(QString()));
    for (std::uint32_t r = 5; r <= std::uint32_t(rows); r += 7) {
        OK(a.gotoBookmark({r}));
        OK(a.edit());
        OK(a.setText(QStringLiteral("Artist"), QStringLiteral("Renamed %1").arg(r)));
        OK(a.setText(QStringLiteral("Genre"), QStringLiteral("Blues")));
        OK(a.post());
    }
    int deleted = 0;
    for (std::uint32_t r = 3; r <= std::uint32_t(rows); r += 5) {
        OK(a.gotoBookmark({r}));
        OK(a.deleteRecord());
        ++deleted;
    }
    OK(dm.FlushCollection());
    {
        auto x = IndexFile::open(cdx, false);
        ASSERT_TRUE(x.isOk());
        Tree* artist = (*x)->tag("ARTIST");
        ASSERT_NE(artist, nullptr);
        auto root = (*x)->readNode(artist->root(), artist->keyLength(), ' ');
        ASSERT_TRUE(root.isOk());
        ASSERT_FALSE((*root)->isLeaf()) << "the artist tag should have interior nodes";
    }

    struct Want {
        const char* name;
        const char* keyExpr;
        int keyLength;
    };
    auto expectTags = [&](const std::vector<Want>& want, int keys, const char* phase) {
        SCOPED_TRACE(phase);
        const std::vector<CdxTagLine> got = cdxcheckTags(cdx, albums);
        ASSERT_EQ(got.size(), want.size());
        for (size_t i = 0; i < want.size(); ++i) {
            EXPECT_EQ(got[i].name, QString::fromLatin1(want[i].name));
            EXPECT_EQ(got[i].keyExpr, QString::fromLatin1(want[i].keyExpr));
            EXPECT_EQ(got[i].forExpr, QString());
            EXPECT_EQ(got[i].keyLength, want[i].keyLength) << want[i].name;
            EXPECT_EQ(got[i].keys, keys) << want[i].name;
            EXPECT_TRUE(got[i].ordered) << want[i].name;
        }
        EXPECT_TRUE(CheckTable(albums).isEmpty()) << CheckTable(albums).join(QLatin1Char('\n')).toStdString();
    };
    const std::vector<Want> albumTags = {{"ALBUM", "upper(Album)", 50},
                                         {"ARTIST", "upper(Artist)+upper(Album)", 100},
                                         {"GENRE", "upper(Genre)+upper(Artist)", 60},
                                         {"ID", "ID", 8},
                                         {"LABEL", "upper(Label)+upper(IX)", 61}};
    expectTags(albumTags, rows, "after appends, edits and deletes");

    // The pack drops the deleted rows from every tag.
    dm.CloseAll();
    {
        Cursor c;
        c.setTablePath(albums);
        OK(c.open(OpenMode::Exclusive));
        OK(c.table()->pack());
        EXPECT_EQ(c.table()->recordCount(), std::uint32_t(rows - deleted));
    }
    expectTags(albumTags, rows - deleted, "after pack");

    // New tags are listed with their expressions exactly as given; a tag of the same name is
    // replaced, not doubled.
    {
        Cursor c;
        c.setTablePath(albums);
        OK(c.open());
        OK(c.createTag(QStringLiteral("Year"), QStringLiteral("YR+upper(left(Album,20))")));
        OK(c.createTag(QStringLiteral("Album"), QStringLiteral("upper(Album)+ID")));
        OK(c.append());
        OK(c.setText(QStringLiteral("ID"), QStringLiteral("z0000001")));
        OK(c.setText(QStringLiteral("Artist"), QStringLiteral("After The Tags")));
        OK(c.setText(QStringLiteral("YR"), QStringLiteral("2026")));
        OK(c.post());
        OK(c.flush());
    }
    expectTags({{"ALBUM", "upper(Album)+ID", 58},
                {"ARTIST", "upper(Artist)+upper(Album)", 100},
                {"GENRE", "upper(Genre)+upper(Artist)", 60},
                {"ID", "ID", 8},
                {"LABEL", "upper(Label)+upper(IX)", 61},
                {"YEAR", "YR+upper(left(Album,20))", 24}},
               rows - deleted + 1, "after new tags");

    // And the index reads back in our own engine in the order the independent reader saw.
    auto t = Table::open(albums, OpenMode::Shared);
    ASSERT_TRUE(t.isOk());
    std::vector<QString> tagNames;
    for (const Table::Tag* tag : (*t)->tags()) tagNames.push_back(tag->name + QLatin1Char('=') + tag->keyExpr);
    EXPECT_EQ(tagNames, (std::vector<QString>{QStringLiteral("ALBUM=upper(Album)+ID"),
                                              QStringLiteral("ARTIST=upper(Artist)+upper(Album)"),
                                              QStringLiteral("GENRE=upper(Genre)+upper(Artist)"), QStringLiteral("ID=ID"),
                                              QStringLiteral("LABEL=upper(Label)+upper(IX)"),
                                              QStringLiteral("YEAR=YR+upper(left(Album,20))")}));
}

}  // namespace
