#include "Table.h"

#include "Bytes.h"
#include "Codepage.h"
#include "IndexBuild.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
#include <cstring>
#include <map>

namespace albumora::store {
namespace {

QString canonical(const QString& path) {
    return QDir::cleanPath(QFileInfo(resolveCaseInsensitive(path)).absoluteFilePath());
}

std::map<QString, std::weak_ptr<Table>>& registry() {
    static std::map<QString, std::weak_ptr<Table>> r;
    return r;
}

QString siblingPath(const QString& dbfPath, const QString& ext) {
    QFileInfo fi(dbfPath);
    const bool upper = fi.suffix() == fi.suffix().toUpper() && !fi.suffix().isEmpty();
    QString candidate = fi.absolutePath() + QLatin1Char('/') + fi.completeBaseName() + QLatin1Char('.') +
                        (upper ? ext.toUpper() : ext.toLower());
    return resolveCaseInsensitive(candidate);
}

QString name(const QString& path) { return QFileInfo(path).fileName(); }

QString journalPath(const QString& dbfPath) {
    QFileInfo fi(dbfPath);
    return fi.absolutePath() + QStringLiteral("/.") + fi.fileName() + QStringLiteral(".pack-journal");
}

QString packTemp(const QString& finalPath) {
    QFileInfo fi(finalPath);
    return fi.absolutePath() + QStringLiteral("/.") + fi.fileName() + QStringLiteral(".packnew");
}

// The renames a pack journal lists, in order; a file already renamed is skipped.
Status applyJournal(const std::string& text) {
    const QStringList lines = QString::fromUtf8(text.data(), qsizetype(text.size())).split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        const QStringList parts = line.split(QLatin1Char('\t'));
        if (parts.size() != 2) continue;
        if (fileExists(parts[0])) ALB_TRY(renameFile(parts[0], parts[1]));
    }
    return {};
}

// Finishes a pack that a crash interrupted between its renames: every new file was complete
// and synced before the journal was written. A packer that is still at work holds a lock on
// its journal, and then the table is simply in use.
Status recoverPack(const QString& dbfPath) {
    const QString jp = journalPath(dbfPath);
    if (!fileExists(jp)) return {};
    auto opened = File::open(jp, File::Mode::ReadWrite);
    if (!opened) return opened.error().kind() == ErrorKind::NotFound ? Status() : opened.error();
    File j = std::move(opened).value();
    Status locked = j.lock(File::Lock::Exclusive);
    if (!locked)
        return Status(ErrorKind::Locked, QStringLiteral("%1 is being packed by another program").arg(name(dbfPath)), dbfPath);
    if (!fileExists(jp)) return {};  // the packer finished while we waited
    ALB_ASSIGN_OR_RETURN(std::int64_t size, j.size());
    std::string text(size_t(std::min<std::int64_t>(size, 1 << 16)), '\0');
    ALB_TRY(j.readAt(0, text.data(), text.size(), "the pack journal"));
    ALB_TRY(applyJournal(text));
    return removeFile(jp);
}

// Cursors remember tags by the stamp of the list they came from; a stamp is never reused, not
// even by a table opened again.
std::uint64_t nextTagsStamp() {
    static std::uint64_t stamp = 0;
    return ++stamp;
}

}  // namespace

std::string Table::memoReference(const FieldDef& f, std::uint32_t block) {
    if (f.length == 4) {
        std::string b(4, '\0');
        putLe32(b.data(), block);
        return b;
    }
    if (block == 0) return std::string(size_t(f.length), ' ');
    std::string digits = std::to_string(block);
    return std::string(size_t(f.length) - std::min(digits.size(), size_t(f.length)), ' ') + digits;
}

QString indexPathFor(const QString& dbfPath) { return siblingPath(dbfPath, QStringLiteral("cdx")); }
QString memoPathFor(const QString& dbfPath) { return siblingPath(dbfPath, QStringLiteral("fpt")); }

Result<std::vector<FieldDef>> parseFieldList(const QString& text) {
    std::vector<FieldDef> out;
    const QStringList entries = text.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (const QString& raw : entries) {
        const QString entry = raw.trimmed();
        if (entry.isEmpty()) continue;
        const QStringList p = entry.split(QLatin1Char(','));
        auto bad = [&](const QString& why) {
            return Status(ErrorKind::InvalidArgument, QStringLiteral("Invalid field list entry \"%1\": %2").arg(entry, why));
        };
        if (p.size() < 2) return bad(QStringLiteral("it needs a name and a type"));
        FieldDef f;
        f.name = toCp1252(p[0].trimmed());
        const QString type = p[1].trimmed().toLower();
        auto length = [&](int def) -> Result<int> {
            if (p.size() < 3) return def;
            bool ok = false;
            int n = p[2].trimmed().toInt(&ok);
            if (!ok || n < 1 || n > 254) return bad(QStringLiteral("the length must be 1 to 254"));
            return n;
        };
        if (type == QLatin1String("char") || type == QLatin1String("character")) {
            f.type = 'C';
            if (p.size() < 3) return bad(QStringLiteral("a Char field needs a length"));
            ALB_ASSIGN_OR_RETURN(f.length, length(0));
        } else if (type == QLatin1String("memo")) {
            f.type = 'M';
            f.length = 10;
        } else if (type == QLatin1String("logical")) {
            f.type = 'L';
            f.length = 1;
        } else if (type == QLatin1String("numeric")) {
            f.type = 'N';
            ALB_ASSIGN_OR_RETURN(f.length, length(10));
            if (p.size() > 3) f.decimals = p[3].trimmed().toInt();
        } else if (type == QLatin1String("date")) {
            f.type = 'D';
            f.length = 8;
        } else {
            return bad(QStringLiteral("unknown type \"%1\"").arg(p[1].trimmed()));
        }
        if (f.name.empty() || f.name.size() > 10) return bad(QStringLiteral("a field name has 1 to 10 characters"));
        for (const FieldDef& other : out)
            if (asciiUpper(other.name) == asciiUpper(f.name)) return bad(QStringLiteral("the field name is used twice"));
        out.push_back(f);
    }
    if (out.empty()) return Status(ErrorKind::InvalidArgument, QStringLiteral("The field list is empty"));
    return out;
}

// ---------------------------------------------------------------------------------------------

Table::~Table() {
    Status st;
    if (folder_) {
        // A change whose flush never came is committed as the table closes, as it always was
        // written by then; inside an explicit write the table is kept open until its end.
        if (folder_->enlisted(this) && !folder_->explicitWrite()) st = folder_->commitImplicit();
        folder_->detach(this);
    } else if (dbf_ && dbf_->writable() && dirty_) {
        st = flush();
    }
    // Nobody is left to return a change that did not land to; the user is told instead.
    if (!st) reportStatus(st.text());
    registry().erase(path_);
}

bool Table::isOpenInProcess(const QString& path) {
    auto it = registry().find(canonical(path));
    return it != registry().end() && !it->second.expired();
}

Result<std::shared_ptr<Table>> Table::open(const QString& pathIn, OpenMode mode) {
    const QString path = canonical(pathIn);
    auto& reg = registry();
    if (auto it = reg.find(path); it != reg.end()) {
        if (auto live = it->second.lock()) {
            if (mode == OpenMode::Exclusive || live->mode_ == OpenMode::Exclusive)
                return Status(ErrorKind::Locked, QStringLiteral("%1 is in use and cannot be opened exclusively").arg(name(path)),
                              path);
            if (live->folder_) ALB_TRY(live->folder_->refresh());
            return live;
        }
    }
    if (!fileExists(path)) return Status(ErrorKind::NotFound, QStringLiteral("Table not found: ") + path, path);
    // A commit of another program that is landing, or one a dead writer left, is seen to first.
    std::shared_ptr<Folder> folder = Folder::of(QFileInfo(path).absolutePath());
    ALB_TRY(folder->refresh());
    ALB_TRY(recoverPack(path));
    std::shared_ptr<Table> t(new Table);
    t->path_ = path;
    t->mode_ = mode;
    ALB_TRY(t->openFiles());
    t->folder_ = std::move(folder);
    t->folder_->attach(t.get());
    reg[path] = t;
    return t;
}

