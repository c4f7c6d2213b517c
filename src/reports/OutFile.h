// One text output file in Windows-1252: written in large blocks to a new file beside its final
// name, put in place by commit(). Until then the last good file of that name stays as it was.
#pragma once

#include "Codepage.h"
#include "ExportFormat.h"
#include "Status.h"

#include <QFileInfo>
#include <QSaveFile>
#include <QString>

#include <string>

namespace albumora::reports {

class OutFile {
public:
    explicit OutFile(const QString& path) : file_(path) {}
    store::Status open() {
        if (!file_.open(QIODevice::WriteOnly))
            return store::Status(store::ErrorKind::IoError, QStringLiteral("Cannot create %1: %2").arg(file_.fileName(), file_.errorString()),
                                 file_.fileName());
        return {};
    }
    store::Status line(const QString& text) { return put(text + kLineEnd); }
    store::Status put(const QString& text) {
        buffer_ += store::toCp1252(text);
        return buffer_.size() >= kBlock ? drain() : store::Status();
    }
    store::Status commit() {
        ALB_TRY(drain());
        if (!file_.commit())
            return store::Status(store::ErrorKind::IoError, QStringLiteral("Cannot write %1: %2").arg(file_.fileName(), file_.errorString()),
                                 file_.fileName());
        return {};
    }
    QString path() const { return QFileInfo(file_.fileName()).absoluteFilePath(); }

private:
    static constexpr size_t kBlock = 1 << 20;
    store::Status drain() {
        if (buffer_.empty()) return {};
        const qint64 n = file_.write(buffer_.data(), qint64(buffer_.size()));
        buffer_.clear();
        if (n < 0)
            return store::Status(store::ErrorKind::IoError, QStringLiteral("Cannot write %1: %2").arg(file_.fileName(), file_.errorString()),
                                 file_.fileName());
        return {};
    }
    QSaveFile file_;
    std::string buffer_;
};

}  // namespace albumora::reports
