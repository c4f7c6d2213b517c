// Helpers shared by the tests: temporary folders, the shared test data, child processes.
#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include "Status.h"

#include <gtest/gtest.h>

#include <ostream>

// Asserts (or expects) that an engine call succeeded, showing the call and the engine's message;
// the call may give a Status or a Result.
namespace albumora::test::detail {
inline const albumora::store::Status& statusOf(const albumora::store::Status& s) { return s; }
template <class T>
albumora::store::Status statusOf(const albumora::store::Result<T>& r) {
    return r.status();
}
}  // namespace albumora::test::detail
#define ASSERT_STORE_OK(expr)                                                                          \
    do {                                                                                               \
        const albumora::store::Status st_ = albumora::test::detail::statusOf(expr);                    \
        ASSERT_TRUE(st_.isOk()) << #expr << ": " << st_.text().toStdString();                         \
    } while (0)
#define EXPECT_STORE_OK(expr)                                                                          \
    do {                                                                                               \
        const albumora::store::Status st_ = albumora::test::detail::statusOf(expr);                    \
        EXPECT_TRUE(st_.isOk()) << #expr << ": " << st_.text().toStdString();                         \
    } while (0)

// Readable failure messages for Qt strings.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
inline void PrintTo(const QStringList& l, std::ostream* os) {
    *os << '{';
    for (qsizetype i = 0; i < l.size(); ++i) *os << (i ? ", \"" : "\"") << l[i].toStdString() << '"';
    *os << '}';
}

namespace albumora::test {

// A fresh folder removed at the end of the test.
class TempFolder {
public:
    TempFolder();
    const QString& path() const { return path_; }
    QString file(const QString& name) const;

private:
    QTemporaryDir dir_;
    QString path_;
};

// ../shared/testdata and ../shared/tools, or an empty string when they are absent.
QString sharedTestData();
QString sharedTools();

struct ProcessResult {
    int exitCode = -1;
    bool crashed = false;
    QString out;
    QString err;
};
ProcessResult runProcess(const QString& program, const QStringList& args, int timeoutMs = 120000,
                         const QString& workingDir = {});
// Debian's interpreter, which has python3-dbf and python3-dbfread (the first on PATH may not).
QString systemPython();
ProcessResult runPython(const QString& script, const QStringList& args = {});
ProcessResult runCli(const QStringList& args);
// Runs the independent CDX reader over an index file and its table.
ProcessResult cdxcheck(const QString& cdx, const QString& dbf);

// Copies a file of the shared test data into a folder (so tests may write to it).
QString copyTestFile(const QString& relative, const QString& toFolder);

// A file's bytes (empty when it cannot be read), and a file replaced by bytes.
QByteArray fileBytes(const QString& path);
bool writeFileBytes(const QString& path, const QByteArray& bytes);

}  // namespace albumora::test

#define SKIP_WITHOUT_TESTDATA()                                                                      \
    do {                                                                                             \
        if (::albumora::test::sharedTestData().isEmpty())                                            \
            GTEST_SKIP() << "../shared/testdata is absent: the tests against files of other programs are skipped"; \
    } while (0)
