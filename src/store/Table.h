// One open table: its DBF, FPT memo and CDX compound index, shared by every cursor of this
// process that opens the same file, so that a write through one cursor is seen by the others
// and every tag is kept current on each append, edit and delete.
//
// Crash safety. Every change of rows, memos and index pages is part of a write of the folder
// (Journal.h): held in memory until its commit, which journals the bytes it replaces first, so
// that a crash, a refused write or a full disk leaves the files as they were before the write.
// A change made outside an explicit Transaction starts a write that the next flush commits.
// A table that opens with its header's "index lags" mark set (left by an older version, or by a
// change made while the index could not be kept) has an index that may not match its rows: the
// index is reported stale and rebuilt from the rows. Pack, reindex and tag creation write new
// files beside the old ones and rename them into place, holding the folder's writers' lock;
// pack lists its renames in a journal first, so a crash between them is finished at the next
// open.
#pragma once

#include "DbfFile.h"
#include "Expression.h"
#include "IndexFile.h"
#include "Journal.h"
#include "MemoFile.h"
#include "Status.h"

#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace albumora::store {

enum class OpenMode { Shared, Exclusive };

// Parses a field-list text: entries "name,type[,length];", types Char, Memo, logical (and
// Numeric, Date) in any case.
Result<std::vector<FieldDef>> parseFieldList(const QString& text);

// The index files that belong to a table (same name, extension .CDX / .FPT), whatever the case
// of the names on disk.
QString indexPathFor(const QString& dbfPath);
QString memoPathFor(const QString& dbfPath);

class Table : public std::enable_shared_from_this<Table> {
public:
    struct Tag {
        QString name;
        QString keyExpr;
        QString forExpr;
        Tree* tree = nullptr;
        Expression key;
        std::optional<Expression> condition;
        Status usable;  // why the tag cannot be used, when its expressions do not compile
        bool single = false;  // a separate single-order index file
        // Widths of the text parts of a key joined by "+" ("ID+NR": 8, 3), for seeks on several
        // values; 0 for a part that is not text.
        std::vector<int> partWidths;
    };

    ~Table();
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;

    // Opens a table, or shares the copy another cursor of this process holds open.
    static Result<std::shared_ptr<Table>> open(const QString& path, OpenMode mode);
    // Creates an empty table (with its memo file when it has memo fields), replacing any old one.
    static Status create(const QString& path, const std::vector<FieldDef>& fields);
    // Whether this process has the table open (through any cursor).
    static bool isOpenInProcess(const QString& path);

    const QString& path() const { return path_; }
    OpenMode mode() const { return mode_; }
    const std::vector<FieldDef>& fields() const { return dbf_->fields(); }
    int fieldIndex(const QString& name) const;
    std::uint32_t recordCount() const { return dbf_->recordCount(); }
    DbfFile& dbf() { return *dbf_; }
    // Incremented by every change of rows or structure; cursors compare it to notice them.
    std::uint64_t changeStamp() const { return changeStamp_; }
    // Incremented whenever the list of tags is rebuilt (tag pointers held elsewhere go stale).
    std::uint64_t tagsStamp() const { return tagsStamp_; }

    // The problem with the index file, if any: missing, stale (lags behind the rows) or unreadable.
    const Status& indexProblem() const { return indexProblem_; }
    bool hasIndexFile() const { return cdx_ != nullptr; }
    std::vector<const Tag*> tags() const;
    const Tag* tag(const QString& name) const;  // without regard to case

    Status readRecord(std::uint32_t recno, std::string& out) { return dbf_->readRecord(recno, out); }
    // Rows a walk in index order will read next, fetched in file order (DbfFile::prefetch).
    Status prefetch(const std::vector<std::uint32_t>& recnos) { return dbf_->prefetch(recnos); }
    bool prefetched(std::uint32_t recno) const { return dbf_->prefetched(recno); }
    std::size_t prefetchCapacity() const { return std::max<std::size_t>(1, DbfFile::kWindowBytes / std::size_t(dbf_->recordLength())); }
    Result<std::string> readMemo(std::uint32_t block);
    // The memo block a memo field of a raw record points at.
    static std::uint32_t memoBlock(const FieldDef& f, const char* record);
    // The bytes a memo field holds to point at a block (0: no memo).
    static std::string memoReference(const FieldDef& f, std::uint32_t block);
    std::function<Result<std::string>(std::uint32_t)> memoReader();

    // Writes. Records carry their memo block numbers; writeMemo stores a text first.
    Result<std::uint32_t> writeMemo(const std::string& text);
    Result<std::uint32_t> appendRecord(const std::string& record);
    Status updateRecord(std::uint32_t recno, const std::string& record);
    Status setDeleted(std::uint32_t recno, bool deleted);
    Status flush();