Status Table::openFiles() {
    auto dbf = DbfFile::open(path_, true);
    if (!dbf && dbf.error().kind() == ErrorKind::IoError) dbf = DbfFile::open(path_, false);  // a read-only file
    if (!dbf) return dbf.error();
    dbf_ = std::move(dbf).value();
    ALB_TRY(dbf_->lock(mode_ == OpenMode::Exclusive ? File::Lock::Exclusive : File::Lock::Shared));
    // A pack that died before its journal left incomplete new files; with the table locked and
    // no journal, nobody is writing them.
    if (dbf_->writable() && !fileExists(journalPath(path_))) {
        // Leftovers only take room; one that cannot go now is tried again at the next open.
        (void)removeFile(packTemp(path_));
        (void)removeFile(packTemp(memoPathFor(path_)));
        (void)removeFile(packTemp(indexPathFor(path_)));
    }
    if (dbf_->hasMemoFields()) {
        const QString mp = memoPathFor(path_);
        if (!fileExists(mp))
            return Status(ErrorKind::NotFound, QStringLiteral("The memo file of %1 is missing: %2").arg(name(path_), mp), mp);
        auto memo = MemoFile::open(mp, dbf_->writable());
        if (!memo && memo.error().kind() == ErrorKind::IoError && dbf_->writable()) {
            // A memo file this user may not write: the table is read, not written, as a
            // read-only DBF is.
            auto ro = DbfFile::open(path_, false);
            if (!ro) return ro.error();
            dbf_ = std::move(ro).value();
            ALB_TRY(dbf_->lock(mode_ == OpenMode::Exclusive ? File::Lock::Exclusive : File::Lock::Shared));
            memo = MemoFile::open(mp, false);
        }
        if (!memo) return memo.error();
        memo_ = std::move(memo).value();
    }
    return loadTags();
}

// The top-level parts of a key expression joined by "+" ("ID+NR" → "ID", "NR").
static QStringList keyParts(const QString& expr) {
    QStringList parts;
    int depth = 0;
    QChar quote;
    QString cur;
    for (QChar c : expr) {
        if (!quote.isNull()) {
            if (c == quote) quote = QChar();
        } else if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
            quote = c;
        } else if (c == QLatin1Char('(')) {
            ++depth;
        } else if (c == QLatin1Char(')')) {
            --depth;
        } else if (c == QLatin1Char('+') && depth == 0) {
            parts << cur;
            cur.clear();
            continue;
        }
        cur += c;
    }
    parts << cur;
    return parts;
}

void Table::describeParts(Tag& tag) const {
    tag.partWidths.clear();
    if (!tag.usable || tag.key.type() != ValueType::Char) return;
    for (const QString& part : keyParts(tag.keyExpr)) {
        auto e = compile(part);
        tag.partWidths.push_back(e && e->type() == ValueType::Char ? e->keyLength() : 0);
    }
}

Status Table::loadTags() {
    tagsStamp_ = nextTagsStamp();
    tags_.clear();
    cdx_.reset();
    indexProblem_ = Status();
    const QString ip = indexPathFor(path_);
    if (!fileExists(ip)) {
        if (dbf_->tableFlags() & DbfFile::kFlagCdx)
            indexProblem_ = Status(ErrorKind::NotFound, QStringLiteral("The index file of %1 is missing").arg(name(path_)), ip);
        return {};
    }
    auto cdx = IndexFile::open(ip, dbf_->writable());
    if (!cdx) {
        indexProblem_ = cdx.error();
        return {};
    }
    cdx_ = std::move(cdx).value();
    for (Tree* tree : cdx_->tags()) {
        auto t = std::make_unique<Tag>();
        t->name = QString::fromLatin1(tree->info().name.c_str());
        t->keyExpr = fromCp1252(tree->info().keyExpr);
        t->forExpr = fromCp1252(tree->info().forExpr);
        t->tree = tree;
        auto key = compile(t->keyExpr);
        if (!key) {
            t->usable = Status(ErrorKind::Unsupported,
                               QStringLiteral("Tag %1 of %2 cannot be used: %3").arg(t->name, name(ip), key.error().message()), ip);
        } else {
            t->key = std::move(key).value();
            if (t->key.keyLength() != tree->keyLength())
                t->usable = Status(ErrorKind::Unsupported,
                                   QStringLiteral("Tag %1 of %2 has keys of %3 bytes where its expression gives %4")
                                       .arg(t->name, name(ip))
                                       .arg(tree->keyLength())
                                       .arg(t->key.keyLength()),
                                   ip);
            tree->setPad(t->key.keyPad());
        }
        if (t->usable && !t->forExpr.isEmpty()) {
            auto cond = compile(t->forExpr);
            if (!cond)
                t->usable = Status(ErrorKind::Unsupported,
                                   QStringLiteral("Tag %1 of %2 cannot be used: %3").arg(t->name, name(ip), cond.error().message()), ip);
            else
                t->condition = std::move(cond).value();
        }
        if (t->usable && (tree->info().descending || (tree->info().options & 0x01)))
            t->usable = Status(ErrorKind::Unsupported,
                               QStringLiteral("Tag %1 of %2 is descending or unique, which this program does not keep").arg(t->name, name(ip)),
                               ip);
        describeParts(*t);
        tags_.push_back(std::move(t));
    }
    if (dbf_->indexLag())
        indexProblem_ = Status(ErrorKind::IndexStale,
                               QStringLiteral("The index file of %1 lags behind the table and must be rebuilt").arg(name(path_)), ip);
    return {};
}

void Table::closeFiles() {
    tagsStamp_ = nextTagsStamp();
    tags_.clear();
    singles_.clear();
    cdx_.reset();
    memo_.reset();
    dbf_.reset();
}

int Table::fieldIndex(const QString& fieldName) const { return dbf_->fieldIndex(toCp1252(fieldName)); }

std::vector<const Table::Tag*> Table::tags() const {
    std::vector<const Tag*> out;
    for (const auto& t : tags_) out.push_back(t.get());
    return out;
}

const Table::Tag* Table::tag(const QString& tagName) const {
    for (const auto& t : tags_)
        if (t->name.compare(tagName, Qt::CaseInsensitive) == 0) return t.get();
    for (const auto& s : singles_)
        if (s.path == tagName || QFileInfo(s.path).completeBaseName().compare(tagName, Qt::CaseInsensitive) == 0)
            return s.tag.get();
    return nullptr;
}

Result<std::string> Table::readMemo(std::uint32_t block) {
    if (!memo_) return Status(ErrorKind::NotFound, QStringLiteral("%1 has no memo file").arg(name(path_)), path_);
    return memo_->read(block);
}

std::uint32_t Table::memoBlock(const FieldDef& f, const char* record) {
    if (f.length == 4) return getLe32(record + f.offset);
    std::uint32_t block = 0;
    for (int i = 0; i < f.length; ++i) {
        char c = record[f.offset + i];
        if (c == ' ' || c == '\0') continue;
        if (c < '0' || c > '9') return 0;
        block = block * 10 + std::uint32_t(c - '0');
    }
    return block;
}

std::function<Result<std::string>(std::uint32_t)> Table::memoReader() {
    return [this](std::uint32_t block) { return readMemo(block); };
}

EvalContext Table::context(const std::string& record, std::uint32_t recno) {
    EvalContext ctx;
    ctx.record = record.data();
    ctx.recno = recno;
    ctx.readMemo = memoReader();
    return ctx;
}

Result<Expression> Table::compile(const QString& text, const FieldResolver& extra) const {
    return Expression::compile(text, fields(), extra);
}

// ---------------------------------------------------------------------------------------------
// Writes

std::vector<Table::Tag*> Table::maintainedTags() {
    std::vector<Tag*> out;
    if (indexProblem_.isOk())
        for (auto& t : tags_) out.push_back(t.get());
    for (auto& s : singles_) out.push_back(s.tag.get());
    return out;
}

Status Table::beginChange() {
    if (!dbf_->writable()) return Status(ErrorKind::IoError, QStringLiteral("%1 is read-only").arg(name(path_)), path_);
    if (folder_) ALB_TRY(folder_->enlist(this));
    // An index file that is not kept current (it lags already, or cannot be read) must not be
    // trusted by anyone once rows change without it.
    if (cdx_ && !indexProblem_.isOk() && !dbf_->indexLag()) ALB_TRY(dbf_->setIndexLag(true));
    dirty_ = true;
    return {};
}

