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
    // `besides`: a modal window already open that the handler must wait past (a window that
    // opens another one at once, before the test gets control back).
    explicit OnNextModal(std::function<void(QWidget*)> fn, QWidget* besides = nullptr) : fn_(std::move(fn)), besides_(besides) {
        timer_ = new QTimer;
        timer_->setInterval(5);
        QObject::connect(timer_, &QTimer::timeout, [this] {
            QWidget* w = QApplication::activeModalWidget();
            if (!w || (besides_ && w == besides_)) return;
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
    QPointer<QWidget> besides_;
    QTimer* timer_;
    bool fired_ = false;
};

template <class T>
T* child(QWidget* w, const QString& name) {
    return w ? w->findChild<T*>(name) : nullptr;
}

}  // namespace albumora::test
