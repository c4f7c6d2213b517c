// F1 in any window opens that window's help page, as its Help button does: the main window's
// F1 does not reach a dialog in front of it.
#pragma once

#include <QAbstractButton>
#include <QKeySequence>
#include <QShortcut>

namespace albumora::platform {

inline void bindHelpKey(QWidget* window, QAbstractButton* help) {
    auto* key = new QShortcut(QKeySequence(Qt::Key_F1), window);
    key->setObjectName(QStringLiteral("HelpKey"));
    key->setContext(Qt::WindowShortcut);
    QObject::connect(key, &QShortcut::activated, help, &QAbstractButton::click);
}

}  // namespace albumora::platform