std::vector<File*> Table::journaledFiles() {
    std::vector<File*> out;
    if (dbf_) out.push_back(&dbf_->file());
    if (memo_) out.push_back(&memo_->file());
    if (cdx_) out.push_back(&cdx_->file());
    for (auto& s : singles_) out.push_back(&s.file->file());
    for (auto& r : retired_) out.push_back(&r->file());
    return out;
}

std::vector<QString> Table::fileNames() const {
    std::vector<QString> out{name(path_)};
    if (dbf_ && dbf_->hasMemoFields()) out.push_back(name(memoPathFor(path_)));
    out.push_back(name(indexPathFor(path_)));
    for (const auto& s : singles_) out.push_back(name(s.path));
    return out;
}

Status Table::reloadFromDisk() {
    if (!dbf_) return {};
    for (File* f : journaledFiles()) f->dropOverlay();
    Status st = dbf_->refreshHeader();
    if (st && memo_) st = memo_->reload();
    std::vector<QString> singlePaths;
    for (const auto& s : singles_) singlePaths.push_back(s.path);
    singles_.clear();
    retired_.clear();
    if (st) st = loadTags();
    for (const QString& p : singlePaths) {
        Status opened = openIndexFile(p).status();
        if (st && !opened) st = opened;
    }
    ++changeStamp_;
    deleted_.reset();
    dirty_ = false;
    return st;
}

Status Table::indexRecord(std::uint32_t recno, const std::string* oldRec, const std::string* newRec) {
    for (Tag* t : maintainedTags()) {
        std::optional<std::string> oldKey, newKey;
        if (oldRec) {
            EvalContext ctx = context(*oldRec, recno);
            if (!t->condition || t->condition->evalLogical(ctx)) oldKey = t->key.evalKey(ctx);
            if (!ctx.error.isOk()) return ctx.error;
        }
        if (newRec) {
            EvalContext ctx = context(*newRec, recno);
            if (!t->condition || t->condition->evalLogical(ctx)) newKey = t->key.evalKey(ctx);
            if (!ctx.error.isOk()) return ctx.error;
        }
        if (oldKey == newKey) continue;
        if (oldKey) ALB_TRY(t->tree->erase(*oldKey, recno));
        if (newKey) ALB_TRY(t->tree->insert(*newKey, recno));
    }
    return {};
}

static Status checkWritable(DbfFile& dbf, const std::vector<std::unique_ptr<Table::Tag>>& tags, const Status& problem) {
    if (!dbf.writable())
        return Status(ErrorKind::IoError, QStringLiteral("%1 is read-only").arg(name(dbf.path())), dbf.path());
    if (problem.isOk())
        for (const auto& t : tags)
            if (!t->usable) return t->usable;
    return {};
}

Result<std::uint32_t> Table::writeMemo(const std::string& text) {
    if (!memo_) return Status(ErrorKind::NotFound, QStringLiteral("%1 has no memo file").arg(name(path_)), path_);
    ALB_TRY(beginChange());
    return memo_->append(text);
}

Result<std::uint32_t> Table::appendRecord(const std::string& record) {
    ALB_TRY(checkWritable(*dbf_, tags_, indexProblem_));
    ALB_TRY(beginChange());
    ALB_ASSIGN_OR_RETURN(std::uint32_t recno, dbf_->appendRecord(record));
    ++changeStamp_;
    if (deleted_ && !record.empty() && record[0] == '*') ++*deleted_;
    ALB_TRY(indexRecord(recno, nullptr, &record));
    return recno;
}

Status Table::updateRecord(std::uint32_t recno, const std::string& record) {
    ALB_TRY(checkWritable(*dbf_, tags_, indexProblem_));
    ALB_TRY(beginChange());
    std::string old;
    ALB_TRY(dbf_->readRecord(recno, old));
    ALB_TRY(dbf_->writeRecord(recno, record));
    ++changeStamp_;
    if (deleted_ && old[0] != record[0]) *deleted_ += record[0] == '*' ? 1 : std::uint32_t(-1);
    return indexRecord(recno, &old, &record);
}

Status Table::setDeleted(std::uint32_t recno, bool deleted) {
    ALB_TRY(beginChange());
    std::string rec;
    ALB_TRY(dbf_->readRecord(recno, rec));
    const char flag = deleted ? '*' : ' ';
    if (rec[0] == flag) return {};
    rec[0] = flag;
    // xBase indexes keep the keys of deleted rows until the table is packed.
    ALB_TRY(dbf_->writeRecord(recno, rec));
    ++changeStamp_;
    if (deleted_) *deleted_ += deleted ? 1 : std::uint32_t(-1);
    return {};
}

Status Table::flush() {
    if (!dbf_ || !dbf_->writable()) return {};
    // The write this table's changes belong to lands now, unless an explicit write holds it.
    if (folder_ && folder_->enlisted(this)) return folder_->commitImplicit();
    if (!dirty_) return {};
    if (memo_) ALB_TRY(memo_->sync());
    if (cdx_) ALB_TRY(cdx_->sync());
    for (auto& s : singles_) ALB_TRY(s.file->sync());
    ALB_TRY(dbf_->sync());
    dirty_ = false;
    return {};
}

Result<std::uint32_t> Table::deletedCount() {
    if (deleted_) return *deleted_;
    std::uint32_t n = 0;
    ALB_TRY(dbf_->scan(1, dbf_->recordCount(), [&](std::uint32_t, const char* rec) {
        if (rec[0] == '*') ++n;
        return true;
    }));
    deleted_ = n;
    return n;
}

// ---------------------------------------------------------------------------------------------
// Index structure

namespace {

struct KeyJob {
    const Expression* key;
    const Expression* condition;
    std::unique_ptr<KeySorter> keys;
};

// Sorters for the tags built into indexPath, sharing the build's memory budget, with their
// scratch space beside the index.
void prepareJobs(std::vector<KeyJob>& jobs, const QString& indexPath, std::uint32_t rows, int lanes = 1) {
    const QFileInfo fi(indexPath);
    const QString label = fi.absolutePath() + QStringLiteral("/.") + fi.fileName() + QStringLiteral(".sort");
    const size_t budget = indexBuildBudget() / std::max<size_t>(1, jobs.size());
    for (KeyJob& j : jobs)
        j.keys = std::make_unique<KeySorter>(j.key->keyLength(), budget, fi.absolutePath(), label, size_t(rows), lanes);
}

// asciiUpperChar of n bytes from src into dst, eight at a time: a key on upper(Track) converts
// every title. Copying and converting in one pass also spares reading back bytes just stored.
void copyUpperAscii(char* dst, const char* src, int n) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ull;
    constexpr std::uint64_t kHigh = 0x8080808080808080ull;
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t w;
        std::memcpy(&w, src + i, 8);
        const std::uint64_t low7 = w & ~kHigh;
        // Per byte, the high bit says: at least 'a', above 'z'; bytes of 0x80 and up stay.
        const std::uint64_t atLeastA = low7 + kOnes * (0x80 - 'a');
        const std::uint64_t aboveZ = low7 + kOnes * (0x80 - 'z' - 1);
        const std::uint64_t lower = atLeastA & ~aboveZ & ~w & kHigh;
        w ^= lower >> 2;  // 0x20 in each lower-case letter
        std::memcpy(dst + i, &w, 8);
    }
    for (; i < n; ++i) dst[i] = asciiUpperChar(src[i]);
}

