// The dialogs need an application object; the tests run without a display.

#include "util/Log.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    // The learning runs log a line per message; the tests read results, not logs.
    setLogToStderr(false);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
