// The desktop interfaces over Qt Widgets: message boxes, input and file dialogs, the system
// clipboard, QDesktopServices and detached processes.
#pragma once

#include "Prompts.h"

class QWidget;

namespace albumora::platform {

class QtPrompts : public Prompts {
public:
    void error(const QString& text) override;
    void message(const QString& text) override;
    void information(const QString& text) override;
    bool confirm(const QString& text) override;
    bool okCancel(const QString& text) override;
    std::optional<QString> input(const QString& caption, const QString& prompt, const QString& initial) override;
    std::optional<QString> openFile(const QString& caption, const QString& folder, const QString& filter) override;
    std::optional<QString> saveFile(const QString& caption, const QString& folder, const QString& filter) override;
    QStringList openFiles(const QString& caption, const QString& folder, const QString& filter) override;
    std::optional<QString> folder(const QString& caption, const QString& start) override;
    std::optional<QString> font(const QString& current) override;
};

class QtClipboard : public Clipboard {
public:
    QString text() const override;
    void setText(const QString& text) override;
    void clear() override;
};

class QtLauncher : public Launcher {
public:
    bool open(const QString& urlOrPath) override;
    bool start(const QString& program, const QStringList& arguments) override;
};

// Message texts use "\r" as line break; Qt wants "\n".
QString displayText(const QString& text);
// "Programs (*.exe)|*.exe|All Files (*.*)|*.*" → "Programs (*.exe *.EXE *.Exe);;All Files (*)":
// the patterns of each pair, in lower, upper and capitalised case.
QString qtFilter(const QString& filter);

}  // namespace albumora::platform
