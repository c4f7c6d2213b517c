// The buttons every window makes the same way: named by their objectName, with an optional
// tooltip, never a default button by accident (Enter belongs to the window's default button).
#pragma once

#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QWidget>

namespace albumora::platform {

inline QPushButton* MakeButton(QWidget* parent, const QString& name, const QString& text, const QString& hint = {}) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(name);
    if (!hint.isEmpty()) b->setToolTip(hint);
    b->setAutoDefault(false);
    return b;
}

// A small icon button (the filter boxes' clear and remove buttons).
inline QToolButton* MakeSpeedButton(QWidget* parent, const QString& name, const QString& hint, QStyle::StandardPixmap icon) {
    auto* b = new QToolButton(parent);
    b->setObjectName(name);
    b->setToolTip(hint);
    b->setIcon(parent->style()->standardIcon(icon));
    return b;
}

}  // namespace albumora::platform
