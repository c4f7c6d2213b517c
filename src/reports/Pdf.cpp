#include "Pdf.h"

#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QSaveFile>

namespace albumora::reports {

store::Status WritePdf(const Document& doc, const QString& path, const std::function<bool(int, int)>& pageDone) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return store::Status(store::ErrorKind::IoError, QStringLiteral("Cannot create %1: %2").arg(path, file.errorString()), path);
    {
        QPdfWriter pdf(&file);
        pdf.setTitle(doc.jobTitle);
        pdf.setCreator(QStringLiteral("Albumora"));
        pdf.setResolution(300);
        // The layout holds the margins; the writer paints on the whole sheet.
        pdf.setPageLayout(QPageLayout(QPageSize(QPageSize::Letter), QPageLayout::Portrait, QMarginsF(0, 0, 0, 0)));
        bool stopped = false;
        PaintDocument(doc, pdf, [&](int done, int total) {
            stopped = pageDone && !pageDone(done, total);
            return !stopped;
        });
        if (stopped) {
            file.cancelWriting();
            return store::Status(store::ErrorKind::IoError, QStringLiteral("Stopped: %1 was not written").arg(path), path);
        }
    }
    if (!file.commit())
        return store::Status(store::ErrorKind::IoError, QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()), path);
    return {};
}

}  // namespace albumora::reports