// The keys of one row for every tag being built. Deleted rows keep their keys, as in every
// xBase index.
class KeyFeeder {
public:
    // lane: the sorters' lane this feeder adds through (-1: their add()).
    KeyFeeder(std::vector<KeyJob>& jobs, std::function<Result<std::string>(std::uint32_t)> memo, const QString& dbfPath, int lane = -1)
        : jobs_(jobs), dbfPath_(dbfPath), lane_(lane) {
        ctx_.readMemo = std::move(memo);
        size_t longest = 1;
        slices_.resize(jobs.size());
        for (size_t i = 0; i < jobs.size(); ++i) {
            longest = std::max(longest, size_t(jobs[i].key->keyLength()));
            if (!jobs[i].key->keySlices(slices_[i])) slices_[i].clear();
        }
        key_.resize(longest);
    }
    Status add(const char* record, std::uint32_t recno) {
        ctx_.record = record;
        ctx_.recno = recno;
        for (size_t i = 0; i < jobs_.size(); ++i) {
            KeyJob& j = jobs_[i];
            if (j.condition && !j.condition->evalLogical(ctx_)) continue;
            if (!slices_[i].empty()) {
                char* k = key_.data();
                for (const Expression::KeySlice& s : slices_[i]) {
                    if (s.upper)
                        copyUpperAscii(k, record + s.offset, s.length);
                    else
                        std::memcpy(k, record + s.offset, size_t(s.length));
                    k += s.length;
                }
            } else {
                j.key->evalKeyInto(ctx_, key_.data());
            }
            ALB_TRY(lane_ < 0 ? j.keys->add(key_.data(), recno) : j.keys->addTo(lane_, key_.data(), recno));
        }
        if (!ctx_.error.isOk())
            return Status(ctx_.error.kind(),
                          QStringLiteral("%1, record %2: %3").arg(name(dbfPath_)).arg(recno).arg(ctx_.error.message()), dbfPath_);
        return {};
    }
    Status finish() {
        for (KeyJob& j : jobs_) ALB_TRY(j.keys->finish());
        return {};
    }
    Status closeLane() {
        for (KeyJob& j : jobs_) ALB_TRY(j.keys->closeLane(lane_));
        return {};
    }

private:
    std::vector<KeyJob>& jobs_;
    // Per job, the record bytes its key copies (empty: the key is evaluated).
    std::vector<std::vector<Expression::KeySlice>> slices_;
    QString dbfPath_;
    int lane_;
    EvalContext ctx_;
    std::string key_;
};

// Whether the keys of a table of this many rows are gathered by two threads: a large table whose
// every key is copied from the row bytes with no condition to evaluate, so that nothing is
// shared between the two but the rows they read.
bool twoReaders(const std::vector<KeyJob>& jobs, std::uint32_t rows) {
    if (rows < std::max<std::uint32_t>(parallelKeyRows(), 2)) return false;
    std::vector<Expression::KeySlice> slices;
    for (const KeyJob& j : jobs)
        if (j.condition || !j.key->keySlices(slices) || slices.empty()) return false;
    return true;
}

Status collectKeys(DbfFile& dbf, const std::function<Result<std::string>(std::uint32_t)>& memo, std::vector<KeyJob>& jobs,
                   const QString& indexPath) {
    const std::uint32_t rows = dbf.recordCount();
    if (twoReaders(jobs, rows)) {
        // Keys copied from the rows: each half of the table read, its keys cut and sorted on a
        // core of its own.
        prepareJobs(jobs, indexPath, rows, 2);
        std::atomic<bool> stop{false};
        const auto half = [&](int lane, std::uint32_t first, std::uint32_t last) {
            KeyFeeder feeder(jobs, memo, dbf.path(), lane);
            Status failure;
            Status st = dbf.scan(first, last, [&](std::uint32_t recno, const char* data) {
                if (stop.load(std::memory_order_relaxed)) return false;
                failure = feeder.add(data, recno);
                return failure.isOk();
            });
            if (st) st = failure;
            if (st) st = feeder.closeLane();
            if (!st) stop.store(true, std::memory_order_relaxed);
            return st;
        };
        const std::uint32_t split = rows / 2;
        Status second;
        std::thread other;
        try {
            other = std::thread([&] { second = half(1, split + 1, rows); });
        } catch (const std::system_error&) {
            second = half(1, split + 1, rows);  // no thread to be had: one half after the other
        }
        Status first = half(0, 1, split);
        if (other.joinable()) other.join();
        ALB_TRY(first);
        ALB_TRY(second);
        for (KeyJob& j : jobs) ALB_TRY(j.keys->finish());
        return {};
    }
    prepareJobs(jobs, indexPath, rows);
    KeyFeeder feeder(jobs, memo, dbf.path());
    Status failure;
    ALB_TRY(dbf.scan(1, rows, [&](std::uint32_t recno, const char* data) {
        failure = feeder.add(data, recno);
        return failure.isOk();
    }));
    ALB_TRY(failure);
    return feeder.finish();
}

Status checkKeyExpression(const Expression& e, const QString& expr, const QString& file) {
    // The tag header keeps the expression text in a 512-byte pool with its FOR condition.
    if (toCp1252(expr).size() > 400)
        return Status(ErrorKind::Expression,
                      QStringLiteral("The key expression is %1 characters long; an index keeps at most 400").arg(expr.size()), file);
    if (e.readsMemo())
        return Status(ErrorKind::Expression, QStringLiteral("A memo field cannot be part of an index key: %1").arg(expr), file);
    if (e.keyLength() < 1 || e.keyLength() > kMaxKeyLength)
        return Status(ErrorKind::Expression,
                      QStringLiteral("The key of \"%1\" is %2 bytes long; index keys hold 1 to %3").arg(expr).arg(e.keyLength()).arg(kMaxKeyLength),
                      file);
    return {};
}

}  // namespace

// The compiled keys and FOR conditions of the tags of one index file being built.
struct Table::TagBuild {
    std::vector<std::pair<QString, QString>> defs;
    std::vector<QString> fors;
    std::vector<Expression> keys, conds;
    std::vector<KeyJob> jobs;
};

Status Table::compileTagBuild(TagBuild& b) const {
    b.keys.reserve(b.defs.size());
    b.conds.reserve(b.defs.size());
    for (size_t i = 0; i < b.defs.size(); ++i) {
        ALB_ASSIGN_OR_RETURN(Expression k, compile(b.defs[i].second));
        ALB_TRY(checkKeyExpression(k, b.defs[i].second, path_));
        b.keys.push_back(std::move(k));
        const QString fe = i < b.fors.size() ? b.fors[i] : QString();
        if (!fe.isEmpty()) {
            ALB_ASSIGN_OR_RETURN(Expression c, compile(fe));
            if (c.type() != ValueType::Logical)
                return Status(ErrorKind::Expression, QStringLiteral("The FOR condition \"%1\" is not a logical expression").arg(fe));
            b.conds.push_back(std::move(c));
        } else {
            b.conds.emplace_back();
        }
    }
    for (size_t i = 0; i < b.defs.size(); ++i) b.jobs.push_back({&b.keys[i], b.conds[i].isNull() ? nullptr : &b.conds[i], nullptr});
    return {};
}

Status Table::writeTagBuild(TagBuild& b, const QString& target) const {
    // target is a temporary, synced at the end and only then given the index's name.
    ALB_TRY(IndexFile::createCompound(target, false));
    ALB_ASSIGN_OR_RETURN(auto x, IndexFile::open(target, true));
    for (size_t i = 0; i < b.defs.size(); ++i)
        ALB_TRY(x->addTag(toCp1252(b.defs[i].first), toCp1252(b.defs[i].second),
                          toCp1252(i < b.fors.size() ? b.fors[i] : QString()), b.keys[i].keyPad(), *b.jobs[i].keys));
    CacheRelease old(indexPathFor(path_));
    return x->sync();
}

Status Table::rebuildCdx(const std::vector<std::pair<QString, QString>>& defs, const std::vector<QString>& forExprs,
                         const QString& target) {
    TagBuild b;
    b.defs = defs;
    b.fors = forExprs;
    ALB_TRY(compileTagBuild(b));
    ALB_TRY(collectKeys(*dbf_, memoReader(), b.jobs, target));
    return writeTagBuild(b, target);
}

Status Table::reopenAfterReplace() {
    ++changeStamp_;
    ALB_TRY(dbf_->setTableFlags(std::uint8_t(dbf_->tableFlags() | DbfFile::kFlagCdx)));
    if (dbf_->indexLag()) ALB_TRY(dbf_->setIndexLag(false));
    ALB_TRY(dbf_->sync());
    return loadTags();
}

