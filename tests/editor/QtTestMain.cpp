// The main of the window tests: GoogleTest inside a QApplication on the offscreen platform.

#include "QtTestSupport.h"

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdlib>
#include <memory>
#include <gtest/gtest.h>

void whenModal(std::function<void(QDialog*)> action) {
    auto* timer = new QTimer;
    timer->setInterval(5);
    // Acting on the first sight could run inside the dialog's show(), before exec() has
    // entered its loop: a done() there would leave exec() waiting for ever. Seen visible
    // on two ticks, the dialog is inside its loop.
    auto sightings = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [timer, action, sightings] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible()) {
            *sightings = 0;
            return;
        }
        if (++*sightings < 2)
            return;
        timer->stop();
        timer->deleteLater();
        action(dialog);
    });
    timer->start();
}

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    // What windows remember goes to a folder of the run's own, not the user's.
    QTemporaryDir remembered;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, remembered.path());
    return RUN_ALL_TESTS();
}
