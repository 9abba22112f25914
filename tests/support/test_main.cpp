#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char **argv) {
    // Engine code needs an application object for timers, processes and the network.
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
