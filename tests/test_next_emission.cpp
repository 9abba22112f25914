// Waiting for a signal in a coroutine: a signal emitted twice before the
// waiter runs must wake it once, and never wake a later wait.
#include <gtest/gtest.h>

#include <QObject>

#include "core/next_emission.h"
#include "support/test_support.h"

using namespace testing_support;

TEST(NextEmission, TwoEmissionsBeforeTheWaiterRunsWakeItOnceAndNotTheWaitAfter) {
    QObject source;
    int wakes = 0;
    auto waitTwice = [&]() -> QCoro::Task<> {
        co_await nextEmission(&source, &QObject::objectNameChanged);
        ++wakes;
        co_await nextEmission(&source, &QObject::objectNameChanged);
        ++wakes;
    };
    QCoro::Task<> waiting = waitTwice();
    // Both before the event loop runs, as two servers freed in one instant.
    source.setObjectName(QStringLiteral("un"));
    source.setObjectName(QStringLiteral("deux"));
    spin(50);
    EXPECT_EQ(wakes, 1);
    source.setObjectName(QStringLiteral("trois"));
    spin(50);
    EXPECT_EQ(wakes, 2);
}

TEST(NextEmission, ASourceAlreadyGoneIsNotWaitedFor) {
    auto source = std::make_unique<QObject>();
    QPointer<QObject> gone(source.get());
    source.reset();
    bool done = false;
    auto wait = [&]() -> QCoro::Task<> {
        co_await nextEmission(gone.data(), &QObject::objectNameChanged);
        done = true;
    };
    QCoro::Task<> waiting = wait();
    EXPECT_TRUE(done);
}
