// The desktop program: one copy per user, the data folder, the data module and the main window.
#include "DataFolder.h"
#include "DiscGlue.h"
#include "QtDesktop.h"
#include "SingleInstance.h"
#include "StartUp.h"
#include "mdF.h"

#include <QApplication>
#include <QFileInfo>
#include <QIcon>

using namespace albumora;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Albumora"));
    QIcon icon = QIcon::fromTheme(QStringLiteral("albumora"));
    for (const QString& folder : shell::ShippedDataFolders())
        if (icon.isNull() && QFileInfo::exists(folder + QStringLiteral("/albumora.png"))) icon = QIcon(folder + QStringLiteral("/albumora.png"));
    QApplication::setWindowIcon(icon);

    platform::QtPrompts prompts;
    platform::QtClipboard clipboard;
    platform::QtLauncher launcher;
    platform::desktop() = {&prompts, &clipboard, &launcher};

    shell::SingleInstance guard;
    if (!shell::EnsureSingleInstance(guard, &prompts)) return 0;
    auto folder = store::ResolveDataFolder(QString(), QCoreApplication::applicationDirPath());
    if (!folder) {
        prompts.error(folder.error().text());
        return 1;
    }
    shell::InstallShippedData(*folder);

    disc::Session session(*folder);
    shell::TForm1 form(session, shell::MakeDiscServices);
    if (form.settings().wstate == 1)
        form.show();
    else
        form.showMaximized();
    return app.exec();
}
