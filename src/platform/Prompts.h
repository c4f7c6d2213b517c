// The small desktop interfaces every window goes through: message boxes and pickers, the
// clipboard, and starting other programs. The desktop program uses the Qt implementations;
// tests use scripted fakes that record what was shown and give the answers they were told to.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace albumora::platform {

class Prompts {
public:
    enum class Answer { Yes, No, Ok, Cancel };
    virtual ~Prompts() = default;

    // An error box with one OK button, for refusals and failures.
    virtual void error(const QString& text) = 0;
    // A plain message box, for results.
    virtual void message(const QString& text) = 0;
    // An information box (OK only) for warnings that change nothing.
    virtual void information(const QString& text) = 0;
    // A Yes/No question.
    virtual bool confirm(const QString& text) = 0;
    // An OK/Cancel question.
    virtual bool okCancel(const QString& text) = 0;
    // An input box; nothing when cancelled.
    virtual std::optional<QString> input(const QString& caption, const QString& prompt, const QString& initial) = 0;
    // File pickers; filter in the "Programs (*.exe)|*.exe|All Files (*.*)|*.*" form. Nothing when cancelled.
    virtual std::optional<QString> openFile(const QString& caption, const QString& folder, const QString& filter) = 0;
    virtual std::optional<QString> saveFile(const QString& caption, const QString& folder, const QString& filter) = 0;
    // Several files at once; an empty list when cancelled.
    virtual QStringList openFiles(const QString& caption, const QString& folder, const QString& filter) = 0;
    virtual std::optional<QString> folder(const QString& caption, const QString& start) = 0;
    // A font, as QFont::toString() text.
    virtual std::optional<QString> font(const QString& current) = 0;
};

class Clipboard {
public:
    virtual ~Clipboard() = default;
    virtual QString text() const = 0;
    virtual void setText(const QString& text) = 0;
    virtual void clear() = 0;
};

class Launcher {
public:
    virtual ~Launcher() = default;
    // Opens a web address, a streaming link or a file with the desktop's default handler.
    virtual bool open(const QString& urlOrPath) = 0;
    // Starts a program with arguments, never through a shell.
    virtual bool start(const QString& program, const QStringList& arguments) = 0;
};

// The program's one set of them; tests install their fakes here.
struct Desktop {
    Prompts* prompts = nullptr;
    Clipboard* clipboard = nullptr;
    Launcher* launcher = nullptr;
};
Desktop& desktop();

}  // namespace albumora::platform
