// Driving modal windows from a test: the test arms a handler, then triggers what opens the
// window; the handler runs inside the window's event loop and closes it. The handler is
// disarmed when it goes out of scope, so one that never fired cannot catch a later window.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

namespace albumora::test {

class OnNextModal {
public:
    explicit OnNextModal(std::function<void(QWidget*)> fn) : fn_(std::move(fn)) {
        timer_ = new QTimer;
        timer_->setInterval(5);
        QObject::connect(timer_, &QTimer::timeout, [this] {
            QWidget* w = QApplication::activeModalWidget();
            if (!w) return;
            timer_->stop();
            fired_ = true;
            fn_(w);
        });
        timer_->start();
    }
    ~OnNextModal() { delete timer_; }
    OnNextModal(const OnNextModal&) = delete;
    OnNextModal& operator=(const OnNextModal&) = delete;
    bool fired() const { return fired_; }

private:
    std::function<void(QWidget*)> fn_;
    QTimer* timer_;
    bool fired_ = false;
};

template <class T>
T* child(QWidget* w, const QString& name) {
    return w ? w->findChild<T*>(name) : nullptr;
}

}  // namespace albumora::test