namespace {
// Index rebuilds read every row; another program writing meanwhile would make them wrong.
struct ExclusiveWhile {
    DbfFile& dbf;
    OpenMode mode;
    Status status;
    ExclusiveWhile(DbfFile& d, OpenMode m) : dbf(d), mode(m) {
        if (mode == OpenMode::Shared) status = dbf.lock(File::Lock::Exclusive);
    }
    ~ExclusiveWhile() {
        if (mode != OpenMode::Shared) return;
        // flock() lets go of the old lock before it takes the new one: another program may slip
        // in between and leave the table unlocked, which a destructor can only tell.
        if (Status st = dbf.lock(File::Lock::Shared); !st) Table::reportStatus(st.text());
    }
};
}  // namespace

// Files replaced by renaming: the writers of the folder wait meanwhile, and its readers are told
// which files changed once the new ones are in place.
struct Table::StructureChange {
    Table& t;
    Status status;
    bool active = false;
    explicit StructureChange(Table& table) : t(table) {
        if (!t.folder_) return;
        status = t.flush();
        if (status) status = t.folder_->beginStructureChange(-1);
        active = status.isOk();
    }
    ~StructureChange() {
        if (active) t.folder_->endStructureChange(t.fileNames());
    }
};

Status Table::createTag(const QString& tagName, const QString& keyExpr, const QString& forExpr) {
    if (forExpr.isEmpty()) return createTags({{tagName, keyExpr}});
    // A FOR condition: rebuild with it (rare; only tags of other programs carry one).
    std::vector<std::pair<QString, QString>> defs;
    std::vector<QString> fors;
    for (const auto& t : tags_)
        if (t->name.compare(tagName, Qt::CaseInsensitive) != 0) {
            defs.push_back({t->name, t->keyExpr});
            fors.push_back(t->forExpr);
        }
    defs.push_back({tagName, keyExpr});
    fors.push_back(forExpr);
    if (!dbf_->writable()) return Status(ErrorKind::IoError, QStringLiteral("%1 is read-only").arg(name(path_)), path_);
    StructureChange sc(*this);
    ALB_TRY(sc.status);
    ExclusiveWhile ex(*dbf_, mode_);
    ALB_TRY(ex.status);
    ALB_TRY(flush());
    const QString ip = indexPathFor(path_);
    const QString tmp = temporaryPathFor(ip);
    Status st = rebuildCdx(defs, fors, tmp);
    if (st) {
        tags_.clear();
        cdx_.reset();
        st = renameFile(tmp, ip);
    }
    if (!st) {
        // st is the failure to return; loadTags() keeps its own trouble in indexProblem_.
        (void)removeFile(tmp);
        (void)loadTags();
        return st;
    }
    indexProblem_ = Status();
    return reopenAfterReplace();
}

Status Table::createTags(const std::vector<std::pair<QString, QString>>& defs) {
    StructureChange sc(*this);
    ALB_TRY(sc.status);
    if (!dbf_->writable()) return Status(ErrorKind::IoError, QStringLiteral("%1 is read-only").arg(name(path_)), path_);
    ExclusiveWhile ex(*dbf_, mode_);
    ALB_TRY(ex.status);
    std::vector<Expression> keys;
    keys.reserve(defs.size());
    for (const auto& [tagName, keyExpr] : defs) {
        ALB_ASSIGN_OR_RETURN(Expression key, compile(keyExpr));
        ALB_TRY(checkKeyExpression(key, keyExpr, path_));
        keys.push_back(std::move(key));
    }
    const QString ip = indexPathFor(path_);
    ALB_TRY(flush());
    if (cdx_ && !indexProblem_.isOk() && indexProblem_.kind() != ErrorKind::IndexStale) return indexProblem_;
    const bool fresh = !cdx_;
    const bool stale = cdx_ && !indexProblem_.isOk();
    if (stale) {
        // The old tags no longer match the rows: rebuild them together with the new ones.
        std::vector<std::pair<QString, QString>> all;
        std::vector<QString> fors;
        for (const auto& t : tags_) {
            bool replaced = std::any_of(defs.begin(), defs.end(),
                                        [&](const auto& d) { return d.first.compare(t->name, Qt::CaseInsensitive) == 0; });
            if (!replaced) {
                all.push_back({t->name, t->keyExpr});
                fors.push_back(t->forExpr);
            }
        }
        for (const auto& d : defs) {
            all.push_back(d);
            fors.push_back(QString());
        }
        const QString tmp = temporaryPathFor(ip);
        Status st = rebuildCdx(all, fors, tmp);
        if (st) {
            tags_.clear();
            cdx_.reset();
            st = renameFile(tmp, ip);
        }
        if (!st) {
            // st is the failure to return; loadTags() keeps its own trouble in indexProblem_.
            (void)removeFile(tmp);
            (void)loadTags();
            return st;
        }
        indexProblem_ = Status();
        return reopenAfterReplace();
    }
    std::vector<KeyJob> jobs;
    for (const Expression& k : keys) jobs.push_back({&k, nullptr, nullptr});
    const QString tmp = temporaryPathFor(ip);
    ALB_TRY(collectKeys(*dbf_, memoReader(), jobs, tmp));
    Status st = fresh ? IndexFile::createCompound(tmp, false) : copyFile(ip, tmp);
    if (st) {
        auto x = IndexFile::open(tmp, true);
        if (!x) st = x.error();
        for (size_t i = 0; st && i < defs.size(); ++i)
            st = (*x)->addTag(toCp1252(defs[i].first), toCp1252(defs[i].second), std::string(), keys[i].keyPad(), *jobs[i].keys);
        CacheRelease old(ip);
        if (st) st = (*x)->sync();
    }
    if (st) {
        tags_.clear();
        cdx_.reset();
        st = renameFile(tmp, ip);
    }
    if (!st) {
        // st is the failure to return; loadTags() keeps its own trouble in indexProblem_.
        (void)removeFile(tmp);
        (void)loadTags();
        return st;
    }
    indexProblem_ = Status();
    return reopenAfterReplace();
}

Status Table::dropTag(const QString& tagName) {
    StructureChange sc(*this);
    ALB_TRY(sc.status);
    if (!cdx_) return Status(ErrorKind::NotFound, QStringLiteral("%1 has no index file").arg(name(path_)), path_);
    if (!tag(tagName)) return Status(ErrorKind::NotFound, QStringLiteral("No tag %1 in %2").arg(tagName, name(path_)), path_);
    ExclusiveWhile ex(*dbf_, mode_);
    ALB_TRY(ex.status);
    ALB_TRY(flush());
    const QString ip = indexPathFor(path_);
    const QString tmp = temporaryPathFor(ip);
    Status st = copyFile(ip, tmp);
    if (st) {
        auto x = IndexFile::open(tmp, true);
        if (!x) st = x.error();
        if (st) st = (*x)->removeTag(toCp1252(tagName));
        if (st) st = (*x)->sync();
    }
    if (st) {
        tags_.clear();
        cdx_.reset();
        st = renameFile(tmp, ip);
    }
    if (!st) {
        // st is the failure to return; loadTags() keeps its own trouble in indexProblem_.
        (void)removeFile(tmp);
        (void)loadTags();
        return st;
    }
    return reopenAfterReplace();
}

Status Table::recreateIndex(const std::vector<std::pair<QString, QString>>& defs) {
    StructureChange sc(*this);
    ALB_TRY(sc.status);
    if (!dbf_->writable()) return Status(ErrorKind::IoError, QStringLiteral("%1 is read-only").arg(name(path_)), path_);
    ExclusiveWhile ex(*dbf_, mode_);
    ALB_TRY(ex.status);
    ALB_TRY(flush());
    const QString ip = indexPathFor(path_);
    const QString tmp = temporaryPathFor(ip);
    Status st = rebuildCdx(defs, {}, tmp);
    if (st) {
        tags_.clear();
        cdx_.reset();
        st = renameFile(tmp, ip);
    }
    if (!st) {
        // st is the failure to return; loadTags() keeps its own trouble in indexProblem_.
        (void)removeFile(tmp);
        (void)loadTags();
        return st;
    }
    return reopenAfterReplace();
}

