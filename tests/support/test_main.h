#pragma once

// The main function of a headless test program: widgets render offscreen unless a display
// was chosen on purpose.

#include <QApplication>
#include <QtTest>

#include "platform/event_loop.h"

#define FRAMEWELL_TEST_MAIN(TestClass)                                     \
    int main(int argc, char* argv[]) {                                     \
        platform::UseQtEventLoop();                                        \
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))                \
            qputenv("QT_QPA_PLATFORM", "offscreen");                       \
        QApplication application(argc, argv);                              \
        application.setAttribute(Qt::AA_Use96Dpi, true);                   \
        TestClass test;                                                    \
        QTEST_SET_MAIN_SOURCE_PATH                                         \
        return QTest::qExec(&test, argc, argv);                            \
    }
