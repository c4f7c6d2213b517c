#include "QtDesktop.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QProcess>
#include <QUrl>

namespace albumora::platform {
namespace {

QWidget* parentWindow() { return QApplication::activeWindow(); }

QString title() { return QStringLiteral("Albumora"); }

}  // namespace

QString displayText(const QString& text) {
    QString t = text;
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return t;
}

QString qtFilter(const QString& filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        // Qt takes the patterns from the label's last parentheses, separated by blanks, and
        // matches them with the file system's case: the pattern half of each pair ("*.JP*;*.BMP")
        // becomes that list, each pattern in lower, upper and capitalised case ("*.jp*",
        // "*.JP*", "*.Jp*"), since Linux file names are not folded.
        QString label = parts[i].trimmed();
        const qsizetype open = label.lastIndexOf(QLatin1Char('('));
        if (open > 0 && label.endsWith(QLatin1Char(')'))) label = label.left(open).trimmed();
        QStringList patterns;
        for (QString p : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            p = p.trimmed();
            if (p == QLatin1String("*.*")) p = QStringLiteral("*");
            QString capital = p.toLower();
            const qsizetype dot = capital.lastIndexOf(QLatin1Char('.'));
            if (dot >= 0 && dot + 1 < capital.size()) capital[dot + 1] = capital[dot + 1].toUpper();
            for (const QString& v : {p.toLower(), p.toUpper(), capital})
                if (!patterns.contains(v)) patterns << v;
        }
        out << label + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return out.isEmpty() ? filter : out.join(QStringLiteral(";;"));
}

void QtPrompts::error(const QString& text) { QMessageBox::critical(parentWindow(), title(), displayText(text)); }

void QtPrompts::message(const QString& text) { QMessageBox::information(parentWindow(), title(), displayText(text)); }

void QtPrompts::information(const QString& text) { QMessageBox::warning(parentWindow(), title(), displayText(text)); }

bool QtPrompts::confirm(const QString& text) {
    return QMessageBox::question(parentWindow(), title(), displayText(text), QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
}

bool QtPrompts::okCancel(const QString& text) {
    return QMessageBox::question(parentWindow(), title(), displayText(text), QMessageBox::Ok | QMessageBox::Cancel) ==
           QMessageBox::Ok;
}

std::optional<QString> QtPrompts::input(const QString& caption, const QString& prompt, const QString& initial) {
    bool ok = false;
    QString v = QInputDialog::getText(parentWindow(), caption, displayText(prompt), QLineEdit::Normal, initial, &ok);
    if (!ok) return std::nullopt;
    return v;
}

std::optional<QString> QtPrompts::openFile(const QString& caption, const QString& folder, const QString& filter) {
    QString f = QFileDialog::getOpenFileName(parentWindow(), caption, folder, qtFilter(filter));
    if (f.isEmpty()) return std::nullopt;
    return f;
}

std::optional<QString> QtPrompts::saveFile(const QString& caption, const QString& folder, const QString& filter) {
    QString f = QFileDialog::getSaveFileName(parentWindow(), caption, folder, qtFilter(filter));
    if (f.isEmpty()) return std::nullopt;
    return f;
}

QStringList QtPrompts::openFiles(const QString& caption, const QString& folder, const QString& filter) {
    return QFileDialog::getOpenFileNames(parentWindow(), caption, folder, qtFilter(filter));
}

std::optional<QString> QtPrompts::folder(const QString& caption, const QString& start) {
    QString f = QFileDialog::getExistingDirectory(parentWindow(), caption, start);
    if (f.isEmpty()) return std::nullopt;
    return f;
}

std::optional<QString> QtPrompts::font(const QString& current) {
    QFont f;
    f.fromString(current);
    bool ok = false;
    QFont chosen = QFontDialog::getFont(&ok, f, parentWindow());
    if (!ok) return std::nullopt;
    return chosen.toString();
}

QString QtClipboard::text() const { return QApplication::clipboard()->text(); }
void QtClipboard::setText(const QString& text) { QApplication::clipboard()->setText(text); }
void QtClipboard::clear() { QApplication::clipboard()->clear(); }

bool QtLauncher::open(const QString& urlOrPath) {
    QUrl url = QUrl::fromUserInput(urlOrPath);
    if (QFileInfo::exists(urlOrPath)) url = QUrl::fromLocalFile(QFileInfo(urlOrPath).absoluteFilePath());
    return QDesktopServices::openUrl(url);
}

bool QtLauncher::start(const QString& program, const QStringList& arguments) {
    return QProcess::startDetached(program, arguments);
}

}  // namespace albumora::platform
