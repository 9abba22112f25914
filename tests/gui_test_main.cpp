// The window tests' main: widgets need a QApplication, not the
// QCoreApplication of the other tests.
#include <QApplication>

#include <gtest/gtest.h>

#include "app/gui/french_interface.h"

int main(int argc, char **argv) {
    // Offscreen unless told otherwise: the tests (and CTest listing them) need no display.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Parlivo"));
    useFrenchInterface();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
