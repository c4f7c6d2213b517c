#include "Cursor.h"

#include "Codepage.h"

#include <QDateTime>
#include <QFileInfo>
#include <QRegularExpression>

#include <cstring>

namespace albumora::store {
namespace {

QString tableName(const QString& path) { return QFileInfo(path).fileName(); }

bool startsWith(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && std::memcmp(s.data(), prefix.data(), prefix.size()) == 0;
}

int compareBytes(std::string_view a, std::string_view b) {
    int c = std::memcmp(a.data(), b.data(), std::min(a.size(), b.size()));
    if (c) return c;
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

}  // namespace

Cursor::Cursor(const QString& name, QObject* parent) : QObject(parent), name_(name) {}

Cursor::~Cursor() {
    if (master_) disconnect(masterLink_);
}

void Cursor::setTablePath(const QString& path) { path_ = path; }

bool Cursor::exists() const { return fileExists(resolveCaseInsensitive(path_)); }

Status Cursor::requireOpen() const {
    if (!table_)
        return Status(ErrorKind::InvalidArgument,
                      QStringLiteral("%1: the table %2 is not open").arg(name_.isEmpty() ? QStringLiteral("Cursor") : name_,
                                                                        tableName(path_)),
                      path_);
    return {};
}

// What other programs committed becomes visible at the start of an operation, never in the
// middle of one.
Status Cursor::catchUp() {
    if (!table_ || !table_->folder() || state_ == State::Edit || state_ == State::Insert) return {};
    return table_->folder()->refresh();
}

Status Cursor::open(OpenMode mode) {
    if (table_) return {};
    ALB_ASSIGN_OR_RETURN(table_, Table::open(path_, mode));
    touchView();
    mode_ = mode;
    state_ = State::Browse;
    recno_ = 0;
    if (!order_.isEmpty()) {
        const Table::Tag* t = table_->tag(order_);
        Status st = !t ? Status(ErrorKind::NotFound, QStringLiteral("Index tag %1 not found for %2").arg(order_, tableName(path_)), path_)
                       : !table_->indexProblem().isOk() ? table_->indexProblem() : t->usable;
        if (!st) {
            close();
            return st;
        }
    }
    if (!filterText_.isEmpty()) {
        // A filter set while closed is checked now, like one set on an open cursor.
        Status valid = validate(filterText_);
        auto e = table_->compile(filterText_, resolver());
        if (!valid || !e) {
            close();
            return !valid ? valid : e.error();
        }
        filterExpr_ = std::move(e).value();
    }
    if (master_) {
        followMaster();
        return {};
    }
    return first();
}

void Cursor::close() {
    if (!table_) return;
    table_.reset();
    touchView();
    state_ = State::Inactive;
    filterExpr_ = Expression();
    memoEdits_.clear();
    setEmpty();
    notify();
}

void Cursor::setEmpty() {
    recno_ = 0;
    bof_ = eof_ = true;
    rec_.clear();
    pos_ = TreePos();
    posKey_.clear();
}

// ---------------------------------------------------------------------------------------------
// Fields

int Cursor::fieldCount() const { return (table_ ? int(table_->fields().size()) : 0) + int(extras_.size()); }

QString Cursor::fieldName(int index) const {
    const int own = table_ ? int(table_->fields().size()) : 0;
    if (index < own) return QString::fromLatin1(table_->fields()[size_t(index)].name.c_str());
    if (index - own < int(extras_.size())) return extras_[size_t(index - own)].name;
    return {};
}

int Cursor::fieldIndex(const QString& name) const {
    if (table_) {
        int i = table_->fieldIndex(name);
        if (i >= 0) return i;
    }
    const int own = table_ ? int(table_->fields().size()) : 0;
    for (size_t i = 0; i < extras_.size(); ++i)
        if (extras_[i].name.compare(name, Qt::CaseInsensitive) == 0) return own + int(i);
    return -1;
}

int Cursor::fieldWidth(int index) const {
    const int own = table_ ? int(table_->fields().size()) : 0;
    if (index < own) return table_->fields()[size_t(index)].length;
    if (index - own < int(extras_.size())) return extras_[size_t(index - own)].width;
    return 0;
}

char Cursor::fieldType(int index) const {
    const int own = table_ ? int(table_->fields().size()) : 0;
    if (index >= 0 && index < own) return table_->fields()[size_t(index)].type;
    return 'C';
}

void Cursor::addLookupField(const QString& name, int width, Cursor* source, const QString& keyField,
                            const QString& sourceTag, const QString& resultField) {
    Extra e;
    e.name = name;
    e.width = width;
    e.lookup = true;
    e.source = source;
    e.keyField = keyField;
    e.sourceTag = sourceTag;
    e.resultField = resultField;
    extras_.push_back(std::move(e));
}

void Cursor::addCalcField(const QString& name, int width, std::function<QString(const Cursor&)> calc) {
    Extra e;
    e.name = name;
    e.width = width;
    e.calc = std::move(calc);
    extras_.push_back(std::move(e));
}

const std::string& Cursor::rowBytes() const {
    if (state_ == State::Edit || state_ == State::Insert) return editRec_;
    if (table_ && recno_ && recStamp_ != table_->changeStamp()) {
        // Another cursor on the same table may have changed the row.
        auto* self = const_cast<Cursor*>(this);
        std::string fresh;
        if (table_->readRecord(recno_, fresh)) {
            self->rec_ = std::move(fresh);
            self->recStamp_ = table_->changeStamp();
        }
    }
    return rec_;
}

QString Cursor::fieldText(const FieldDef& f, const std::string& rec, int index) const {
    if (rec.size() < size_t(f.offset + f.length)) return {};
    const char* p = rec.data() + f.offset;
    std::string_view raw(p, size_t(f.length));
    if (f.isMemo()) {
        if (state_ != State::Browse) {
            auto it = memoEdits_.find(index);
            if (it != memoEdits_.end()) return fromCp1252(it->second);
        }
        std::uint32_t block = Table::memoBlock(f, rec.data());
        if (block == 0) return {};
        auto text = table_->readMemo(block);
        return text ? fromCp1252(*text) : QString();
    }
    switch (f.type) {
        case 'L': {
            char c = p[0];
            if (c == 'T' || c == 't' || c == 'Y' || c == 'y') return QStringLiteral("T");
            if (c == 'F' || c == 'f' || c == 'N' || c == 'n') return QStringLiteral("F");
            return {};
        }
        case 'N':
        case 'F': return fromCp1252(raw).trimmed();
        case 'D': {
            std::string_view t = trimRight(raw);
            if (t.size() != 8) return {};
            return QStringLiteral("%1-%2-%3").arg(fromCp1252(t.substr(0, 4)), fromCp1252(t.substr(4, 2)), fromCp1252(t.substr(6, 2)));
        }
        case 'I': {
            std::int32_t v;
            std::memcpy(&v, p, 4);
            return QString::number(v);
        }
        case 'Y': {
            std::int64_t v;
            std::memcpy(&v, p, 8);
            return QString::number(double(v) / 10000.0, 'f', 4).remove(QRegularExpression(QStringLiteral("\\.?0+$")));
        }
        case 'B': {
            double v;
            std::memcpy(&v, p, 8);
            return QString::number(v, 'g', 15);
        }
        case 'T': {
            std::int32_t day, ms;
            std::memcpy(&day, p, 4);
            std::memcpy(&ms, p + 4, 4);
            if (day <= 0) return {};
            // Stored to the millisecond, shown to the nearest second (16:09:59.999 is 16:10:00,
            // and a time just before midnight belongs to the next day).
            QDateTime dt(QDate::fromJulianDay(day), QTime(0, 0), Qt::UTC);
            dt = dt.addSecs((qint64(ms) + 500) / 1000);
            return dt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        }
        case '0':
        case 'Q':
        case 'G':
        case 'P': return QString::fromLatin1(QByteArray(p, f.length).toHex());
        default: return fromCp1252(trimRight(raw));
    }
}

QString Cursor::extraText(const Extra& e) const {
    if (!e.lookup) return e.calc ? e.calc(*this) : QString();
    if (!e.source || !e.source->isOpen() || !table_) return {};
    const int kf = table_->fieldIndex(e.keyField);
    if (kf < 0) return {};
    const FieldDef& f = table_->fields()[size_t(kf)];
    const std::string& rec = rowBytes();
    if (rec.size() < size_t(f.offset + f.length)) return {};
    const std::shared_ptr<Table>& src = e.source->table_;
    const Table::Tag* tag = src->tag(e.sourceTag);
    if (!tag || !tag->usable || !src->indexProblem().isOk()) return {};
    const std::string key = tag->tree->padKey(std::string_view(rec.data() + f.offset, size_t(f.length)));
    const int rf = src->fieldIndex(e.resultField);
    if (rf < 0) return {};
    TreePos p;
    auto ok = tag->tree->seek(key, 0, p);
    std::string srcRec;
    while (ok && *ok) {
        auto entry = tag->tree->entry(p);
        if (!entry || entry->key != key) break;
        if (src->readRecord(entry->recno, srcRec) && srcRec[0] != '*') {
            QString v = e.source->fieldText(src->fields()[size_t(rf)], srcRec, rf);
            return v.left(e.width);
        }
        ok = tag->tree->next(p);
    }
    return {};
}

QString Cursor::text(int index) const {
    if (!table_ || index < 0) return {};
    const int own = int(table_->fields().size());
    if (index < own) {
        if (recno_ == 0 && state_ == State::Browse) return {};
        return fieldText(table_->fields()[size_t(index)], rowBytes(), index);
    }
    if (index - own < int(extras_.size())) {
        if (recno_ == 0 && state_ == State::Browse) return {};
        return extraText(extras_[size_t(index - own)]);
    }
    return {};
}

QString Cursor::text(const QString& name) const { return text(fieldIndex(name)); }

Result<QString> Cursor::readText(int index) const {
    if (table_ && index >= 0 && size_t(index) < table_->fields().size()) {
        const FieldDef& f = table_->fields()[size_t(index)];
        const bool edited = state_ != State::Browse && memoEdits_.count(index);
        if (f.isMemo() && !edited && !(recno_ == 0 && state_ == State::Browse)) {
            const std::string& rec = rowBytes();
            if (rec.size() >= size_t(f.offset + f.length)) {
                const std::uint32_t block = Table::memoBlock(f, rec.data());
                if (block == 0) return QString();
                ALB_ASSIGN_OR_RETURN(std::string bytes, table_->readMemo(block));
                return fromCp1252(bytes);
            }
        }
    }
    return text(index);
}

Result<QString> Cursor::readText(const QString& name) const { return readText(fieldIndex(name)); }

QString Cursor::textOfRecord(std::uint32_t recno, int index) const {
    if (!table_ || index < 0 || recno == 0) return {};
    if (recno == recno_ && state_ == State::Browse) return text(index);
    std::string rec;
    if (!table_->readRecord(recno, rec)) return {};
    const int own = int(table_->fields().size());
    if (index < own) return fieldText(table_->fields()[size_t(index)], rec, index);
    if (index - own >= int(extras_.size())) return {};
    // Looked-up and computed fields read the current row: lend them this one for a moment.
    auto* self = const_cast<Cursor*>(this);
    std::string saved = std::move(self->rec_);
    const std::uint32_t savedRecno = recno_;
    const std::uint64_t savedStamp = recStamp_;
    self->rec_ = std::move(rec);
    self->recno_ = recno;
    self->recStamp_ = table_->changeStamp();
    QString out = extraText(extras_[size_t(index - own)]);
    self->rec_ = std::move(saved);
    self->recno_ = savedRecno;
    self->recStamp_ = savedStamp;
    return out;
}

qint64 Cursor::integer(const QString& name) const { return text(name).trimmed().toLongLong(); }

bool Cursor::boolean(const QString& name) const { return text(name) == QLatin1String("T"); }

bool Cursor::isBlank(const QString& name) const { return text(name).trimmed().isEmpty(); }

FieldResolver Cursor::resolver() const {
    return [this](std::string_view upperName) -> std::optional<ExternalField> {
        const QString n = QString::fromLatin1(upperName.data(), qsizetype(upperName.size()));
        for (size_t i = 0; i < extras_.size(); ++i) {
            if (extras_[i].name.compare(n, Qt::CaseInsensitive) != 0) continue;
            ExternalField f;
            f.type = ValueType::Char;
            f.text = [this, i](const EvalContext& c) {
                // Evaluate the field over the row being tested, not the current one.
                auto* self = const_cast<Cursor*>(this);
                const int recLen = table_->dbf().recordLength();
                std::string saved = std::move(self->rec_);
                const std::uint32_t savedRecno = self->recno_;
                const std::uint64_t savedStamp = self->recStamp_;
                const State savedState = self->state_;
                self->rec_.assign(c.record, size_t(recLen));
                self->recno_ = c.recno ? c.recno : 1;
                self->recStamp_ = table_->changeStamp();
                self->state_ = State::Browse;
                std::string out = toCp1252(extraText(extras_[i]));
                self->rec_ = std::move(saved);
                self->recno_ = savedRecno;
                self->recStamp_ = savedStamp;
                self->state_ = savedState;
                out.resize(size_t(extras_[i].width), ' ');
                return out;
            };
            return f;
        }
        return std::nullopt;
    };
}

// ---------------------------------------------------------------------------------------------
// Order, filter, scope

const Table::Tag* Cursor::orderTag() const {
    if (!table_ || order_.isEmpty()) return nullptr;
    if (tagCacheStamp_ != table_->tagsStamp() || tagCacheName_ != order_) {
        tagCache_ = table_->tag(order_);
        tagCacheStamp_ = table_->tagsStamp();
        tagCacheName_ = order_;
    }
    const Table::Tag* t = tagCache_;
    if (!t || !t->usable) return nullptr;
    if (!t->single && !table_->indexProblem().isOk()) return nullptr;
    return t;
}

Status Cursor::setOrder(const QString& tag) {
    if (table_ && state_ != State::Browse) ALB_TRY(post());
    touchView();
    if (tag.isEmpty()) {
        order_.clear();
        clearScope();
        return {};
    }
    if (table_) {
        const Table::Tag* t = table_->tag(tag);
        if (!t) return Status(ErrorKind::NotFound, QStringLiteral("Index tag %1 not found for %2").arg(tag, tableName(path_)), path_);
        if (!t->single && !table_->indexProblem().isOk()) return table_->indexProblem();
        ALB_TRY(t->usable);
    }
    order_ = tag;
    scope_.reset();
    if (table_ && recno_) {
        pos_ = TreePos();
        ALB_TRY(positionInOrder());
    }
    if (master_) followMaster();
    return {};
}

QStringList Cursor::tagNames() const {
    QStringList out;
    if (table_)
        for (const Table::Tag* t : table_->tags()) out << t->name;
    return out;
}

bool Cursor::tagExists(const QString& tag) const {
    if (table_) return table_->tag(tag) != nullptr;
    // Closed: look in the index file itself.
    auto t = Table::open(path_, OpenMode::Shared);
    return t && (*t)->tag(tag) != nullptr;
}

Status Cursor::createTag(const QString& name, const QString& keyExpr) {
    ALB_TRY(requireOpen());
    ALB_TRY(table_->createTag(name, keyExpr));
    pos_ = TreePos();
    return {};
}

Status Cursor::createIndexFile(const QString& path, const QString& keyExpr) {
    ALB_TRY(requireOpen());
    ALB_TRY(table_->createIndexFile(path, keyExpr));
    return setOrder(path);
}

Status Cursor::openIndexFile(const QString& path) {
    ALB_TRY(requireOpen());
    ALB_TRY(table_->openIndexFile(path).status());
    return setOrder(path);
}

Status Cursor::closeIndexFile(const QString& path) {
    if (!table_) return {};
    if (order_ == path) order_.clear();
    return table_->closeIndexFile(path);
}

Status Cursor::validate(const QString& expression) const {
    ALB_TRY(requireOpen());
    ALB_ASSIGN_OR_RETURN(Expression e, table_->compile(expression, resolver()));
    if (e.type() != ValueType::Logical)
        return Status(ErrorKind::Expression, QStringLiteral("Invalid expression: \"%1\" is not a condition").arg(expression));
    return {};
}

Status Cursor::setFilter(const QString& expression) {
    touchView();
    if (expression.trimmed().isEmpty()) {
        filterText_.clear();
        filterExpr_ = Expression();
        return {};
    }
    if (table_) {
        ALB_TRY(validate(expression));
        ALB_ASSIGN_OR_RETURN(filterExpr_, table_->compile(expression, resolver()));
    }
    filterText_ = expression;
    return {};
}

void Cursor::setFiltered(bool on) {
    if (on != filtered_) touchView();
    filtered_ = on;
}

Status Cursor::setScope(const QString& low, const QString& high) {
    ALB_TRY(requireOpen());
    if (!orderTag()) return Status(ErrorKind::InvalidArgument, QStringLiteral("A scope needs an index order"), path_);
    scope_ = Scope{keyBytes(low), keyBytes(high)};
    detailNone_ = false;
    touchView();
    return {};
}

void Cursor::clearScope() {
    if (scope_) touchView();
    scope_.reset();
}

bool Cursor::inScope(std::string_view key) const {
    if (!scope_) return true;
    if (compareBytes(key.substr(0, scope_->low.size()), scope_->low) < 0) return false;
    if (compareBytes(key.substr(0, scope_->high.size()), scope_->high) > 0) return false;
    return true;
}

std::string Cursor::keyBytes(const QString& text) const {
    const Table::Tag* t = orderTag();
    if (t && t->key.type() != ValueType::Char) return t->key.keyFromText(toCp1252(text));
    return toCp1252(text);
}

std::string Cursor::seekKey(const QStringList& values) const {
    const Table::Tag* t = orderTag();
    if (!t) return {};
    if (t->key.type() != ValueType::Char) return t->key.keyFromText(values.isEmpty() ? std::string() : toCp1252(values[0]));
    std::string key;
    for (qsizetype i = 0; i < values.size(); ++i) {
        std::string v = toCp1252(values[i]);
        // Each value but the last fills the width of its part of the key.
        if (i + 1 < values.size() && size_t(i) < t->partWidths.size() && t->partWidths[size_t(i)] > 0)
            v.resize(size_t(t->partWidths[size_t(i)]), ' ');
        key += v;
    }
    return t->tree->padKey(key);
}

Result<bool> Cursor::passes(std::uint32_t recno, const std::string& rec) const {
    if (detailNone_ || rec.empty() || rec[0] == '*') return false;
    if (filtered()) {
        EvalContext ctx = table_->context(rec, recno);
        const bool in = filterExpr_.evalLogical(ctx);
        // A row whose filter cannot be evaluated (its memo is unreadable) is an error, not a
        // row that fails the filter: the caller would answer "none found" over damage.
        if (!ctx.error.isOk()) return ctx.error;
        return in;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Navigation

Status Cursor::loadRecord(std::uint32_t recno) {
    ALB_TRY(table_->readRecord(recno, rec_));
    recStamp_ = table_->changeStamp();
    recno_ = recno;
    return {};
}

Status Cursor::positionInOrder() {
    const Table::Tag* t = orderTag();
    pos_ = TreePos();
    posKey_.clear();
    if (!t || !recno_) return {};
    EvalContext ctx = table_->context(rowBytes(), recno_);
    posKey_ = t->key.evalKey(ctx);
    return ctx.error;
}

Status Cursor::moveTo(std::uint32_t recno) {
    endWalk();  // a jump: the walk, if one follows, starts again with small prefetches
    ALB_TRY(loadRecord(recno));
    return positionInOrder();
}

Status Cursor::scanFrom(bool fromStart, Dir dir, bool& found) {
    found = false;
    endWalk();
    if (detailNone_) return {};
    const Table::Tag* t = orderTag();
    std::string rec;
    if (!t) {
        const std::uint32_t count = table_->recordCount();
        if (count == 0) return {};
        std::int64_t r = fromStart ? 1 : count;
        const int stepBy = dir == Dir::Forward ? 1 : -1;
        for (; r >= 1 && r <= std::int64_t(count); r += stepBy) {
            ALB_TRY(table_->readRecord(std::uint32_t(r), rec));
            ALB_ASSIGN_OR_RETURN(const bool in, passes(std::uint32_t(r), rec));
            if (in) {
                rec_ = std::move(rec);
                recStamp_ = table_->changeStamp();
                recno_ = std::uint32_t(r);
                found = true;
                return {};
            }
        }
        return {};
    }
    Tree* tree = t->tree;
    TreePos p;
    bool ok;
    if (fromStart) {
        if (scope_) {
            std::string low = scope_->low;
            low.resize(size_t(tree->keyLength()), '\0');
            ALB_ASSIGN_OR_RETURN(ok, tree->seek(low, 0, p));
        } else {
            ALB_ASSIGN_OR_RETURN(ok, tree->first(p));
        }
    } else {
        if (scope_) {
            std::string high = scope_->high;
            high.resize(size_t(tree->keyLength()), '\xFF');
            ALB_ASSIGN_OR_RETURN(ok, tree->seek(high, 0xFFFFFFFFu, p));
            if (ok) {
                ALB_ASSIGN_OR_RETURN(ok, tree->prior(p));
            } else {
                ALB_ASSIGN_OR_RETURN(ok, tree->last(p));
            }
        } else {
            ALB_ASSIGN_OR_RETURN(ok, tree->last(p));
        }
    }
    while (ok) {
        ALB_ASSIGN_OR_RETURN(IndexEntry e, entryAt(tree, p));
        if (!inScope(e.key)) return {};
        ALB_TRY(table_->readRecord(e.recno, rec));
        ALB_ASSIGN_OR_RETURN(const bool in, passes(e.recno, rec));
        if (in) {
            rec_ = std::move(rec);
            recStamp_ = table_->changeStamp();
            recno_ = e.recno;
            pos_ = p;
            posKey_ = e.key;
            found = true;
            return {};
        }
        if (dir == Dir::Forward) {
            ALB_ASSIGN_OR_RETURN(ok, tree->next(p));
        } else {
            ALB_ASSIGN_OR_RETURN(ok, tree->prior(p));
        }
    }
    return {};
}

// The rows of the next entries of a walk, fetched together in file order: read one by one in
// index order, each is a system call of its own over a table larger than the block cache. The
// first prefetches are small, so that a grid stepping a few rows pays little; a long walk soon
// takes the largest window.
// Only a speed-up: trouble ahead (a damaged page, a row that cannot be read) ends the prefetch
// where it is met, and is reported by the step that reaches it.
void Cursor::prefetchAhead(Tree* tree, const TreePos& from) {
    prefetchRows_ = std::min(prefetchRows_ ? prefetchRows_ * 4 : kPrefetchFirst, table_->prefetchCapacity());
    std::vector<std::uint32_t> recnos;
    recnos.reserve(prefetchRows_);
    TreePos q = from;
    const bool scoped = scope_.has_value();
    while (recnos.size() < prefetchRows_) {
        if (scoped) {
            auto e = entryAt(tree, q);
            if (!e || !inScope(e->key)) break;
            recnos.push_back(e->recno);
        } else {
            auto r = tree->recnoAt(q);
            if (!r) break;
            recnos.push_back(*r);
        }
        auto more = tree->next(q);
        if (!more || !*more) break;
    }
    (void)table_->prefetch(recnos);  // a failed read leaves no window: the rows are read one by one
}

Status Cursor::step(Dir dir, bool& moved) {
    moved = false;
    if (dir == Dir::Backward) endWalk();
    if (!recno_ || detailNone_) return {};
    const Table::Tag* t = orderTag();
    std::string rec;
    if (!t) {
        const std::uint32_t count = table_->recordCount();
        const int stepBy = dir == Dir::Forward ? 1 : -1;
        for (std::int64_t r = std::int64_t(recno_) + stepBy; r >= 1 && r <= std::int64_t(count); r += stepBy) {
            ALB_TRY(table_->readRecord(std::uint32_t(r), rec));
            ALB_ASSIGN_OR_RETURN(const bool in, passes(std::uint32_t(r), rec));
            if (in) {
                rec_ = std::move(rec);
                recStamp_ = table_->changeStamp();
                recno_ = std::uint32_t(r);
                moved = true;
                return {};
            }
        }
        return {};
    }
    Tree* tree = t->tree;
    TreePos p = pos_;
    bool ok = true;
    bool checkFirst = false;  // p already holds the candidate (the row after a vanished current one)
    if (!tree->current(p)) {
        // The index changed since the position was taken: find the current row's entry again.
        ALB_ASSIGN_OR_RETURN(bool found, tree->seek(posKey_, recno_, p));
        bool exact = false;
        if (found) {
            ALB_ASSIGN_OR_RETURN(IndexEntry e, entryAt(tree, p));
            exact = e.key == posKey_ && e.recno == recno_;
        }
        if (dir == Dir::Forward) {
            ok = found;
            checkFirst = found && !exact;
        } else if (!found) {
            ALB_ASSIGN_OR_RETURN(ok, tree->last(p));
            checkFirst = true;
        }
    }
    for (;;) {
        if (!checkFirst) {
            if (!ok) return {};
            if (dir == Dir::Forward) {
                ALB_ASSIGN_OR_RETURN(ok, tree->next(p));
            } else {
                ALB_ASSIGN_OR_RETURN(ok, tree->prior(p));
            }
        }
        checkFirst = false;
        if (!ok) return {};
        ALB_ASSIGN_OR_RETURN(IndexEntry e, entryAt(tree, p));
        if (!inScope(e.key)) return {};
        if (dir == Dir::Forward && ++walk_ > kWalkBeforePrefetch && !table_->prefetched(e.recno)) prefetchAhead(tree, p);
        ALB_TRY(table_->readRecord(e.recno, rec));
        ALB_ASSIGN_OR_RETURN(const bool in, passes(e.recno, rec));
        if (in) {
            rec_ = std::move(rec);
            recStamp_ = table_->changeStamp();
            recno_ = e.recno;
            pos_ = p;
            posKey_ = std::move(e.key);
            moved = true;
            return {};
        }
    }
}

Status Cursor::firstOnce() {
    ALB_TRY(requireOpen());
    ALB_TRY(catchUp());
    if (state_ != State::Browse) ALB_TRY(post());
    bool found = false;
    Status st = scanFrom(true, Dir::Forward, found);
    if (!found) setEmpty();
    bof_ = true;
    eof_ = !found;
    notify();
    return st;
}

Status Cursor::lastOnce() {
    ALB_TRY(requireOpen());
    ALB_TRY(catchUp());
    if (state_ != State::Browse) ALB_TRY(post());
    bool found = false;
    Status st = scanFrom(false, Dir::Backward, found);
    if (!found) setEmpty();
    eof_ = true;
    bof_ = !found;
    notify();
    return st;
}

Status Cursor::nextOnce() {
    ALB_TRY(requireOpen());
    if (state_ != State::Browse) ALB_TRY(post());
    bool moved = false;
    ALB_TRY(step(Dir::Forward, moved));
    if (moved) {
        bof_ = eof_ = false;
        notify();
    } else {
        eof_ = true;
    }
    return {};
}

Status Cursor::priorOnce() {
    ALB_TRY(requireOpen());
    if (state_ != State::Browse) ALB_TRY(post());
    bool moved = false;
    ALB_TRY(step(Dir::Backward, moved));
    if (moved) {
        bof_ = eof_ = false;
        notify();
    } else {
        bof_ = true;
    }
    return {};
}

Status Cursor::forEachRow(const std::function<Status()>& row) {
    ALB_TRY(first());
    while (!isEmpty()) {
        ALB_TRY(row());
        ALB_TRY(next());
        if (eof()) break;
    }
    return {};
}

Status Cursor::gotoBookmark(const Bookmark& b) {
    ALB_TRY(requireOpen());
    ALB_TRY(catchUp());
    if (state_ != State::Browse) ALB_TRY(post());
    if (!b.valid() || b.recno > table_->recordCount())
        return Status(ErrorKind::NotFound, QStringLiteral("The bookmarked row no longer exists"), path_);
    // A row the filter hides is not one a view can show as current: the grid would highlight
    // some other album while every action went to this one.
    ALB_ASSIGN_OR_RETURN(const bool visible, shows(b));
    if (!visible) return Status(ErrorKind::NotFound, QStringLiteral("The row is hidden by the filter"), path_);
    ALB_TRY(moveTo(b.recno));
    bof_ = eof_ = false;
    notify();
    return {};
}

Result<bool> Cursor::shows(const Bookmark& b) {
    ALB_TRY(requireOpen());
    ALB_TRY(catchUp());
    if (!b.valid() || b.recno > table_->recordCount()) return false;
    std::string rec;
    ALB_TRY(table_->readRecord(b.recno, rec));
    return passes(b.recno, rec);
}

Result<qint64> Cursor::recordCountOnce() {
    ALB_TRY(requireOpen());
    ALB_TRY(catchUp());
    if (detailNone_) return qint64(0);
    const Table::Tag* t = orderTag();
    if (scope_ && t) {
        qint64 n = 0;
        std::string rec;
        TreePos p;
        std::string low = scope_->low;
        low.resize(size_t(t->tree->keyLength()), '\0');
        ALB_ASSIGN_OR_RETURN(bool ok, t->tree->seek(low, 0, p));
        while (ok) {
            ALB_ASSIGN_OR_RETURN(IndexEntry e, entryAt(t->tree, p));
            if (!inScope(e.key)) break;
            ALB_TRY(table_->readRecord(e.recno, rec));
            ALB_ASSIGN_OR_RETURN(const bool in, passes(e.recno, rec));
            if (in) ++n;
            ALB_ASSIGN_OR_RETURN(ok, t->tree->next(p));
        }
        return n;
    }
    if (filtered()) {
        // Counting needs no order: one pass over the file in large reads.
        qint64 n = 0;
        EvalContext ctx;
        ctx.readMemo = table_->memoReader();
        ALB_TRY(table_->dbf().scan(1, table_->recordCount(), [&](std::uint32_t recno, const char* data) {
            if (data[0] == '*') return true;
            ctx.record = data;
            ctx.recno = recno;
            if (filterExpr_.evalLogical(ctx)) ++n;
            return ctx.error.isOk();
        }));
        ALB_TRY(ctx.error);
        return n;
    }
    ALB_ASSIGN_OR_RETURN(std::uint32_t deleted, table_->deletedCount());
    return qint64(table_->recordCount()) - deleted;
}

Result<std::vector<std::uint32_t>> Cursor::visibleRecordsOnce() {
    ALB_TRY(requireOpen());
    ALB_TRY(catchUp());
    std::vector<std::uint32_t> out;
    if (detailNone_) return out;
    const Table::Tag* t = orderTag();
    if (!t) {
        EvalContext ctx;
        ctx.readMemo = table_->memoReader();
        const bool f = filtered();
        ALB_TRY(table_->dbf().scan(1, table_->recordCount(), [&](std::uint32_t recno, const char* data) {
            if (data[0] == '*') return true;
            ctx.record = data;
            ctx.recno = recno;
            if (!f || filterExpr_.evalLogical(ctx)) out.push_back(recno);
            return ctx.error.isOk();
        }));
        ALB_TRY(ctx.error);
        return out;
    }
    ALB_ASSIGN_OR_RETURN(std::uint32_t deleted, table_->deletedCount());
    const bool readRows = filtered() || deleted > 0;
    TreePos p;
    bool ok;
    if (scope_) {
        std::string low = scope_->low;
        low.resize(size_t(t->tree->keyLength()), '\0');
        ALB_ASSIGN_OR_RETURN(ok, t->tree->seek(low, 0, p));
    } else {
        ALB_ASSIGN_OR_RETURN(ok, t->tree->first(p));
    }
    std::string rec;
    while (ok) {
        ALB_ASSIGN_OR_RETURN(IndexEntry e, entryAt(t->tree, p));
        if (!inScope(e.key)) break;
        if (readRows) {
            ALB_TRY(table_->readRecord(e.recno, rec));
            ALB_ASSIGN_OR_RETURN(const bool in, passes(e.recno, rec));
            if (in) out.push_back(e.recno);
        } else {
            out.push_back(e.recno);
        }
        ALB_ASSIGN_OR_RETURN(ok, t->tree->next(p));
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// Seeks

Result<bool> Cursor::findKeyOnce(const QStringList& values) {
    ALB_TRY(requireOpen());
    ALB_TRY(catchUp());
    if (state_ != State::Browse) ALB_TRY(post());
    const Table::Tag* t = orderTag();
    if (!t) return Status(ErrorKind::InvalidArgument, QStringLiteral("%1: no index order is set for a seek").arg(name_), path_);
    const std::string key = seekKey(values);
    TreePos p;
    ALB_ASSIGN_OR_RETURN(bool ok, t->tree->seek(key, 0, p));
    std::string rec;
    while (ok) {
        ALB_ASSIGN_OR_RETURN(IndexEntry e, entryAt(t->tree, p));
        if (e.key != key) break;
        if (inScope(e.key)) {
            ALB_TRY(table_->readRecord(e.recno, rec));
            ALB_ASSIGN_OR_RETURN(const bool in, passes(e.recno, rec));
            if (in) {
                rec_ = std::move(rec);
                recStamp_ = table_->changeStamp();
                recno_ = e.recno;
                pos_ = p;
                posKey_ = e.key;
                bof_ = eof_ = false;
                notify();
                return true;
            }
        }
        ALB_ASSIGN_OR_RETURN(ok, t->tree->next(p));
    }
    return false;
}

Result<bool> Cursor::findPartialOnce(const QString& prefixText) {
    ALB_TRY(requireOpen());
    ALB_TRY(catchUp());
    if (state_ != State::Browse) ALB_TRY(post());
    const Table::Tag* t = orderTag();
    if (!t) return Status(ErrorKind::InvalidArgument, QStringLiteral("%1: no index order is set for a seek").arg(name_), path_);
    const std::string prefix = keyBytes(prefixText);
    std::string low = prefix.substr(0, size_t(t->tree->keyLength()));
    low.resize(size_t(t->tree->keyLength()), '\0');
    TreePos p;
    ALB_ASSIGN_OR_RETURN(bool ok, t->tree->seek(low, 0, p));
    std::string rec;
    while (ok) {
        ALB_ASSIGN_OR_RETURN(IndexEntry e, entryAt(t->tree, p));
        if (!startsWith(e.key, prefix)) break;
        if (inScope(e.key)) {
            ALB_TRY(table_->readRecord(e.recno, rec));
            ALB_ASSIGN_OR_RETURN(const bool in, passes(e.recno, rec));
            if (in) {
                rec_ = std::move(rec);
                recStamp_ = table_->changeStamp();
                recno_ = e.recno;
                pos_ = p;
                posKey_ = e.key;
                bof_ = eof_ = false;
                notify();
                return true;
            }
        }
        ALB_ASSIGN_OR_RETURN(ok, t->tree->next(p));
    }
    return false;
}

Status Cursor::findNearestOnce(const QString& value) {
    ALB_TRY(requireOpen());
    ALB_TRY(catchUp());
    if (state_ != State::Browse) ALB_TRY(post());
    const Table::Tag* t = orderTag();
    if (!t) return Status(ErrorKind::InvalidArgument, QStringLiteral("%1: no index order is set for a seek").arg(name_), path_);
    std::string low = keyBytes(value).substr(0, size_t(t->tree->keyLength()));
    low.resize(size_t(t->tree->keyLength()), '\0');
    TreePos p;
    ALB_ASSIGN_OR_RETURN(bool ok, t->tree->seek(low, 0, p));
    std::string rec;
    while (ok) {
        ALB_ASSIGN_OR_RETURN(IndexEntry e, entryAt(t->tree, p));
        if (inScope(e.key)) {
            ALB_TRY(table_->readRecord(e.recno, rec));
            ALB_ASSIGN_OR_RETURN(const bool in, passes(e.recno, rec));
            if (in) {
                rec_ = std::move(rec);
                recStamp_ = table_->changeStamp();
                recno_ = e.recno;
                pos_ = p;
                posKey_ = e.key;
                bof_ = eof_ = false;
                notify();
                return {};
            }
        } else if (scope_ && compareBytes(std::string_view(e.key).substr(0, scope_->high.size()), scope_->high) > 0) {
            break;
        }
        ALB_ASSIGN_OR_RETURN(ok, t->tree->next(p));
    }
    return last();
}

// ---------------------------------------------------------------------------------------------
// Reads that meet a damaged index page rebuild the index and are tried once more, rather than
// answering with the rows before the damage.

namespace {
const Status& statusOf(const Status& s) { return s; }
template <class T>
Status statusOf(const Result<T>& r) {
    return r.status();
}
}  // namespace

template <class Op>
auto Cursor::repairing(Op&& op) -> decltype(op()) {
    auto r = op();
    if (!table_) return r;
    Status st = statusOf(r);
    if (st.isOk() || !table_->isIndexDamage(st)) return r;
    // Pages read while another program's commit landed are no damage: read again once caught up.
    for (int again = 0; again < 8 && table_->folder(); ++again) {
        ALB_ASSIGN_OR_RETURN(const bool moved, table_->folder()->othersCommitted());
        if (!moved) break;
        touchView();
        r = op();
        st = statusOf(r);
        if (st.isOk() || !table_->isIndexDamage(st)) return r;
    }
    ALB_TRY(table_->repairIndex(st));
    touchView();
    return op();
}

Result<IndexEntry> Cursor::entryAt(Tree* tree, const TreePos& p) const {
    ALB_ASSIGN_OR_RETURN(IndexEntry e, tree->entry(p));
    if (e.recno == 0 || e.recno > table_->recordCount())
        return Status(ErrorKind::Corruption,
                      QStringLiteral("%1: an index entry points at record %2, past the table's %3 rows")
                          .arg(QFileInfo(tree->filePath()).fileName())
                          .arg(e.recno)
                          .arg(table_->recordCount()),
                      tree->filePath(), p.leaf);
    return e;
}

Status Cursor::first() { return repairing([this] { return firstOnce(); }); }
Status Cursor::last() { return repairing([this] { return lastOnce(); }); }
Status Cursor::next() { return repairing([this] { return nextOnce(); }); }
Status Cursor::prior() { return repairing([this] { return priorOnce(); }); }
Result<qint64> Cursor::recordCount() { return repairing([this] { return recordCountOnce(); }); }
Result<std::vector<std::uint32_t>> Cursor::visibleRecords() { return repairing([this] { return visibleRecordsOnce(); }); }
Result<bool> Cursor::findKey(const QStringList& values) { return repairing([&] { return findKeyOnce(values); }); }
Result<bool> Cursor::findPartial(const QString& prefix) { return repairing([&] { return findPartialOnce(prefix); }); }
Status Cursor::findNearest(const QString& value) { return repairing([&] { return findNearestOnce(value); }); }

// ---------------------------------------------------------------------------------------------
// Master-detail

void Cursor::setMaster(Cursor* master, const QString& masterField) {
    if (master_) disconnect(masterLink_);
    master_ = master;
    masterField_ = masterField;
    detailNone_ = false;
    if (master_) {
        masterLink_ = connect(master_, &Cursor::changed, this, [this] { followMaster(); });
        if (table_) followMaster();
    } else {
        scope_.reset();
    }
}

void Cursor::followMaster() {
    if (!table_ || !master_) return;
    if (!master_->isOpen() || master_->isEmpty() || master_->state() == State::Insert) {
        touchView();
        detailNone_ = true;
        scope_.reset();
        setEmpty();
        notify();
        return;
    }
    const int mf = master_->table_->fieldIndex(masterField_);
    if (mf < 0 || !orderTag()) {
        touchView();
        detailNone_ = true;
        setEmpty();
        notify();
        return;
    }
    const FieldDef& f = master_->table_->fields()[size_t(mf)];
    const std::string& mrec = master_->rowBytes();
    std::string value(mrec.data() + f.offset, size_t(f.length));
    if (scope_ && !detailNone_ && scope_->low == value && scope_->high == value && recno_) {
        // Same album: keep the detail's position (the master moved within its own fields).
        return;
    }
    detailNone_ = false;
    scope_ = Scope{value, value};
    touchView();
    // A signal has nobody to take a failure: the detail's views read the new album's rows
    // themselves and show what stops them.
    (void)first();
}

// ---------------------------------------------------------------------------------------------
// Editing

Status Cursor::append() {
    ALB_TRY(requireOpen());
    if (state_ != State::Browse) ALB_TRY(post());
    editRec_ = table_->dbf().blankRecord();
    for (const FieldDef& f : table_->fields()) {
        if (f.type == 'L') editRec_[size_t(f.offset)] = 'F';
        if (f.type == 'I' || f.type == 'Y' || f.type == 'B' || f.type == 'T' || f.type == '0')
            std::memset(editRec_.data() + f.offset, 0, size_t(f.length));
    }
    memoEdits_.clear();
    state_ = State::Insert;
    // A new row of a detail cursor belongs to the master's current row.
    if (master_ && master_->isOpen() && !master_->isEmpty()) {
        const int mf = master_->table_->fieldIndex(masterField_);
        const int df = table_->fieldIndex(masterField_);
        if (mf >= 0 && df >= 0) {
            const FieldDef& m = master_->table_->fields()[size_t(mf)];
            const FieldDef& d = table_->fields()[size_t(df)];
            std::string v = master_->rowBytes().substr(size_t(m.offset), size_t(m.length));
            v.resize(size_t(d.length), ' ');
            std::memcpy(editRec_.data() + d.offset, v.data(), size_t(d.length));
        }
    }
    return {};
}

Status Cursor::edit() {
    ALB_TRY(requireOpen());
    if (state_ == State::Edit || state_ == State::Insert) return {};
    if (!recno_) return Status(ErrorKind::InvalidArgument, QStringLiteral("%1: there is no row to edit").arg(name_), path_);
    editRec_ = rowBytes();
    memoEdits_.clear();
    state_ = State::Edit;
    return {};
}

Status Cursor::setText(const QString& field, const QString& value) {
    const int i = fieldIndex(field);
    if (i < 0) return Status(ErrorKind::NotFound, QStringLiteral("Field %1 not found in %2").arg(field, tableName(path_)), path_);
    return setText(i, value);
}

Status Cursor::setText(int index, const QString& value) {
    ALB_TRY(requireOpen());
    if (state_ != State::Edit && state_ != State::Insert)
        return Status(ErrorKind::InvalidArgument, QStringLiteral("%1 is not in edit mode").arg(name_), path_);
    if (index < 0 || index >= int(table_->fields().size()))
        return Status(ErrorKind::InvalidArgument, QStringLiteral("Field %1 of %2 cannot be written").arg(fieldName(index), name_), path_);
    const FieldDef& f = table_->fields()[size_t(index)];
    std::string v = toCp1252(value);
    char* dst = editRec_.data() + f.offset;
    switch (f.type) {
        case 'M':
            memoEdits_[index] = v;
            return {};
        case 'L': {
            const QString t = value.trimmed().toUpper();
            *dst = (t == QLatin1String("T") || t == QLatin1String("Y") || t == QLatin1String("TRUE") ||
                    t == QLatin1String("1") || t == QLatin1String(".T."))
                       ? 'T'
                       : 'F';
            return {};
        }
        case 'N':
        case 'F': {
            std::string t = std::string(trimRight(v));
            while (!t.empty() && t.front() == ' ') t.erase(t.begin());
            if (t.size() > size_t(f.length))
                return Status(ErrorKind::InvalidArgument,
                              QStringLiteral("%1 does not fit the field %2").arg(value, fieldName(index)), path_);
            std::memset(dst, ' ', size_t(f.length));
            std::memcpy(dst + f.length - int(t.size()), t.data(), t.size());
            return {};
        }
        case 'I': {
            std::int32_t n = std::int32_t(value.trimmed().toLong());
            std::memcpy(dst, &n, 4);
            return {};
        }
        case 'C':
        case 'D':
        default:
            v.resize(size_t(f.length), ' ');
            std::memcpy(dst, v.data(), size_t(f.length));
            return {};
    }
}

Status Cursor::setBoolean(const QString& field, bool value) {
    return setText(field, value ? QStringLiteral("T") : QStringLiteral("F"));
}

Status Cursor::setInteger(const QString& field, qint64 value) { return setText(field, QString::number(value)); }

Status Cursor::post() {
    ALB_TRY(requireOpen());
    if (state_ == State::Browse) return {};
    std::string rec = editRec_;
    for (const auto& [index, text] : memoEdits_) {
        const FieldDef& f = table_->fields()[size_t(index)];
        std::uint32_t block = 0;
        if (!text.empty()) {
            ALB_ASSIGN_OR_RETURN(block, table_->writeMemo(text));
        }
        const std::string ref = Table::memoReference(f, block);
        std::memcpy(rec.data() + f.offset, ref.data(), ref.size());
    }
    std::uint32_t recno = recno_;
    if (state_ == State::Insert) {
        ALB_ASSIGN_OR_RETURN(recno, table_->appendRecord(rec));
    } else {
        ALB_TRY(table_->updateRecord(recno_, rec));
    }
    state_ = State::Browse;
    memoEdits_.clear();
    editRec_.clear();
    recno_ = recno;
    rec_ = std::move(rec);
    recStamp_ = table_->changeStamp();
    bof_ = eof_ = false;
    Status st = positionInOrder();
    notify();
    return st;
}

void Cursor::cancel() {
    if (state_ == State::Edit || state_ == State::Insert) {
        state_ = State::Browse;
        memoEdits_.clear();
        editRec_.clear();
        notify();
    }
}

Status Cursor::deleteRecord() {
    ALB_TRY(requireOpen());
    if (state_ == State::Insert) {
        cancel();
        return {};
    }
    state_ = State::Browse;
    memoEdits_.clear();
    if (!recno_) return Status(ErrorKind::InvalidArgument, QStringLiteral("%1: there is no row to delete").arg(name_), path_);
    ALB_TRY(table_->setDeleted(recno_, true));
    bool moved = false;
    ALB_TRY(step(Dir::Forward, moved));
    if (!moved) {
        ALB_TRY(step(Dir::Backward, moved));
        if (moved) eof_ = true;
    } else {
        bof_ = eof_ = false;
    }
    if (!moved) setEmpty();
    notify();
    return {};
}

Status Cursor::flush() {
    ALB_TRY(requireOpen());
    return table_->flush();
}

// ---------------------------------------------------------------------------------------------
// Display

void Cursor::disableControls() { ++disabled_; }

void Cursor::enableControls() {
    if (disabled_ > 0 && --disabled_ == 0 && pending_) {
        pending_ = false;
        emit changed();
    }
}

void Cursor::notify() {
    if (disabled_ > 0) {
        pending_ = true;
        return;
    }
    emit changed();
}

void Cursor::refresh() {
    // Every move and search catches up first and returns what stops it; this only redraws.
    (void)catchUp();
    if (table_ && recno_) {
        std::string fresh;
        if (table_->readRecord(recno_, fresh)) {
            rec_ = std::move(fresh);
            recStamp_ = table_->changeStamp();
        }
    }
    notify();
}

}  // namespace albumora::store