Status Table::reindex() {
    if (!cdx_) {
        if (!indexProblem_.isOk()) return indexProblem_;
        return {};
    }
    std::vector<std::pair<QString, QString>> defs;
    std::vector<QString> fors;
    for (const auto& t : tags_) {
        defs.push_back({t->name, t->keyExpr});
        fors.push_back(t->forExpr);
    }
    if (!dbf_->writable()) return Status(ErrorKind::IoError, QStringLiteral("%1 is read-only").arg(name(path_)), path_);
    StructureChange sc(*this);
    ALB_TRY(sc.status);
    ExclusiveWhile ex(*dbf_, mode_);
    ALB_TRY(ex.status);
    ALB_TRY(flush());
    const QString ip = indexPathFor(path_);
    const QString tmp = temporaryPathFor(ip);
    Status st = rebuildCdx(defs, fors, tmp);
    if (st) {
        tags_.clear();
        cdx_.reset();
        st = renameFile(tmp, ip);
    }
    if (!st) {
        // st is the failure to return; loadTags() keeps its own trouble in indexProblem_.
        (void)removeFile(tmp);
        (void)loadTags();
        return st;
    }
    indexProblem_ = Status();
    return reopenAfterReplace();
}

namespace {

// Memo blocks written in order from a starting block, in large writes.
class BlockWriter {
public:
    BlockWriter(File& file, std::uint32_t blockSize, std::uint32_t startBlock)
        : file_(file), blockSize_(blockSize), at_(std::int64_t(startBlock) * blockSize) {}
    Status put(std::uint32_t type, const std::string& data) {
        const size_t blocks = (data.size() + 8 + blockSize_ - 1) / blockSize_;
        const size_t start = buf_.size();
        buf_.resize(start + blocks * blockSize_, '\0');
        putBe32(buf_.data() + start, type);
        putBe32(buf_.data() + start + 4, std::uint32_t(data.size()));
        std::memcpy(buf_.data() + start + 8, data.data(), data.size());
        return buf_.size() >= (1u << 20) ? flush() : Status();
    }
    Status flush() {
        if (buf_.empty()) return {};
        ALB_TRY(file_.writeAt(at_, buf_.data(), buf_.size()));
        at_ += std::int64_t(buf_.size());
        buf_.clear();
        return {};
    }

private:
    File& file_;
    std::uint32_t blockSize_;
    std::int64_t at_;
    std::string buf_;
};

// Rows written after a DBF header in large writes, closed by the end-of-file mark.
class RowWriter {
public:
    RowWriter(File& file, std::int64_t start) : file_(file), at_(start) {}
    Status add(const std::string& rec) {
        batch_.append(rec);
        return batch_.size() >= (1u << 20) ? write() : Status();
    }
    Status finish() {
        batch_.push_back('\x1A');
        return write();
    }

private:
    Status write() {
        ALB_TRY(file_.writeAt(at_, batch_.data(), batch_.size()));
        at_ += std::int64_t(batch_.size());
        batch_.clear();
        // The disk starts on what is written while the rest is packed: less to wait for at the
        // sync before the rename.
        if (at_ - writtenBack_ >= (std::int64_t(8) << 20)) {
            file_.startWriteback(writtenBack_, at_ - writtenBack_);
            writtenBack_ = at_;
        }
        return {};
    }
    File& file_;
    std::int64_t at_;
    std::int64_t writtenBack_ = 0;
    std::string batch_;
};

std::vector<const FieldDef*> memoFieldsOf(const DbfFile& dbf) {
    std::vector<const FieldDef*> out;
    for (const FieldDef& f : dbf.fields())
        if (f.isMemo()) out.push_back(&f);
    return out;
}

Status writeNextFree(MemoFile& memo, std::uint32_t next) {
    unsigned char h[4];
    putBe32(h, next);
    ALB_TRY(memo.file().writeAt(0, h, 4));
    return memo.file().sync();
}

}  // namespace

// Pack keeps the table's files a pair that belongs together at every moment, for other xBase
// programs too, which know nothing of our journals: the DBF is the only file replaced by a
// rename, and the memo file is changed in place only where no row of the DBF on disk points.
//   1. The kept memos are copied, compacted, past the memo file's next free block, where no row
//      points; the free pointer is moved past them.
//   2. The packed rows, pointing at those copies, and their index replace the DBF and CDX
//      (a pack journal makes the two renames one step for this program).
//   3. The copies are copied again to the front of the memo file, where now no row points; a
//      second packed DBF pointing there replaces the first by one rename.
//   4. The free pointer is set after them and the memo file cut there.
// When the kept memos already lie compacted at the front, the memo file is only cut.
Status Table::replaceFilesTogether(const QString& dbfPath, const std::vector<std::pair<QString, QString>>& renames) {
    ALB_TRY(recoverPack(dbfPath));
    QString journal;
    for (const auto& [from, to] : renames) {
        if (from.contains(QLatin1Char('\t')) || from.contains(QLatin1Char('\n')) || to.contains(QLatin1Char('\t')) ||
            to.contains(QLatin1Char('\n')))
            return Status(ErrorKind::InvalidArgument, QStringLiteral("The file name %1 cannot be listed in a journal").arg(to), to);
        journal += from + QLatin1Char('\t') + to + QLatin1Char('\n');
    }
    const std::string text = journal.toStdString();
    const QString jp = journalPath(dbfPath);
    const QString jtmp = temporaryPathFor(jp);
    {
        ALB_ASSIGN_OR_RETURN(File jf, File::open(jtmp, File::Mode::Create));
        Status st = jf.lock(File::Lock::Exclusive);
        if (st) st = jf.writeAt(0, text.data(), text.size());
        if (st) st = jf.sync();
        if (st) st = renameFile(jtmp, jp);
        if (!st) {
            (void)removeFile(jtmp);  // nothing was replaced; the temporary is only clutter
            return st;
        }
        // Renamed while locked: an opener of the table waits until every file is in place.
        ALB_TRY(applyJournal(text));
    }
    return removeFile(jp);
}

Status Table::finishInterruptedRenames(const QString& dbfPath) { return recoverPack(dbfPath); }