    // Index structure. Each replaces files through a temporary copy.
    Status createTag(const QString& name, const QString& keyExpr, const QString& forExpr = {});
    // Creates several tags in one pass over the rows, in the order given.
    Status createTags(const std::vector<std::pair<QString, QString>>& defs);
    Status dropTag(const QString& name);
    // Rebuilds every tag of the index file from the rows.
    Status reindex();
    // Drops every tag and rebuilds with the given definitions (name, key expression).
    Status recreateIndex(const std::vector<std::pair<QString, QString>>& tags);
    // Drops deleted rows, compacts the memo file and rebuilds the index. Needs exclusive use.
    Status pack();
    // Renames several complete, synced files into place as one step across a crash: they are
    // listed in the pack journal of dbfPath first, and the next open of that table finishes
    // renames a crash cut short (a restore replaces a whole collection so). The caller holds
    // the folder's writers' lock and no table of this process has the files open.
    static Status replaceFilesTogether(const QString& dbfPath, const std::vector<std::pair<QString, QString>>& renames);
    // Finishes a pack or a replacement of files that a crash interrupted between its renames.
    static Status finishInterruptedRenames(const QString& dbfPath);

    // The cheap structural checks of every tag of the index file (Tree::checkEdges), for the
    // opening of a collection.
    Status checkIndexShape();
    // Whether a failed read was the index file's fault: its bytes break the format.
    bool isIndexDamage(const Status& st) const;
    // An index is derived data: a read that met a damaged page rebuilds the whole index file
    // from the rows, telling the status reporter while it works. Fails (naming the damage)
    // when the table cannot be rebuilt now, for instance while another program has it open.
    Status repairIndex(const Status& damage);
    // Where the engine's own status texts go (the main window's status bar, the CLI's stderr).
    static void setStatusReporter(std::function<void(const QString&)> reporter);
    static void reportStatus(const QString& text);

    // A separate single-order index file, kept current while it is open.
    Status createIndexFile(const QString& path, const QString& keyExpr);
    Result<const Tag*> openIndexFile(const QString& path);
    // Closed in any case; the error is that of the pending write it had to land first.
    Status closeIndexFile(const QString& path);

    // Copies: an empty table of the same structure, or one holding the given rows.
    Status copyStructure(const QString& destPath) const;
    Status copyRows(const QString& destPath, const std::vector<std::uint32_t>& recnos);

    // Compiles an expression against this table's fields (and any extra fields).
    Result<Expression> compile(const QString& text, const FieldResolver& extra = {}) const;
    EvalContext context(const std::string& record, std::uint32_t recno);

    // Number of rows marked deleted (counted once, then kept current).
    Result<std::uint32_t> deletedCount();

    // For the folder's writes: the files whose changes a commit journals, their names, and the
    // reload that brings headers, memo pointers and index pages back in line with the disk.
    std::vector<File*> journaledFiles();
    std::vector<QString> fileNames() const;
    Status reloadFromDisk();
    void markCommitted() {
        dirty_ = false;
        retired_.clear();
    }
    Folder* folder() const { return folder_.get(); }

private:
    Table() = default;
    Status openFiles();
    Status loadTags();
    Status compactMemosToFront(std::uint32_t from, std::uint32_t to, std::uint32_t blocks);
    void closeFiles();
    Status beginChange();
    struct StructureChange;
    Status indexRecord(std::uint32_t recno, const std::string* oldRec, const std::string* newRec);
    std::vector<Tag*> maintainedTags();
    struct TagBuild;
    Status compileTagBuild(TagBuild& b) const;
    Status writeTagBuild(TagBuild& b, const QString& target) const;
    Status rebuildCdx(const std::vector<std::pair<QString, QString>>& defs, const std::vector<QString>& forExprs,
                      const QString& target);
    Status reopenAfterReplace();

    QString path_;
    OpenMode mode_ = OpenMode::Shared;
    std::unique_ptr<DbfFile> dbf_;
    std::unique_ptr<MemoFile> memo_;
    std::unique_ptr<IndexFile> cdx_;
    std::vector<std::unique_ptr<Tag>> tags_;
    struct Single {
        QString path;
        std::unique_ptr<IndexFile> file;
        std::unique_ptr<Tag> tag;
    };
    std::vector<Single> singles_;
    std::vector<std::unique_ptr<IndexFile>> retired_;  // closed during a write that has not landed
    std::shared_ptr<Folder> folder_;
    Status indexProblem_;
    bool dirty_ = false;
    std::uint64_t changeStamp_ = 1;
    std::uint64_t tagsStamp_ = 0;
    void describeParts(Tag& tag) const;
    std::optional<std::uint32_t> deleted_;
};

}  // namespace albumora::store
