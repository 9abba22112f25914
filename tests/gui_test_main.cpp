// The window tests' main: widgets need a QApplication, not the
// QCoreApplication of the other tests.
#include <QApplication>

#include <gtest/gtest.h>

#include "app/gui/french_interface.h"

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Parlivo"));
    useFrenchInterface();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