Status Table::pack() {
    StructureChange sc(*this);
    ALB_TRY(sc.status);
    if (mode_ != OpenMode::Exclusive)
        return Status(ErrorKind::Locked, QStringLiteral("Packing %1 needs exclusive use").arg(name(path_)), path_);
    if (!dbf_->writable()) return Status(ErrorKind::IoError, QStringLiteral("%1 is read-only").arg(name(path_)), path_);
    ALB_TRY(flush());
    const QString dbfTmp = packTemp(path_);
    const QString cdxFinal = indexPathFor(path_);
    const QString cdxTmp = packTemp(cdxFinal);

    // The new table keeps the old header bytes (version, flags, backlink) with a new count.
    std::string header(size_t(dbf_->headerLength()), '\0');
    ALB_TRY(dbf_->file().readAt(0, header.data(), header.size(), "the header"));
    const std::vector<const FieldDef*> memoFields = memoFieldsOf(*dbf_);
    const bool withMemos = memo_ && !memoFields.empty();

    // Where the kept memos lie, and whether they lie compacted at the front already.
    const std::uint32_t firstBlock = memo_ ? memo_->firstBlock() : 0;
    const std::uint32_t oldNext = memo_ ? memo_->nextFree() : 0;
    std::uint32_t liveBlocks = 0;
    std::uint32_t usedEnd = oldNext;  // past every memo any row points at, deleted rows too
    bool compact = true;
    Status st;
    if (withMemos) {
        Status scanned = dbf_->scan(1, dbf_->recordCount(), [&](std::uint32_t, const char* data) {
            for (const FieldDef* f : memoFields) {
                const std::uint32_t block = memoBlock(*f, data);
                if (block == 0) continue;
                auto n = memo_->blocksAt(block);
                if (!n) {
                    if (data[0] == '*') continue;  // a deleted row's memo is not kept
                    st = n.error();
                    return false;
                }
                usedEnd = std::max(usedEnd, block + *n);
                if (data[0] == '*') continue;
                compact = compact && block == firstBlock + liveBlocks;
                liveBlocks += *n;
            }
            return true;
        });
        if (st && !scanned) st = scanned;
        ALB_TRY(st);
    }
    const bool moveMemos = withMemos && !compact;
    const std::uint32_t copyBase = std::max(usedEnd, firstBlock);

    // The tags of the packed rows get their keys in the same pass: a kept row's keys are those
    // of its old bytes (no key reads a memo, and a FOR condition reads the old memo, which is
    // still there) under its new record number.
    std::vector<std::pair<QString, QString>> defs;
    std::vector<QString> fors;
    for (const auto& t : tags_) {
        defs.push_back({t->name, t->keyExpr});
        fors.push_back(t->forExpr);
    }
    const bool withIndex = cdx_ && !defs.empty();
    TagBuild tagBuild;
    std::optional<KeyFeeder> keys;
    // Keys copied from the row bytes of a large table are cut from the packed rows after the
    // pass instead, by two threads, while the disk takes the rows.
    bool keysAfter = false;
    if (withIndex) {
        tagBuild.defs = defs;
        tagBuild.fors = fors;
        ALB_TRY(compileTagBuild(tagBuild));
        keysAfter = twoReaders(tagBuild.jobs, dbf_->recordCount());
        if (!keysAfter) {
            prepareJobs(tagBuild.jobs, cdxTmp, dbf_->recordCount());
            keys.emplace(tagBuild.jobs, memoReader(), path_);
        }
    }

    // The packed rows; moved memos are copied past the free pointer as they come.
    std::uint32_t kept = 0;
    {
        ALB_ASSIGN_OR_RETURN(File out, File::open(dbfTmp, File::Mode::Create));
        std::optional<BlockWriter> copies;
        if (moveMemos) copies.emplace(memo_->file(), memo_->blockSize(), copyBase);
        std::uint32_t placed = 0;
        const int recLen = dbf_->recordLength();
        RowWriter rows(out, std::int64_t(header.size()));
        const std::vector<const FieldDef*> moved = moveMemos ? memoFields : std::vector<const FieldDef*>();
        std::string rec;
        Status scanned = dbf_->scan(1, dbf_->recordCount(), [&](std::uint32_t, const char* data) {
            if (data[0] == '*') return true;
            rec.assign(data, size_t(recLen));
            for (const FieldDef* f : moved) {
                const std::uint32_t block = memoBlock(*f, data);
                if (block == 0) continue;
                auto text = memo_->read(block);
                if (!text) {
                    st = text.error();
                    return false;
                }
                st = copies->put(f->type == 'M' ? 1 : 0, *text);
                if (!st) return false;
                const std::string ref = memoReference(*f, copyBase + placed);
                std::memcpy(rec.data() + f->offset, ref.data(), ref.size());
                placed += std::uint32_t((text->size() + 8 + memo_->blockSize() - 1) / memo_->blockSize());
            }
            ++kept;
            if (keys) {
                if (Status k = keys->add(data, kept); !k) {
                    st = k;
                    return false;
                }
            }
            if (Status w = rows.add(rec); !w) {
                st = w;
                return false;
            }
            return true;
        });
        if (st && !scanned) st = scanned;
        if (st && placed != liveBlocks && moveMemos)
            st = Status(ErrorKind::Corruption, QStringLiteral("The memos of %1 changed while it was packed").arg(name(path_)), path_);
        if (st) st = rows.finish();
        if (st) {
            putLe32(header.data() + 4, kept);
            header[14] = 0;
            st = out.writeAt(0, header.data(), header.size());
        }
        if (st && keysAfter) {
            auto packed = DbfFile::open(dbfTmp, false);
            st = packed ? collectKeys(**packed, memoReader(), tagBuild.jobs, cdxTmp) : packed.error();
        }
        if (st) {
            CacheRelease oldRows(path_);
            st = out.sync();
        }
        // The copies lie where no row points; only once they are on disk does the free pointer
        // move past them.
        if (st && copies) st = copies->flush();
        if (st && copies) st = memo_->file().sync();
        if (st && moveMemos) st = writeNextFree(*memo_, copyBase + liveBlocks);
    }
    if (!st) {
        // st is the failure to return; openFiles() clears pack leftovers next time.
        (void)removeFile(dbfTmp);
        // Best effort too: a memo file that cannot be read now fails again at its next read.
        if (memo_) (void)memo_->reload();
        return st;
    }

    // The index of the packed rows.
    if (withIndex) {
        if (keys) st = keys->finish();
        if (st) st = writeTagBuild(tagBuild, cdxTmp);
        keys.reset();
        tagBuild.jobs.clear();
    }
    if (!st) {
        // st is the failure to return; openFiles() clears pack leftovers next time.
        (void)removeFile(dbfTmp);
        (void)removeFile(cdxTmp);
        return st;
    }

    // Journal, then the renames; the journal makes the two renames one step across a crash.
    // It is locked before it gets its name and stays locked until the new files are open and
    // locked, so no other program of ours sees the table half renamed.
    QString journal = dbfTmp + QLatin1Char('\t') + path_ + QLatin1Char('\n');
    if (withIndex) journal += cdxTmp + QLatin1Char('\t') + cdxFinal + QLatin1Char('\n');
    const std::string journalText = journal.toStdString();
    const QString jp = journalPath(path_);
    const QString jtmp = temporaryPathFor(jp);
    ALB_ASSIGN_OR_RETURN(File jf, File::open(jtmp, File::Mode::Create));
    st = jf.lock(File::Lock::Exclusive);
    if (st) st = jf.writeAt(0, journalText.data(), journalText.size());
    if (st) st = jf.sync();
    if (st) st = renameFile(jtmp, jp);
    if (!st) {
        // st is the failure to return; what stays behind is cleared by the next open (the pack
        // files) or by a later rebuild once this process is gone (the journal's temporary).
        (void)removeFile(jtmp);
        (void)removeFile(dbfTmp);
        (void)removeFile(cdxTmp);
        return st;
    }
    closeFiles();
    st = applyJournal(journalText);
    Status reopened = openFiles();
    if (st && reopened) st = removeFile(jp);
    deleted_ = 0;
    ++changeStamp_;
    dirty_ = false;
    ALB_TRY(st);
    ALB_TRY(reopened);
    if (!withMemos) return {};
    auto failed = [&](const Status& why) {
        return Status(why.kind(), QStringLiteral("%1 was packed, but its memo file could not be compacted: %2").arg(name(path_), why.text()),
                      why.file(), why.offset());
    };
    if (moveMemos) {
        // The copies go to the front only where they cannot overlap themselves (rows sharing a
        // memo can make the kept memos more than the old used space); otherwise they stay.
        if (firstBlock + liveBlocks > copyBase) return {};
        if (Status moved = compactMemosToFront(copyBase, firstBlock, liveBlocks); !moved) return failed(moved);
    }
    // The rows point below firstBlock + liveBlocks only: what lies after is cut off.
    const std::uint32_t end = firstBlock + liveBlocks;
    if (memo_->nextFree() != end) {
        if (Status cut = writeNextFree(*memo_, end); !cut) return failed(cut);
    }
    ALB_ASSIGN_OR_RETURN(std::int64_t size, memo_->file().size());
    if (size > std::int64_t(end) * memo_->blockSize()) {
        Status cut = memo_->file().truncate(std::int64_t(end) * memo_->blockSize());
        if (cut) cut = memo_->file().sync();
        if (!cut) return failed(cut);
    }
    return memo_->reload();
}

