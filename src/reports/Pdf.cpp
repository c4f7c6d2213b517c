#include "Pdf.h"

#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QSaveFile>

namespace albumora::reports {

store::Status WritePdf(const Document& doc, const QString& path) {
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
        PaintDocument(doc, pdf);
    }
    if (!file.commit())
        return store::Status(store::ErrorKind::IoError, QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()), path);
    return {};
}

}  // namespace albumora::reports
