#pragma once

#include <QApplication>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

// Runs action on the next modal window of type T once it is up, from a timer inside its
// loop. Unlike whenModal it waits for that type: a window that is already modal (the
// configuration window itself) is passed over.
template <class T> void whenDialog(std::function<void(T*)> action) {
    auto* timer = new QTimer;
    timer->setInterval(5);
    auto sightings = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [timer, action, sightings] {
        auto* window = dynamic_cast<T*>(QApplication::activeModalWidget());
        if (!window || !window->isVisible()) {
            *sightings = 0;
            return;
        }
        // Seen on two ticks, the window is inside its own loop.
        if (++*sightings < 2)
            return;
        timer->stop();
        timer->deleteLater();
        action(window);
    });
    timer->start();
}

// Processes events until condition holds or about limitMs have passed; the result of
// condition at the end.
template <class Condition> bool processUntil(Condition condition, int limitMs = 30000) {
    for (int waited = 0; waited < limitMs; waited += 5) {
        if (condition())
            return true;
        QApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(5);
    }
    return condition();
}