// Step 3 of a pack: the memos at [from, from + blocks) are copied to [to, to + blocks), where no
// row points, and a copy of the DBF pointing at them replaces it by one rename.
Status Table::compactMemosToFront(std::uint32_t from, std::uint32_t to, std::uint32_t blocks) {
    const std::uint32_t bs = memo_->blockSize();
    File& fpt = memo_->file();
    std::string buf;
    for (std::uint64_t done = 0; done < std::uint64_t(blocks) * bs;) {
        const size_t n = size_t(std::min<std::uint64_t>(std::uint64_t(blocks) * bs - done, 1u << 20));
        buf.resize(n);
        ALB_TRY(fpt.readAt(std::int64_t(from) * bs + std::int64_t(done), buf.data(), n, "the packed memos"));
        ALB_TRY(fpt.writeAt(std::int64_t(to) * bs + std::int64_t(done), buf.data(), n));
        done += n;
    }
    ALB_TRY(fpt.sync());

    const std::vector<const FieldDef*> memoFields = memoFieldsOf(*dbf_);
    const QString dbfTmp = packTemp(path_);
    std::string header(size_t(dbf_->headerLength()), '\0');
    ALB_TRY(dbf_->file().readAt(0, header.data(), header.size(), "the header"));
    Status st;
    {
        ALB_ASSIGN_OR_RETURN(File out, File::open(dbfTmp, File::Mode::Create));
        st = out.writeAt(0, header.data(), header.size());
        RowWriter rows(out, std::int64_t(header.size()));
        const int recLen = dbf_->recordLength();
        Status scanned = dbf_->scan(1, dbf_->recordCount(), [&](std::uint32_t, const char* data) {
            std::string rec(data, size_t(recLen));
            for (const FieldDef* f : memoFields) {
                const std::uint32_t block = memoBlock(*f, data);
                if (block == 0) continue;
                const std::string ref = memoReference(*f, block - from + to);
                std::memcpy(rec.data() + f->offset, ref.data(), ref.size());
            }
            st = rows.add(rec);
            return st.isOk();
        });
        if (st && !scanned) st = scanned;
        if (st) st = rows.finish();
        if (st) st = out.sync();
    }
    if (st) {
        closeFiles();
        st = renameFile(dbfTmp, path_);
        Status reopened = openFiles();
        if (st) st = reopened;
        ++changeStamp_;
    }
    // st is the failure to return; openFiles() clears pack leftovers next time.
    if (!st) (void)removeFile(dbfTmp);
    return st;
}

// ---------------------------------------------------------------------------------------------
// Damaged indexes

namespace {
std::function<void(const QString&)>& statusReporter() {
    static std::function<void(const QString&)> reporter;
    return reporter;
}
}  // namespace

void Table::setStatusReporter(std::function<void(const QString&)> reporter) { statusReporter() = std::move(reporter); }

void Table::reportStatus(const QString& text) {
    if (statusReporter()) statusReporter()(text);
}

Status Table::checkIndexShape() {
    if (!cdx_ || !indexProblem_.isOk()) return indexProblem_;
    for (const auto& t : tags_) {
        if (!t->usable) continue;
        Status st = t->tree->checkEdges(recordCount());
        if (!st) return st;
    }
    return {};
}

bool Table::isIndexDamage(const Status& st) const {
    if (st.kind() != ErrorKind::Corruption) return false;
    if (st.file() == indexPathFor(path_)) return true;
    return std::any_of(singles_.begin(), singles_.end(), [&](const Single& s) { return s.path == st.file(); });
}

Status Table::repairIndex(const Status& damage) {
    const QString base = QFileInfo(path_).completeBaseName().toUpper();
    auto cannot = [&](const Status& why) {
        return Status(damage.kind(), QStringLiteral("%1; it cannot be rebuilt now: %2").arg(damage.text(), why.text()), damage.file(),
                      damage.offset());
    };
    // The rebuild renames files into place, which must not happen inside a write that has not landed.
    if (folder_ && folder_->writing())
        return cannot(Status(ErrorKind::Locked, QStringLiteral("a write of this program is in progress")));
    reportStatus(QStringLiteral("Creating Index File for: ") + base);
    Status st;
    const auto single = std::find_if(singles_.begin(), singles_.end(), [&](const Single& s) { return s.path == damage.file(); });
    if (single != singles_.end()) {
        const QString p = single->path, expr = single->tag->keyExpr;
        st = createIndexFile(p, expr);
    } else {
        st = reindex();
    }
    reportStatus(QString());
    return st ? Status() : cannot(st);
}

// ---------------------------------------------------------------------------------------------
// Single-order index files

Status Table::createIndexFile(const QString& idxPath, const QString& keyExpr) {
    ALB_ASSIGN_OR_RETURN(Expression key, compile(keyExpr));
    ALB_TRY(checkKeyExpression(key, keyExpr, idxPath));
    ALB_TRY(closeIndexFile(idxPath));
    std::vector<KeyJob> jobs;
    jobs.push_back({&key, nullptr, nullptr});
    ALB_TRY(collectKeys(*dbf_, memoReader(), jobs, idxPath));
    ALB_TRY(IndexFile::createSingle(idxPath, toCp1252(keyExpr), key.keyPad(), *jobs[0].keys));
    return openIndexFile(idxPath).status();
}

Result<const Table::Tag*> Table::openIndexFile(const QString& idxPath) {
    for (auto& s : singles_)
        if (s.path == idxPath) return s.tag.get();
    std::unique_ptr<IndexFile> file;
    for (auto it = retired_.begin(); it != retired_.end(); ++it)
        if ((*it)->path() == idxPath) {
            file = std::move(*it);
            retired_.erase(it);
            break;
        }
    if (!file) {
        ALB_ASSIGN_OR_RETURN(file, IndexFile::open(idxPath, dbf_->writable(), IndexFile::Kind::Single));
    }
    Single s;
    s.path = idxPath;
    s.tag = std::make_unique<Tag>();
    s.tag->tree = file->single();
    s.tag->single = true;
    s.tag->name = QFileInfo(idxPath).completeBaseName();
    s.tag->keyExpr = fromCp1252(s.tag->tree->info().keyExpr);
    ALB_ASSIGN_OR_RETURN(s.tag->key, compile(s.tag->keyExpr));
    if (s.tag->key.keyLength() != s.tag->tree->keyLength())
        return Status(ErrorKind::Unsupported, QStringLiteral("The keys of %1 do not match its expression").arg(name(idxPath)), idxPath);
    s.tag->tree->setPad(s.tag->key.keyPad());
    describeParts(*s.tag);
    if (folder_ && folder_->enlisted(this)) ALB_TRY(file->file().beginOverlay());
    s.file = std::move(file);
    singles_.push_back(std::move(s));
    ++changeStamp_;
    tagsStamp_ = nextTagsStamp();
    return singles_.back().tag.get();
}

Status Table::closeIndexFile(const QString& idxPath) {
    Status st;
    if (folder_ && folder_->enlisted(this) && !folder_->explicitWrite()) st = flush();
    for (auto it = singles_.begin(); it != singles_.end();) {
        if (it->path != idxPath) {
            ++it;
            continue;
        }
        // Changes the file holds for the current write still land with it.
        if (it->file->file().overlayDirty()) retired_.push_back(std::move(it->file));
        it = singles_.erase(it);
    }
    ++changeStamp_;
    tagsStamp_ = nextTagsStamp();
    return st;
}

// ---------------------------------------------------------------------------------------------
// Copies

Status Table::create(const QString& path, const std::vector<FieldDef>& fields) {
    if (isOpenInProcess(path))
        return Status(ErrorKind::Locked, QStringLiteral("%1 is open and cannot be replaced").arg(name(path)), path);
    // The memo file first: a table exists once its DBF does, and a DBF must never be without
    // its memo file, not even after a crash between the two.
    const bool memo = std::any_of(fields.begin(), fields.end(), [](const FieldDef& f) { return f.isMemo(); });
    if (memo) ALB_TRY(MemoFile::create(memoPathFor(path)));
    return DbfFile::create(path, fields);
}

Status Table::copyStructure(const QString& destPath) const { return create(destPath, fields()); }

Status Table::copyRows(const QString& destPath, const std::vector<std::uint32_t>& recnos) {
    ALB_TRY(copyStructure(destPath));
    ALB_ASSIGN_OR_RETURN(auto dest, Table::open(destPath, OpenMode::Exclusive));
    std::string rec;
    for (std::uint32_t r : recnos) {
        ALB_TRY(readRecord(r, rec));
        for (const FieldDef& f : fields()) {
            if (!f.isMemo()) continue;
            std::uint32_t block = memoBlock(f, rec.data());
            if (block == 0) continue;
            ALB_ASSIGN_OR_RETURN(std::string text, readMemo(block));
            ALB_ASSIGN_OR_RETURN(std::uint32_t nb, dest->writeMemo(text));
            std::string ref = memoReference(f, nb);
            std::memcpy(rec.data() + f.offset, ref.data(), ref.size());
        }
        ALB_TRY(dest->appendRecord(rec).status());
    }
    return dest->flush();
}

}  // namespace albumora::store
