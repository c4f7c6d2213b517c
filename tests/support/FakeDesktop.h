// Scripted stand-ins for the desktop interfaces: every text shown is recorded, and answers are
// given from a queue the test fills beforehand. An unscripted question fails the test.
#pragma once

#include "Prompts.h"

#include <gtest/gtest.h>

#include <deque>
#include <variant>

namespace albumora::test {

class FakePrompts : public platform::Prompts {
public:
    struct Shown {
        QString kind;  // "error", "message", "information", "confirm", "okCancel", "input", "openFile", ...
        QString text;
    };
    std::vector<Shown> shown;
    // Answers in the order the questions come: bool for confirm/okCancel, an optional text for
    // input and the pickers.
    std::deque<std::variant<bool, std::optional<QString>>> answers;

    void answer(bool yes) { answers.emplace_back(yes); }
    void answer(std::optional<QString> text) { answers.emplace_back(std::move(text)); }

    QStringList texts(const QString& kind = {}) const {
        QStringList out;
        for (const Shown& s : shown)
            if (kind.isEmpty() || s.kind == kind) out << s.text;
        return out;
    }
    QString last() const { return shown.empty() ? QString() : shown.back().text; }

    void error(const QString& t) override { shown.push_back({QStringLiteral("error"), t}); }
    void message(const QString& t) override { shown.push_back({QStringLiteral("message"), t}); }
    void information(const QString& t) override { shown.push_back({QStringLiteral("information"), t}); }
    bool confirm(const QString& t) override { return nextBool(QStringLiteral("confirm"), t); }
    bool okCancel(const QString& t) override { return nextBool(QStringLiteral("okCancel"), t); }
    std::optional<QString> input(const QString& caption, const QString& prompt, const QString& initial) override {
        return nextText(QStringLiteral("input"), caption + QLatin1Char('|') + prompt + QLatin1Char('|') + initial);
    }
    std::optional<QString> openFile(const QString& caption, const QString& folder, const QString& filter) override {
        return nextText(QStringLiteral("openFile"), caption + QLatin1Char('|') + folder + QLatin1Char('|') + filter);
    }
    std::optional<QString> saveFile(const QString& caption, const QString& folder, const QString& filter) override {
        return nextText(QStringLiteral("saveFile"), caption + QLatin1Char('|') + folder + QLatin1Char('|') + filter);
    }
    // Answered with one text holding the files separated by "|".
    QStringList openFiles(const QString& caption, const QString& folder, const QString& filter) override {
        auto files = nextText(QStringLiteral("openFiles"), caption + QLatin1Char('|') + folder + QLatin1Char('|') + filter);
        return files ? files->split(QLatin1Char('|'), Qt::SkipEmptyParts) : QStringList();
    }
    std::optional<QString> folder(const QString& caption, const QString& start) override {
        return nextText(QStringLiteral("folder"), caption + QLatin1Char('|') + start);
    }
    std::optional<QString> font(const QString& current) override { return nextText(QStringLiteral("font"), current); }

private:
    bool nextBool(const QString& kind, const QString& t) {
        shown.push_back({kind, t});
        if (answers.empty() || !std::holds_alternative<bool>(answers.front())) {
            ADD_FAILURE() << "unscripted " << kind.toStdString() << ": " << t.toStdString();
            return false;
        }
        bool v = std::get<bool>(answers.front());
        answers.pop_front();
        return v;
    }
    std::optional<QString> nextText(const QString& kind, const QString& t) {
        shown.push_back({kind, t});
        if (answers.empty() || !std::holds_alternative<std::optional<QString>>(answers.front())) {
            ADD_FAILURE() << "unscripted " << kind.toStdString() << ": " << t.toStdString();
            return std::nullopt;
        }
        const std::optional<QString>& front = std::get<std::optional<QString>>(answers.front());
        const QString value = front.value_or(QString());
        const bool given = front.has_value();
        answers.pop_front();
        if (!given) return std::nullopt;
        return value;
    }
};

class FakeClipboard : public platform::Clipboard {
public:
    QString content;
    QString text() const override { return content; }
    void setText(const QString& t) override { content = t; }
    void clear() override { content.clear(); }
};

class FakeLauncher : public platform::Launcher {
public:
    QStringList opened;
    std::vector<std::pair<QString, QStringList>> started;
    bool succeed = true;
    bool open(const QString& u) override {
        opened << u;
        return succeed;
    }
    bool start(const QString& p, const QStringList& a) override {
        started.emplace_back(p, a);
        return succeed;
    }
};

// Installs the fakes for the lifetime of a test.
struct FakeDesktop {
    FakePrompts prompts;
    FakeClipboard clipboard;
    FakeLauncher launcher;
    platform::Desktop saved;
    FakeDesktop() : saved(platform::desktop()) { platform::desktop() = {&prompts, &clipboard, &launcher}; }
    ~FakeDesktop() { platform::desktop() = saved; }
};

}  // namespace albumora::test
